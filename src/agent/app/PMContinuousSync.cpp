#include "agent/app/PMContinuousSync.h"

#include "agent/log/PMAgentLog.h"
#include "agent/sync/PMSyncController.h"
#include "platform/ChangeWatcher.h"
#include "platform/PlatformPaths.h"
#include "protocol/PMNotificationEmitter.h"
#include "protocol/PMNotificationSubscriber.h"

#include <QDir>
#include <QFileInfo>

namespace {
const QString kNotificationObject = QStringLiteral("com.corvane.pellmere.notifications");
}

PMContinuousSync::PMContinuousSync(ControllerList controllers, WatcherFactory makeWatcher,
    protocol::PMNotificationEmitter *emitter, protocol::PMNotificationSubscriber *subscriber, QObject *parent)
    : QObject(parent)
    , m_controllers(std::move(controllers))
    , m_makeWatcher(std::move(makeWatcher))
    , m_emitter(emitter)
    , m_subscriber(subscriber)
{
    m_continuousSyncTimer.setSingleShot(true);
    connect(&m_continuousSyncTimer, &QTimer::timeout, this, &PMContinuousSync::continuousSyncTimerFired);
}

void PMContinuousSync::setBus(protocol::PMNotificationEmitter *emitter, protocol::PMNotificationSubscriber *subscriber)
{
    const bool wasEnabled = m_enabled;
    setContinuousSyncNotificationsEnabled(false);
    m_emitter = emitter;
    m_subscriber = subscriber;
    setContinuousSyncNotificationsEnabled(wasEnabled);
}

std::unique_ptr<QObject> PMContinuousSync::makeChangeWatcher(const QString &root, ChangeCallback onChange)
{
    std::unique_ptr<platform::ChangeWatcher> watcher = platform::ChangeWatcher::create(root);
    platform::ChangeWatcher *source = watcher.get();
    QObject::connect(source, &platform::ChangeWatcher::changed, source,
        [source, onChange = std::move(onChange)](
            const QString &changed) { onChange(changed, source->takeChangedFolders()); });
    if (!watcher->start())
        return nullptr; // logged by the watcher
    return watcher;
}

PMContinuousSync::~PMContinuousSync()
{
    setContinuousSyncNotificationsEnabled(false);
    tearDownWatchers();
}

std::vector<PMSyncController *> PMContinuousSync::continuousControllers() const
{
    std::vector<PMSyncController *> list;
    for (PMSyncController *controller : m_controllers()) {
        if (controller->isParticipatingInSync() && controller->continuousSyncState())
            list.push_back(controller);
    }
    return list;
}

QStringList PMContinuousSync::watchList() const
{
    QStringList list;
    for (PMSyncController *controller : continuousControllers()) {
        for (const QString &item : controller->shadowedSyncList()) {
            const QString path = QDir::cleanPath(platform::PlatformPaths::expandTilde(item));
            if (!list.contains(path))
                list.append(path);
        }
    }
    return list;
}

void PMContinuousSync::updateContinuousSyncSettings()
{
    const QStringList list = watchList();
    tearDownWatchers();
    for (const QString &root : list) {
        std::unique_ptr<QObject> watcher;
        if (m_makeWatcher) {
            watcher = m_makeWatcher(root,
                [this](const QString &changed, const QStringList &folders) { watcherReported(changed, folders); });
        }
        if (!watcher)
            continue; // that root stays unwatched; the others are still watched
        m_watchers.push_back(std::move(watcher));
        m_watchedRoots.append(root);
    }
    PMAgentLog::debugMessage(
        QStringLiteral("-updateFSEventSettings: watching %1").arg(m_watchedRoots.join(QStringLiteral(", "))));
}

void PMContinuousSync::tearDownWatchers()
{
    m_watchers.clear();
    m_changedFolders.clear();
    m_watchedRoots.clear();
}

void PMContinuousSync::setContinuousSyncNotificationsEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    if (!m_subscriber)
        return;
    if (enabled) {
        connect(m_subscriber, &protocol::PMNotificationSubscriber::posted, this,
            &PMContinuousSync::receivedNotification, Qt::UniqueConnection);
        if (!m_subscriber->subscribe())
            PMAgentLog::logMessage(QStringLiteral("Cannot receive change notifications from the session bus."));
    } else {
        disconnect(
            m_subscriber, &protocol::PMNotificationSubscriber::posted, this, &PMContinuousSync::receivedNotification);
        m_subscriber->unsubscribe();
    }
}

void PMContinuousSync::watcherReported(const QString &root, const QStringList &folders)
{
    QSet<QString> &known = m_changedFolders[root];
    if (folders.isEmpty() || folders.contains(root))
        known = { root };
    else if (!known.contains(root))
        known.unite(QSet<QString>(folders.cbegin(), folders.cend()));
    const QByteArray data = root.toUtf8();
    // Through the bus when we listen there, so an outside watcher and ours take one path.
    if (m_enabled && m_subscriber && m_emitter
        && m_emitter->post(kEventDataNotification, kNotificationObject, { { kEventDataKey, data } }))
        return;
    mainThreadEventDataReceived(data);
}

void PMContinuousSync::receivedNotification(const QString &name, const QString &object, const QVariantMap &userInfo)
{
    if (object != kNotificationObject)
        return;
    if (name == kEventDataNotification) {
        const QByteArray data = userInfo.value(kEventDataKey).toByteArray();
        if (!data.isEmpty())
            mainThreadEventDataReceived(data);
    } else if (name == kRefreshRequestNotification) {
        updateContinuousSyncSettings();
    }
}

void PMContinuousSync::mainThreadEventDataReceived(const QByteArray &data)
{
    if (data.isEmpty())
        return;
    m_continuousSyncItems.append(QString::fromUtf8(data));
    // Every change postpones the sync until the changes have been quiet for the period.
    m_continuousSyncTimer.start(m_quietPeriodMs);
}

void PMContinuousSync::mainThreadAddContinuousSyncItems(const QStringList &paths)
{
    for (const QString &path : paths) {
        if (QFileInfo(path).isDir())
            m_continuousSyncItems.append(path);
    }
}

QStringList PMContinuousSync::pathsToSync(const QStringList &roots)
{
    QStringList paths;
    QSet<QString> seen;
    for (const QString &root : roots) {
        if (seen.contains(root))
            continue;
        seen.insert(root);
        const auto found = m_changedFolders.find(root);
        if (found == m_changedFolders.end()) {
            // Reported from outside, or handed back by a drive: walk it whole.
            if (!paths.contains(root))
                paths.append(root);
            continue;
        }
        for (const QString &folder : *found) {
            if (!paths.contains(folder))
                paths.append(folder);
        }
        m_changedFolders.erase(found);
    }
    return paths;
}

void PMContinuousSync::continuousSyncTimerFired()
{
    m_continuousSyncTimer.stop();
    const QStringList snapshot = m_continuousSyncItems;
    if (snapshot.isEmpty())
        return;
    // Entries queued while the controllers take these stay for the next round.
    m_continuousSyncItems.erase(m_continuousSyncItems.begin(), m_continuousSyncItems.begin() + snapshot.size());
    const QStringList paths = pathsToSync(snapshot);
    for (PMSyncController *controller : continuousControllers())
        controller->continuousSyncNow(paths);
    Q_EMIT continuousSyncStarted(paths);
}
