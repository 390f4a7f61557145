#include "manager/client/LUMPellmereInterface.h"

#include "manager/client/LUMAgentInstaller.h"
#include "manager/client/LUMAgentLauncher.h"
#include "manager/client/LUMCategoryToolTips.h"
#include "manager/client/LUMLog.h"
#include "platform/PlatformPaths.h"

#include <QMetaObject>

namespace {

const char *const kClass = "LUMPellmereInterface";

} // namespace

LUMPellmereInterface::LUMPellmereInterface(const LUMAgentPaths &paths, QDBusConnection connection, QObject *parent)
    : QObject(parent)
    , m_requests(connection)
{
    m_running = launchPellmere(paths, connection);
}

LUMPellmereInterface::~LUMPellmereInterface() = default;

bool LUMPellmereInterface::launchPellmere(const LUMAgentPaths &paths, QDBusConnection connection)
{
    const QString operation = QStringLiteral("launchPellmere");
    LUMAgentInstaller installer(paths);
    const bool installed = installer.installPellmere();
    m_requests.setAgentAddress(QString());
    if (!installed) {
        m_launchFailure
            = QStringLiteral("the agent's launch entries could not be installed for %1").arg(paths.agentExecutable);
        LUMLog::debug(kClass, operation,
            QStringLiteral("launchPellmere: %1 failed to launch: %2").arg(paths.agentExecutable, m_launchFailure));
        return false;
    }
    LUMAgentLauncher launcher(std::move(connection), paths.agentExecutable);
    launcher.setAgentLogPath(platform::PlatformPaths::agentLogPath());
    QString why;
    const std::optional<QString> address = launcher.launch(&why);
    if (!address) {
        m_launchFailure = why;
        LUMLog::debug(kClass, operation,
            QStringLiteral("launchPellmere: %1 failed to launch: %2").arg(paths.agentExecutable, why));
        return false;
    }
    m_requests.setAgentAddress(*address);
    LUMLog::debug(
        kClass, operation, QStringLiteral("launchPellmere: %1 is running as %2").arg(paths.agentExecutable, *address));
    // Whoever creates the interface connects to the signal afterwards.
    QMetaObject::invokeMethod(this, &LUMPellmereInterface::pellmereLaunched, Qt::QueuedConnection);
    return true;
}

bool LUMPellmereInterface::enableSyncNow() const
{
    return (m_movies || m_music || m_pictures || m_documents) && !m_syncPaths.isEmpty() && m_participate;
}

QString LUMPellmereInterface::musicToolTip() const
{
    return LUMCategoryToolTips::music(m_deviceFilter);
}

QString LUMPellmereInterface::moviesToolTip() const
{
    return LUMCategoryToolTips::movies(m_deviceFilter);
}

QString LUMPellmereInterface::picturesToolTip() const
{
    return LUMCategoryToolTips::pictures(m_deviceFilter);
}

QString LUMPellmereInterface::documentsToolTip() const
{
    return LUMCategoryToolTips::documents(m_deviceFilter);
}

void LUMPellmereInterface::setSyncDestinationPath(const QString &path)
{
    if (path != m_destination) {
        m_destination = path;
        Q_EMIT syncDestinationPathChanged();
    }
    // Selecting the same drive again also reads its settings again.
    readDriveSettings();
}

void LUMPellmereInterface::readDriveSettings()
{
    setSyncPaths(m_requests.syncSet(m_destination));
    if (m_destination.isEmpty())
        return;
    using Switch = LUMAgentRequests::Switch;
    auto get = [this](Switch which) { return m_running && m_requests.switchState(which, m_destination); };
    // Stored through the setters: a value that differs from the previous drive's goes back
    // to the agent once, as any change does.
    setSyncParticipateMode(get(Switch::Participate));
    setQuietMode(get(Switch::Quiet));
    setContinuousSyncMode(get(Switch::Continuous));
    setSyncMoviesMode(get(Switch::Movies));
    setSyncMusicMode(get(Switch::Music));
    setSyncPicturesMode(get(Switch::Pictures));
    setSyncDocumentsMode(get(Switch::Documents));
    setSyncDeviceFilterMode(m_running ? m_requests.syncDeviceFilterState(m_destination) : 0);
}

void LUMPellmereInterface::setSyncPaths(const QStringList &paths)
{
    if (paths == m_syncPaths)
        return;
    m_syncPaths = paths;
    Q_EMIT syncPathsChanged();
    Q_EMIT enableSyncNowChanged();
}

void LUMPellmereInterface::insertSyncPath(int index, const QString &path)
{
    m_syncPaths.insert(qBound(0, index, int(m_syncPaths.size())), path);
    Q_EMIT syncPathsChanged();
    Q_EMIT enableSyncNowChanged();
    sendSyncList();
}

void LUMPellmereInterface::removeSyncPathAt(int index)
{
    if (index < 0 || index >= m_syncPaths.size())
        return;
    m_syncPaths.removeAt(index);
    Q_EMIT syncPathsChanged();
    Q_EMIT enableSyncNowChanged();
    sendSyncList();
}

void LUMPellmereInterface::sendSyncList()
{
    if (m_running)
        m_requests.setSyncSet(m_destination, m_syncPaths);
}

void LUMPellmereInterface::changeSwitch(
    bool &field, bool value, LUMAgentRequests::Switch which, void (LUMPellmereInterface::*changed)())
{
    if (field == value)
        return;
    field = value;
    Q_EMIT(this->*changed)();
    if (m_running)
        m_requests.setSwitchState(which, m_destination, value);
    if (which != LUMAgentRequests::Switch::Quiet)
        Q_EMIT enableSyncNowChanged();
}

void LUMPellmereInterface::setQuietMode(bool value)
{
    changeSwitch(m_quiet, value, LUMAgentRequests::Switch::Quiet, &LUMPellmereInterface::quietModeChanged);
}

void LUMPellmereInterface::setContinuousSyncMode(bool value)
{
    changeSwitch(
        m_continuous, value, LUMAgentRequests::Switch::Continuous, &LUMPellmereInterface::continuousSyncModeChanged);
}

void LUMPellmereInterface::setSyncMoviesMode(bool value)
{
    changeSwitch(m_movies, value, LUMAgentRequests::Switch::Movies, &LUMPellmereInterface::syncMoviesModeChanged);
}

void LUMPellmereInterface::setSyncMusicMode(bool value)
{
    changeSwitch(m_music, value, LUMAgentRequests::Switch::Music, &LUMPellmereInterface::syncMusicModeChanged);
}

void LUMPellmereInterface::setSyncPicturesMode(bool value)
{
    changeSwitch(m_pictures, value, LUMAgentRequests::Switch::Pictures, &LUMPellmereInterface::syncPicturesModeChanged);
}

void LUMPellmereInterface::setSyncDocumentsMode(bool value)
{
    changeSwitch(
        m_documents, value, LUMAgentRequests::Switch::Documents, &LUMPellmereInterface::syncDocumentsModeChanged);
}

void LUMPellmereInterface::setSyncParticipateMode(bool value)
{
    changeSwitch(
        m_participate, value, LUMAgentRequests::Switch::Participate, &LUMPellmereInterface::syncParticipateModeChanged);
}

void LUMPellmereInterface::setSyncDeviceFilterMode(int value)
{
    if (value != m_deviceFilter) {
        m_deviceFilter = value;
        Q_EMIT syncDeviceFilterModeChanged();
    }
    // Sent on every set, the same value included: the agent then renews its type lists.
    if (m_running)
        m_requests.setSyncDeviceFilterState(m_destination, value);
    Q_EMIT toolTipsChanged();
}

void LUMPellmereInterface::setSyncCancelled(bool value)
{
    if (value == m_cancelled)
        return;
    m_cancelled = value;
    Q_EMIT syncCancelledChanged();
}

std::optional<QVariantMap> LUMPellmereInterface::driveSyncStatus()
{
    if (!m_running)
        return std::nullopt;
    return m_requests.driveSyncStatus(m_destination);
}

bool LUMPellmereInterface::invokeSyncNow()
{
    return m_running && m_requests.invokeSyncNow(m_destination);
}

bool LUMPellmereInterface::cancelSyncNow()
{
    setSyncCancelled(true);
    setContinuousSyncMode(false);
    return m_running && m_requests.cancelSyncNow(m_destination);
}
