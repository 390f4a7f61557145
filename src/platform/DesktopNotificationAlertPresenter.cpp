#include "platform/DesktopNotificationAlertPresenter.h"

#include "platform/HeadlessAlertPresenter.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QLoggingCategory>

#include <algorithm>

Q_LOGGING_CATEGORY(lcNotificationAlert, "pellmere.alert")

namespace platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

const QString kOkAction = QStringLiteral("ok");
const QString kCancelAction = QStringLiteral("cancel");
const QString kLogAction = QStringLiteral("log");
const QString kDefaultAction = QStringLiteral("default");

// Without a Cancel button there is nothing else to answer than OK.
AlertAnswer safeAnswerOf(const AlertRequest &request)
{
    return request.cancelButton ? request.safeAnswer : AlertAnswer::Ok;
}

QString nameOf(AlertAnswer answer)
{
    return answer == AlertAnswer::Ok ? QStringLiteral("OK") : QStringLiteral("Cancel");
}

void closeNotification(QDBusConnection connection, uint id)
{
    if (id == 0)
        return;
    QDBusMessage call
        = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CloseNotification"));
    call << id;
    connection.send(call);
}

} // namespace

DesktopNotificationAlertPresenter::DesktopNotificationAlertPresenter(
    QDBusConnection connection, const QString &appName, QObject *parent)
    : QObject(parent)
    , m_connection(std::move(connection))
    , m_appName(appName)
{
    // Naming the service makes the bus library accept these signals only from the server.
    m_connection.connect(
        kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this, SLOT(onActionInvoked(uint, QString)));
    m_connection.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
        SLOT(onNotificationClosed(uint, uint)));
    auto *watcher = new QDBusServiceWatcher(kService, m_connection, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
        [this](const QString &, const QString &oldOwner, const QString &) {
            if (!oldOwner.isEmpty())
                onServerGone();
        });
}

DesktopNotificationAlertPresenter::~DesktopNotificationAlertPresenter()
{
    withdrawAll();
}

void DesktopNotificationAlertPresenter::withdrawAll()
{
    while (!m_open.empty()) {
        auto it = m_open.begin();
        closeNotification(m_connection, it->second.id);
        if (QDBusPendingCallWatcher *posting = it->second.posting) {
            // Still being posted: withdraw it once the server tells its id, after we are gone.
            posting->disconnect(this);
            posting->setParent(nullptr);
            connect(posting, &QDBusPendingCallWatcher::finished, posting,
                [connection = m_connection](QDBusPendingCallWatcher *finished) {
                    finished->deleteLater();
                    const QDBusPendingReply<uint> reply = *finished;
                    if (!reply.isError())
                        closeNotification(connection, reply.value());
                });
        }
        answer(it, safeAnswerOf(it->second.request), QStringLiteral("the agent stopped asking"));
    }
}

bool DesktopNotificationAlertPresenter::isAvailable(QDBusConnection connection)
{
    if (!connection.isConnected() || !connection.interface())
        return false;
    const QDBusReply<bool> reply = connection.interface()->isServiceRegistered(kService);
    return reply.isValid() && reply.value();
}

std::unique_ptr<AlertPresenter> DesktopNotificationAlertPresenter::createBest(QDBusConnection connection)
{
    if (isAvailable(connection)) {
        qCInfo(lcNotificationAlert) << "Alerts are shown as desktop notifications";
        return std::make_unique<DesktopNotificationAlertPresenter>(std::move(connection));
    }
    qCInfo(lcNotificationAlert) << "No desktop notification server on the session bus; alerts get their safe answer";
    return std::make_unique<HeadlessAlertPresenter>();
}

void DesktopNotificationAlertPresenter::present(
    const AlertRequest &request, std::function<void(AlertAnswer)> done, std::function<void()> showLog)
{
    for (auto &[key, open] : m_open) {
        if (open.request.title == request.title && open.request.message == request.message) {
            qCInfo(lcNotificationAlert).noquote()
                << QStringLiteral("Alert \"%1\": %2 -- already on screen").arg(request.title, request.message);
            open.joined.push_back(std::move(done));
            return;
        }
    }
    qCInfo(lcNotificationAlert).noquote()
        << QStringLiteral("Alert \"%1\": %2 -- asked by desktop notification").arg(request.title, request.message);
    const quint64 key = m_nextKey++;
    m_open.emplace(key, Open { request, std::move(done), std::move(showLog) });
    post(key, 0);
}

void DesktopNotificationAlertPresenter::post(quint64 key, uint replacesId)
{
    const AlertRequest &request = m_open.at(key).request;
    QStringList actions { kOkAction, tr("OK") };
    if (request.cancelButton)
        actions << kCancelAction << (request.cancelLabel.isEmpty() ? tr("Cancel") : request.cancelLabel);
    if (request.logButton)
        actions << kLogAction << tr("Show Log");
    // Resident: the log button must not take the notification away; a question that may cancel
    // is critical, so that the server does not let it expire unseen.
    const QVariantMap hints { { QStringLiteral("urgency"), QVariant::fromValue<uchar>(request.cancelButton ? 2 : 1) },
        { QStringLiteral("resident"), true } };
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << m_appName << replacesId << QString() << request.title << request.message << actions << hints << qint32(-1);
    auto *watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, key](QDBusPendingCallWatcher *finished) { onPosted(key, finished); });
    m_open.at(key).posting = watcher;
}

void DesktopNotificationAlertPresenter::onPosted(quint64 key, QDBusPendingCallWatcher *watcher)
{
    watcher->deleteLater();
    const QDBusPendingReply<uint> reply = *watcher;
    const auto it = m_open.find(key);
    if (it != m_open.end())
        it->second.posting = nullptr;
    if (it == m_open.end()) {
        // Answered while the server was still posting it again: take the stale question away.
        if (!reply.isError())
            closeNotification(m_connection, reply.value());
        return;
    }
    if (reply.isError()) {
        qCWarning(lcNotificationAlert).noquote()
            << "The notification server refused the alert:" << reply.error().message();
        answer(it, safeAnswerOf(it->second.request), QStringLiteral("the notification could not be shown"));
        return;
    }
    // The server sends its reply before any signal about the new id, and the bus keeps that
    // order, so no action or close for this id can have been missed.
    it->second.id = reply.value();
    it->second.reposting = false;
}

std::map<quint64, DesktopNotificationAlertPresenter::Open>::iterator DesktopNotificationAlertPresenter::findById(
    uint id)
{
    if (id == 0)
        return m_open.end();
    return std::find_if(m_open.begin(), m_open.end(), [id](const auto &entry) { return entry.second.id == id; });
}

void DesktopNotificationAlertPresenter::onActionInvoked(uint id, const QString &actionKey)
{
    const auto it = findById(id);
    if (it == m_open.end())
        return;
    const AlertRequest &request = it->second.request;
    if (actionKey == kLogAction && request.logButton) {
        // Post the question again first: showLog may run a while, and its id must stay known.
        it->second.reposting = true;
        post(it->first, id);
        // A copy: should showLog run a nested event loop, this request may be answered meanwhile.
        const std::function<void()> showLog = it->second.showLog;
        if (showLog)
            showLog();
        return;
    }
    AlertAnswer result;
    if (actionKey == kOkAction || actionKey == kDefaultAction)
        result = AlertAnswer::Ok;
    else if (actionKey == kCancelAction && request.cancelButton)
        result = AlertAnswer::Cancel;
    else {
        qCDebug(lcNotificationAlert) << "Ignoring unknown action" << actionKey << "on notification" << id;
        return;
    }
    // The notification is resident, so it stays on screen after the click unless withdrawn.
    closeNotification(m_connection, id);
    answer(it, result, QStringLiteral("by the user"));
}

void DesktopNotificationAlertPresenter::onNotificationClosed(uint id, uint reason)
{
    const auto it = findById(id);
    if (it == m_open.end() || it->second.reposting)
        return;
    answer(it, safeAnswerOf(it->second.request),
        QStringLiteral("the notification was closed without an answer (reason %1)").arg(reason));
}

void DesktopNotificationAlertPresenter::onServerGone()
{
    // Questions still being posted get their error reply from the bus; the shown ones never hear back.
    for (auto it = m_open.begin(); it != m_open.end();) {
        auto current = it++;
        if (current->second.id != 0 && !current->second.reposting)
            answer(current, safeAnswerOf(current->second.request), QStringLiteral("the notification server went away"));
    }
}

void DesktopNotificationAlertPresenter::answer(
    std::map<quint64, Open>::iterator it, AlertAnswer answer, const QString &how)
{
    // Out of the map before done runs: done may well present the next alert.
    Open open = std::move(it->second);
    m_open.erase(it);
    qCInfo(lcNotificationAlert).noquote()
        << QStringLiteral("Alert \"%1\" answered %2 (%3)").arg(open.request.title, nameOf(answer), how);
    if (open.done)
        open.done(answer);
    for (const auto &joined : open.joined) {
        if (joined)
            joined(answer);
    }
}

} // namespace platform
