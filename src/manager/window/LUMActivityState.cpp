#include "manager/window/LUMActivityState.h"

#include "manager/client/LUMLog.h"
#include "manager/client/LUMPellmereInterface.h"
#include "manager/window/LUMUserNumbers.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

constexpr const char *kClass = "LUMApplicationController";

void logFlag(const QString &operation, const QString &name, bool value, int activityType)
{
    LUMLog::debug(kClass, operation,
        QStringLiteral("%1 %2 at = %3")
            .arg(name, value ? QStringLiteral("true") : QStringLiteral("false"))
            .arg(activityType));
}

} // namespace

LUMActivityState::LUMActivityState(LUMPellmereInterface &client, QObject *parent)
    : QObject(parent)
    , m_client(client)
{
    m_watchdog.setSingleShot(true);
    m_watchdog.setInterval(kWatchdogInterval);
    connect(&m_watchdog, &QTimer::timeout, this, &LUMActivityState::watchdogFired);
}

bool LUMActivityState::isIdle() const
{
    return m_activityType == 0 || m_activityType == 5 || m_activityType == 6;
}

bool LUMActivityState::activityBoxVisible() const
{
    return isRunningType(m_activityType) || m_activityType == 5 || m_activityType == 6;
}

bool LUMActivityState::pathsEqual() const
{
    const QString destination = m_client.syncDestinationPath();
    return !m_activePath.isEmpty() && !destination.isEmpty() && m_activePath == destination;
}

bool LUMActivityState::currentSyncInactive() const
{
    bool inactive = true;
    const QString destination = m_client.syncDestinationPath();
    if (m_activityType == 4 && pathsEqual())
        inactive = m_syncIsBusy;
    else if (isRunningType(m_activityType) && !m_activePath.isEmpty() && !destination.isEmpty())
        inactive = m_activePath != destination;
    logFlag(QStringLiteral("currentSyncInactive"), QStringLiteral("currentSyncInactive"), inactive, m_activityType);
    return inactive;
}

bool LUMActivityState::syncNowActiveEnable() const
{
    bool enable = true;
    if (m_activityType == 4)
        enable = !(pathsEqual() && !m_syncIsBusy);
    else if (isRunningType(m_activityType))
        enable = !m_client.syncCancelled();
    logFlag(QStringLiteral("syncNowActiveEnable"), QStringLiteral("syncNowActiveEnable"), enable, m_activityType);
    return enable;
}

bool LUMActivityState::syncNowState() const
{
    const bool state = isRunningType(m_activityType) && pathsEqual();
    logFlag(QStringLiteral("syncNowState"), QStringLiteral("syncNowState"), state, m_activityType);
    return state;
}

bool LUMActivityState::configEnabled() const
{
    return isIdle() || m_activePath.isEmpty() || m_activePath != m_client.syncDestinationPath();
}

QString LUMActivityState::boxTitle() const
{
    switch (m_section) {
    case Section::Progress:
        return tr("Syncing", "ActiveSync");
    case Section::Success:
        return tr("Sync completed", "CompletedSync");
    case Section::Failure:
        return tr("Sync incomplete", "IncompleteSync");
    case Section::None:
        break;
    }
    return {};
}

QString LUMActivityState::progressText() const
{
    if (m_section != Section::Progress || m_lastTotal == 0)
        return {};
    return tr("%1 of %2", "ProgressFormat")
        .arg(LUMUserNumbers::format(std::min(m_processed, m_lastTotal)), LUMUserNumbers::format(m_lastTotal));
}

QString LUMActivityState::progressLegendToolTip() const
{
    return tr("Skipped by the device filter: %1\nAlready on the drive: %2\nCopied: %3", "ProgressBarLegend")
        .arg(LUMUserNumbers::format(m_lastExcluded), LUMUserNumbers::format(m_lastPreviouslyCopied),
            LUMUserNumbers::format(m_lastCopied));
}

QString LUMActivityState::successText() const
{
    return tr(
        "The sync is complete: %1 skipped by the device filter, %2 already on the drive, %3 copied.", "SyncComplete")
        .arg(LUMUserNumbers::format(m_lastExcluded), LUMUserNumbers::format(m_lastPreviouslyCopied),
            LUMUserNumbers::format(m_lastCopied));
}

QString LUMActivityState::failureReasonKey(int failureType)
{
    switch (failureType) {
    case 2:
        return QStringLiteral("SyncSourceError");
    case 3:
        return QStringLiteral("SyncDestError");
    case 4:
        return QStringLiteral("ContactLostError");
    case 5:
        return QStringLiteral("ConnectionLostError");
    case 6:
        return QStringLiteral("CancelError");
    default:
        return QStringLiteral("SyncUnknownError");
    }
}

QString LUMActivityState::failureReasonText(int failureType)
{
    switch (failureType) {
    case 2:
        return tr("a file on this computer could not be read.", "SyncSourceError");
    case 3:
        return tr("the drive could not be written to.", "SyncDestError");
    case 4:
        return tr("contact with the Pellmere agent was lost.", "ContactLostError");
    case 5:
        return tr("the drive was disconnected.", "ConnectionLostError");
    case 6:
        return tr("it was stopped.", "CancelError");
    default:
        return tr("an unknown error occurred.", "SyncUnknownError");
    }
}

QString LUMActivityState::failureText() const
{
    return tr("The sync did not finish: %1", "SyncIncomplete").arg(failureReasonText(m_failureType));
}

QString LUMActivityState::activeVolume() const
{
    if (m_activePath.isEmpty())
        return {};
    const QString drive = QFileInfo(m_activePath).fileName();
    if (m_currentSourcePath.isEmpty())
        return drive;
    return QStringLiteral("%1 \u2014 %2").arg(drive, QFileInfo(m_currentSourcePath).fileName());
}

void LUMActivityState::setActivityType(int type)
{
    if (type == m_activityType)
        return;
    const int old = m_activityType;
    m_activityType = type;
    if (type == 0 || type == 1 || type == 5 || type == 6)
        m_client.setSyncCancelled(false);
    Q_EMIT changed();
    if (old >= 1 && old <= 4 && (type == 0 || type == 5 || type == 6))
        Q_EMIT buttonStateShouldUpdate();
}

void LUMActivityState::setActivePath(const QString &path)
{
    if (path == m_activePath)
        return;
    m_activePath = path;
    if (path.isEmpty())
        m_client.setSyncCancelled(false);
    Q_EMIT changed();
}

void LUMActivityState::updateActivity(const QVariantMap &userInfo)
{
    const QString operation = QStringLiteral("updateActivity");
    if (userInfo.isEmpty()) {
        setActivePath(QString());
        armWatchdog();
        return;
    }
    bool typeChanged = false;
    const auto type = userInfo.constFind(QStringLiteral("syncActivityType"));
    if (type != userInfo.constEnd()) {
        const int newType = type->toInt();
        m_syncIsBusy = userInfo.value(QStringLiteral("syncIsBusy")).toBool();
        if (newType == 5) {
            const auto failure = userInfo.constFind(QStringLiteral("syncActivityFailureType"));
            if (failure != userInfo.constEnd()) {
                m_failureType = failure->toInt();
            } else {
                LUMLog::debug(kClass, operation, QStringLiteral("progressdictionary has no failureType"));
                m_failureType = 1;
            }
        }
        typeChanged = newType != m_activityType;
        setActivityType(newType);
    } else {
        LUMLog::debug(kClass, operation, QStringLiteral("progressdictionary has no activityType"));
    }
    QStringList entries;
    for (auto it = userInfo.constBegin(); it != userInfo.constEnd(); ++it)
        entries.append(QStringLiteral("%1 = %2").arg(it.key(), it.value().toString()));
    LUMLog::debug(
        kClass, operation, QStringLiteral("progress dictionary: {%1}").arg(entries.join(QStringLiteral("; "))));
    if (!typeChanged && !userInfo.contains(QStringLiteral("activePath"))) {
        setActivePath(QString());
        armWatchdog();
        return;
    }
    updateProgress(userInfo);
}

void LUMActivityState::updateProgress(const QVariantMap &userInfo)
{
    const quint64 total = userInfo.value(QStringLiteral("syncSize")).toULongLong();
    const quint64 excluded = userInfo.value(QStringLiteral("syncSkipFilter")).toULongLong();
    const quint64 present = userInfo.value(QStringLiteral("syncSkipPresent")).toULongLong();
    const quint64 copied = userInfo.value(QStringLiteral("syncCopied")).toULongLong();
    const bool cancelPending = userInfo.value(QStringLiteral("syncCancelPending")).toBool();
    const QString path = userInfo.value(QStringLiteral("activePath")).toString();
    setActivePath(path);
    if (!path.isEmpty() && path == m_client.syncDestinationPath())
        m_client.setSyncCancelled(cancelPending);

    m_lastExcluded = excluded;
    m_lastPreviouslyCopied = present;
    m_lastCopied = copied;
    if (total != 0) {
        ++m_syncActivityCount;
        LUMLog::debug(kClass, QStringLiteral("updateProgress"), QStringLiteral("syncSize: %1").arg(total));
        m_lastTotal = total;
        // Saturating sum: counts from the bus are not trusted to stay in range.
        quint64 processed = excluded;
        for (const quint64 part : { present, copied })
            processed = part > total - std::min(processed, total) ? total : processed + part;
        m_processed = std::min(processed, total);
        m_barDeterminate = true;
        m_barValue = int((double(m_processed) / double(total)) * kBarMaximum);
    } else {
        m_syncActivityCount = 0;
    }

    if (m_activityType == 2 || m_activityType == 3)
        showSection(Section::Progress);
    else if (m_section == Section::Progress)
        showSection(Section::None);

    if (activityBoxVisible() && m_section == Section::Progress) {
        const QString source = userInfo.value(QStringLiteral("syncCopySourcePath")).toString();
        if (source != m_currentSourcePath)
            m_currentSourcePath = source;
        Q_EMIT copyCycle(m_currentSourcePath);
    }
    if (isIdle()) {
        if (m_activityType == 6)
            showSection(Section::Success);
        else if (m_activityType == 5)
            showSection(Section::Failure);
    }
    Q_EMIT changed();
}

void LUMActivityState::showSection(Section section)
{
    if (section != Section::Progress) {
        // Leaving the progress section stops the bar and empties it.
        m_barValue = 0;
        m_barDeterminate = false;
        m_currentSourcePath.clear();
        if (section == Section::None)
            m_lastTotal = 0;
    }
    m_section = section;
}

void LUMActivityState::reset()
{
    m_watchdog.stop();
    setActivePath(QString());
    setActivityType(0);
    showSection(Section::None);
    Q_EMIT changed();
}

void LUMActivityState::armWatchdog()
{
    m_watchdog.start();
}

void LUMActivityState::watchdogFired()
{
    if (isIdle())
        return;
    LUMLog::debug(kClass, QStringLiteral("activityTimer"), QStringLiteral("no word from the agent: contact lost"));
    m_syncIsBusy = false;
    m_failureType = 4;
    setActivityType(5);
    setActivePath(QString());
    showSection(Section::Failure);
    Q_EMIT changed();
}
