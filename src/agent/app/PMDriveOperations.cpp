#include "agent/app/PMDriveOperations.h"

#include "agent/app/PMActivityNotifier.h"
#include "agent/app/PMApplicationController.h"
#include "agent/app/PMContinuousSync.h"
#include "agent/log/PMAgentLog.h"
#include "agent/settings/PMConfigurationFile.h"
#include "agent/sync/PMSyncController.h"
#include "platform/PlatformPaths.h"

#include <QDir>
#include <QFileInfo>

PMDriveOperations::PMDriveOperations(PMApplicationController &app)
    : m_app(app)
{
}

PMSyncController *PMDriveOperations::controller(const QString &mountPath) const
{
    return m_app.syncControllerForMountPoint(mountPath);
}

bool PMDriveOperations::isDriveValidForSync(const QString &mountPath, bool suppressAlerts)
{
    PMSyncController *c = controller(mountPath);
    if (!c)
        return false;
    const QString title = QStringLiteral("Cannot Start Sync.");
    if (!c->isValidDevice()) {
        if (!suppressAlerts)
            m_app.alertPresenter().present(
                { title,
                    QStringLiteral("The drive \"%1\" is not a valid Quendal Tavrin\u2122 drive.")
                        .arg(PMApplicationController::displayName(mountPath)) },
                [](platform::AlertAnswer) {}, {});
        return false;
    }
    if (c->isValidFileSystem())
        return true;
    if (!suppressAlerts)
        m_app.alertPresenter().present(
            { title,
                QStringLiteral("The drive \"%1\" needs to be formatted with HFS+ or some variant thereof.")
                    .arg(PMApplicationController::displayName(mountPath)) },
            [](platform::AlertAnswer) {}, {});
    return false;
}

bool PMDriveOperations::isDriveSetupForSync(const QString &mountPath) const
{
    const PMSyncController *c = controller(mountPath);
    return c && c->hasSyncConfiguration();
}

// clang-format off
bool PMDriveOperations::getContinuousSyncStateForDrive(const QString &p) const { auto *c = controller(p); return c ? c->continuousSyncState() : false; }
bool PMDriveOperations::syncMoviesStateForDrive(const QString &p) const { auto *c = controller(p); return c ? c->syncMoviesState() : true; }
bool PMDriveOperations::syncMusicStateForDrive(const QString &p) const { auto *c = controller(p); return c ? c->syncMusicState() : true; }
bool PMDriveOperations::syncPicturesStateForDrive(const QString &p) const { auto *c = controller(p); return c ? c->syncPicturesState() : true; }
bool PMDriveOperations::syncDocumentsStateForDrive(const QString &p) const { auto *c = controller(p); return c ? c->syncDocumentsState() : false; }
qint32 PMDriveOperations::syncDeviceFilterForDrive(const QString &p) const { auto *c = controller(p); return c ? c->syncDeviceFilter() : 0; }
bool PMDriveOperations::getParticipateSyncStateForDrive(const QString &p) const { auto *c = controller(p); return c ? c->participateSyncState() : false; }
bool PMDriveOperations::getQuietSyncStateForDrive(const QString &p) const { auto *c = controller(p); return c ? c->quietSyncState() : false; }
// clang-format on

std::optional<QStringList> PMDriveOperations::getSyncListForDrive(const QString &mountPath) const
{
    PMSyncController *c = controller(mountPath);
    if (!c)
        return std::nullopt;
    return c->shadowedSyncList();
}

bool PMDriveOperations::setContinuousSyncState(bool enabled, const QString &mountPath)
{
    PMSyncController *c = controller(mountPath);
    if (!c)
        return false;
    m_app.localSyncChoice().recordContinuous(c->deviceUUIDString(), enabled);
    // Turning it on brings the drive's whole list up to date at once: only a list chosen
    // on this computer may be.
    c->setContinuousSyncState(enabled, false);
    if (enabled && m_app.maySyncAutomatically(*c, true))
        c->setContinuousSyncState(true);
    m_app.continuousSync().updateContinuousSyncSettings();
    return true;
}

void PMDriveOperations::updateCategory(PMMediaCategory category, const QString &mountPath)
{
    const PMSyncController *c = controller(mountPath);
    if (!c)
        return;
    bool enabled = false;
    switch (category) {
    case PMMediaCategory::Movies:
        enabled = c->syncMoviesState();
        break;
    case PMMediaCategory::Music:
        enabled = c->syncMusicState();
        break;
    case PMMediaCategory::Pictures:
        enabled = c->syncPicturesState();
        break;
    case PMMediaCategory::Documents:
        enabled = c->syncDocumentsState();
        break;
    }
    m_extensionLists.updateCategory(category, enabled, c->syncDeviceFilter());
}

void PMDriveOperations::updateSyncMoviesSettingsForDrive(const QString &p)
{
    updateCategory(PMMediaCategory::Movies, p);
}
void PMDriveOperations::updateSyncMusicSettingsForDrive(const QString &p)
{
    updateCategory(PMMediaCategory::Music, p);
}
void PMDriveOperations::updateSyncPicturesSettingsForDrive(const QString &p)
{
    updateCategory(PMMediaCategory::Pictures, p);
}
void PMDriveOperations::updateSyncDocumentsSettingsForDrive(const QString &p)
{
    updateCategory(PMMediaCategory::Documents, p);
}

void PMDriveOperations::updateFileValidator()
{
    m_fileValidator.flushValidators();
    m_fileValidator.addContainerValidators(m_extensionLists.mediaFileExtensions());
}

bool PMDriveOperations::setCategoryState(PMMediaCategory category, bool enabled, const QString &mountPath)
{
    PMSyncController *c = controller(mountPath);
    if (!c)
        return false;
    switch (category) {
    case PMMediaCategory::Movies:
        c->setSyncMoviesState(enabled);
        break;
    case PMMediaCategory::Music:
        c->setSyncMusicState(enabled);
        break;
    case PMMediaCategory::Pictures:
        c->setSyncPicturesState(enabled);
        break;
    case PMMediaCategory::Documents:
        c->setSyncDocumentsState(enabled);
        break;
    }
    updateCategory(category, mountPath);
    updateFileValidator();
    return true;
}

// clang-format off
bool PMDriveOperations::setSyncMoviesState(bool on, const QString &p) { return setCategoryState(PMMediaCategory::Movies, on, p); }
bool PMDriveOperations::setSyncMusicState(bool on, const QString &p) { return setCategoryState(PMMediaCategory::Music, on, p); }
bool PMDriveOperations::setSyncPicturesState(bool on, const QString &p) { return setCategoryState(PMMediaCategory::Pictures, on, p); }
bool PMDriveOperations::setSyncDocumentsState(bool on, const QString &p) { return setCategoryState(PMMediaCategory::Documents, on, p); }
// clang-format on

bool PMDriveOperations::setSyncDeviceFilter(qint32 filter, const QString &mountPath)
{
    PMSyncController *c = controller(mountPath);
    if (!c)
        return false;
    c->setSyncDeviceFilter(filter);
    updateSyncMoviesSettingsForDrive(mountPath);
    updateSyncMusicSettingsForDrive(mountPath);
    updateSyncPicturesSettingsForDrive(mountPath);
    updateSyncDocumentsSettingsForDrive(mountPath);
    updateFileValidator();
    if (m_app.maySyncAutomatically(*c, false))
        m_app.scheduleSync(mountPath, PMApplicationController::SyncRequest::Automatic);
    return true;
}

bool PMDriveOperations::setParticipateSyncState(bool enabled, const QString &mountPath)
{
    PMSyncController *c = controller(mountPath);
    if (!c)
        return false;
    c->setParticipateSyncState(enabled);
    m_app.localSyncChoice().recordParticipation(c->deviceUUIDString(), enabled);
    return true;
}

bool PMDriveOperations::setQuietSyncState(bool enabled, const QString &mountPath)
{
    PMSyncController *c = controller(mountPath);
    if (!c)
        return false;
    c->setQuietSyncState(enabled);
    return true;
}

void PMDriveOperations::syncIfContinuous(PMSyncController &c, const QString &mountPath, const QStringList &newList)
{
    m_app.continuousSync().updateContinuousSyncSettings();
    if (m_app.maySyncAutomatically(c, false, newList))
        m_app.scheduleSync(mountPath, PMApplicationController::SyncRequest::Automatic);
}

void PMDriveOperations::setSyncList(const QStringList &paths, const QString &mountPath)
{
    PMSyncController *c = controller(mountPath);
    if (!c)
        return;
    if (c->busyWithSynclistOnly()) {
        m_app.showBusyAlert(QStringLiteral("Cannot Update Sync List."), mountPath);
        return;
    }
    // The list chosen here is what automatic syncs may copy from now on; choosing it while
    // the drive shows this user taking part confirms that participation here too.
    PMLocalSyncChoice &choice = m_app.localSyncChoice();
    choice.recordSyncList(c->deviceUUIDString(), paths);
    if (c->participateSyncState())
        choice.recordParticipation(c->deviceUUIDString(), true);
    c->setCancelPending(false, false);
    m_app.scheduleSyncListUpdate(mountPath, paths);
    syncIfContinuous(*c, mountPath, paths);
}

PMDriveOperations::StartOutcome PMDriveOperations::startSyncForDriveAt(const QString &mountPath)
{
    PMSyncController *c = controller(mountPath);
    if (!c)
        return StartOutcome::UnknownDrive;
    c->setParticipateSyncState(true);
    // A sync started by hand is the user's choice of the drive's current list.
    PMLocalSyncChoice &choice = m_app.localSyncChoice();
    choice.recordParticipation(c->deviceUUIDString(), true);
    choice.recordSyncList(c->deviceUUIDString(), c->shadowedSyncList());
    if (c->busy()) {
        m_app.showBusyAlert(QStringLiteral("Cannot Start Sync."), mountPath);
        return StartOutcome::Busy;
    }
    // The manager sees the new job's record at once: cleared counters, no cancel or failure
    // and the job's first phase, not the end of the previous job.
    c->setCancelPending(false, false);
    c->setFailureType(PMSyncController::kFailureNone);
    c->setActivityType(PMSyncController::kActivityPreparing);
    c->initForNewJob();
    c->setProgressActivePath(mountPath);
    m_app.activityNotifier().sendActivityNotification(true, c->progressDict());
    m_app.scheduleSync(mountPath);
    return StartOutcome::Started;
}

QString PMDriveOperations::mountPointHoldingPath(const QString &path) const
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        return {};
    QString best;
    m_app.forEachController([&](const QString &, PMSyncController &controller) {
        // Both sides with links resolved, so that a path given through a link still matches.
        const QString mountPoint = QFileInfo(controller.deviceMountPoint()).canonicalFilePath();
        if (mountPoint.isEmpty())
            return;
        const bool holds = canonical == mountPoint
            || canonical.startsWith(mountPoint == QLatin1String("/") ? mountPoint : mountPoint + QLatin1Char('/'));
        if (holds && mountPoint.size() > best.size())
            best = controller.deviceMountPoint();
    });
    return best;
}

QStringList PMDriveOperations::openPaths(const QStringList &paths)
{
    QStringList refused;
    QStringList drives;
    for (const QString &path : paths) {
        const QString mountPoint = mountPointHoldingPath(path);
        if (mountPoint.isEmpty()) {
            PMAgentLog::logMessage(QStringLiteral("Cannot sync \"%1\": it is not on a connected drive.").arg(path));
            refused.append(path);
        } else if (!drives.contains(mountPoint)) {
            drives.append(mountPoint);
        }
    }
    for (const QString &mountPoint : drives) {
        PMAgentLog::debugMessage(QStringLiteral("-application:openFiles: syncing \"%1\"").arg(mountPoint));
        startSyncForDriveAt(mountPoint);
    }
    PMAgentLog::flushLog();
    return refused;
}

void PMDriveOperations::cancelSyncForDriveAt(const QString &mountPath)
{
    if (PMSyncController *c = controller(mountPath))
        c->setCancelPending(true, true);
}

bool PMDriveOperations::removeDriveSync(const QString &mountPath)
{
    if (PMSyncController *c = controller(mountPath))
        c->removeDriveSync();
    return true;
}

std::optional<QVariantMap> PMDriveOperations::statusForDrive(const QString &mountPath) const
{
    PMSyncController *c = controller(mountPath);
    if (!c)
        return std::nullopt;
    // Read afresh: other computers may have joined since the controller read the file.
    const PMConfigurationFile config(
        c->deviceMountPoint(), PMConfigurationFile::kSyncTypeCopyToCopy, PMApplicationController::uniqueHostUserId());
    const std::optional<QStringList> users = config.configSyncUserList();
    if (!users || users->isEmpty())
        return std::nullopt;
    const std::optional<QStringList> syncSet = config.syncItemList();
    QVariantMap status;
    for (const QString &user : *users) {
        QVariantMap entry;
        entry.insert(QStringLiteral("continuousSyncEnabled"), c->continuousSyncStateForUniqueHostID(user));
        entry.insert(QStringLiteral("quietSyncEnabled"), !c->isPreviewEnabledForUniqueHostID(user));
        entry.insert(QStringLiteral("participateSyncEnabled"), c->participateSyncStateForUniqueHostID(user));
        entry.insert(QStringLiteral("computerName"), c->computerNameForUniqueHostID(user));
        if (syncSet)
            entry.insert(QStringLiteral("syncSet"), *syncSet);
        const QDateTime last = c->lastSyncTimeForUniqueHostID(user);
        if (last.isValid())
            entry.insert(QStringLiteral("lastSyncTime"), last.toUTC());
        status.insert(user, entry);
    }
    return status;
}
