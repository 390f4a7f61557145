#include "autoupdate/AUUpdaterCore.h"

#include "autoupdate/AUAnswer.h"
#include "autoupdate/AUKeys.h"
#include "autoupdate/AULog.h"
#include "autoupdate/AUSchedule.h"
#include "autoupdate/AUServiceAddress.h"
#include "autoupdate/AUServiceRequest.h"
#include "autoupdate/CorvaneAutoUpdate.h"
#include "platform/PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QNetworkReply>
#include <QThread>

namespace {

// QTimer counts in int milliseconds; farther dates are approached in steps.
constexpr qint64 kMaxTimerStepMs = qint64(24) * 24 * 3600 * 1000;

bool isDictionary(const QByteArray &body, QVariant *parsed)
{
    const std::optional<QVariant> root = platform::PropertyList::parse(body);
    if (!root || root->typeId() != QMetaType::QVariantMap)
        return false;
    *parsed = *root;
    return true;
}

AUDownload::InstallLocation runningInstallLocation()
{
    const QFileInfo executable(QCoreApplication::applicationFilePath());
    QDir tree = executable.absoluteDir();
    const QString binName = tree.dirName();
    tree.cdUp();
    return { tree.absolutePath(), binName + QLatin1Char('/') + executable.fileName() };
}

} // namespace

AUUpdaterCore::AUUpdaterCore(
    const QString &moduleName, const QString &moduleVersion, const QString &serviceUrl, AUDownload::Notify notify)
    : m_store(moduleName, moduleVersion, serviceUrl)
    , m_download(m_network, std::move(notify))
    , m_location(runningInstallLocation())
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::VeryCoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, &AUUpdaterCore::onTimer);
}

AUUpdaterCore::~AUUpdaterCore()
{
    m_timer.stop();
    if (m_scheduled) {
        m_scheduled->disconnect(this);
        m_scheduled->abort();
        delete m_scheduled;
    }
    m_download.abort();
}

bool AUUpdaterCore::initialize(QString *error)
{
    {
        const QMutexLocker lock(&m_mutex);
        if (!m_store.load(error))
            return false;
        const QVariant answer = m_store.savedAnswer();
        if (answer.isValid())
            m_pending = process(answer);
        m_store.save();
    }
    reschedule();
    return true;
}

QVariantMap AUUpdaterCore::process(const QVariant &answer) const
{
    return AUAnswer::matchingUpgrade(answer, m_store.moduleName(), m_store.moduleVersion());
}

QVariantMap AUUpdaterCore::properties() const
{
    const QMutexLocker lock(&m_mutex);
    return m_store.properties();
}

QVariant AUUpdaterCore::property(const QString &name) const
{
    const QMutexLocker lock(&m_mutex);
    return m_store.property(name);
}

void AUUpdaterCore::setProperty(const QString &name, const QVariant &value)
{
    if (name != QString::fromUtf8(AUKeys::UpdateCheckInterval))
        return;
    bool ok = false;
    const qint64 code = value.toLongLong(&ok);
    if (!ok || code < INT32_MIN || code > INT32_MAX)
        return;
    const QMutexLocker lock(&m_mutex);
    m_store.setCheckInterval(int(code));
    m_store.save();
}

int AUUpdaterCore::checkSync(QVariantMap *update)
{
    const QString url = property(QString::fromUtf8(AUKeys::ModuleXMLURL)).toString();
    const AUServiceRequest::Answer answer = AUServiceRequest::checkSync(QUrl(url));
    int result = -1;
    {
        const QMutexLocker lock(&m_mutex);
        QVariant parsed;
        if (!answer.received || answer.status != 200) {
            qCWarning(lcAutoUpdate) << "the update check of" << url << "failed:" << answer.error;
        } else if (isDictionary(answer.body, &parsed)) {
            m_store.saveAnswer(answer.body);
            *update = process(parsed);
            result = 0;
        } else {
            qCWarning(lcAutoUpdate) << "the update service" << url << "answered no property list";
            m_store.saveBadResponse(answer.body);
        }
        m_checkDone = true;
        m_store.setLastCheck(QDateTime::currentDateTimeUtc());
        m_store.save();
    }
    if (QThread::currentThread() == thread())
        reschedule();
    else
        QMetaObject::invokeMethod(this, &AUUpdaterCore::reschedule, Qt::QueuedConnection);
    return result;
}

QDateTime AUUpdaterCore::nextCheck() const
{
    const QMutexLocker lock(&m_mutex);
    return m_nextFire;
}

void AUUpdaterCore::reschedule()
{
    {
        const QMutexLocker lock(&m_mutex);
        m_nextFire = AUSchedule::nextCheck(
            m_store.checkInterval(), m_store.lastCheck(), QDateTime::currentDateTimeUtc(), m_checkDone);
    }
    armTimer();
}

void AUUpdaterCore::armTimer()
{
    const QDateTime due = nextCheck();
    if (due >= AUSchedule::never()) {
        m_timer.stop();
        return;
    }
    const qint64 ms = qBound(qint64(0), QDateTime::currentDateTimeUtc().msecsTo(due), kMaxTimerStepMs);
    m_timer.start(std::chrono::milliseconds(ms));
}

void AUUpdaterCore::onTimer()
{
    if (QDateTime::currentDateTimeUtc() < nextCheck()) {
        armTimer();
        return;
    }
    startScheduledCheck();
}

void AUUpdaterCore::startScheduledCheck()
{
    if (m_scheduled)
        return;
    const QUrl url(property(QString::fromUtf8(AUKeys::ModuleXMLURL)).toString());
    m_scheduledBody.clear();
    m_scheduledTooLarge = false;
    if (!AUServiceAddress::isAcceptable(url)) {
        const QMutexLocker lock(&m_mutex);
        m_checkDone = true;
        return;
    }
    m_scheduled = m_network.post(AUServiceRequest::checkRequest(url), QByteArray());
    AUServiceRequest::guardRedirects(m_scheduled);
    connect(m_scheduled, &QNetworkReply::readyRead, this, [this] {
        if (m_scheduledBody.size() + m_scheduled->bytesAvailable() > AUServiceRequest::kMaxAnswerBytes) {
            m_scheduledTooLarge = true;
            m_scheduled->abort();
            return;
        }
        m_scheduledBody += m_scheduled->readAll();
    });
    connect(m_scheduled, &QNetworkReply::finished, this, &AUUpdaterCore::finishScheduledCheck);
}

void AUUpdaterCore::finishScheduledCheck()
{
    QNetworkReply *reply = m_scheduled;
    m_scheduled = nullptr;
    if (!m_scheduledTooLarge && m_scheduledBody.size() + reply->bytesAvailable() <= AUServiceRequest::kMaxAnswerBytes)
        m_scheduledBody += reply->readAll();
    else
        m_scheduledTooLarge = true;
    const bool ok = reply->error() == QNetworkReply::NoError && !m_scheduledTooLarge;
    reply->deleteLater();
    const QMutexLocker lock(&m_mutex);
    QVariant parsed;
    // Its result reaches the client at the next start, through the saved answer.
    if (ok && isDictionary(m_scheduledBody, &parsed)) {
        m_store.saveAnswer(m_scheduledBody);
        m_store.setLastCheck(QDateTime::currentDateTimeUtc());
        m_store.save();
    }
    m_checkDone = true;
    m_scheduledBody.clear();
}
