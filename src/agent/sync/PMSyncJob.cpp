#include "agent/sync/PMSyncJob.h"

#include "agent/copy/PMCopyErrorTally.h"
#include "agent/copy/PMCopyHandler.h"
#include "agent/copy/PMCopyItemFilter.h"
#include "agent/copy/PMFileSystemKind.h"
#include "agent/log/PMAgentLog.h"
#include "agent/settings/PMConfigurationBatch.h"
#include "agent/sync/KRTCopyErrorReporter.h"
#include "agent/sync/PMItemScanner.h"
#include "agent/sync/PMLeftOutList.h"
#include "agent/sync/PMLeftOutWalk.h"
#include "agent/sync/PMMediaCopyFilter.h"
#include "agent/sync/PMNetworkDrive.h"
#include "agent/sync/PMScanApplier.h"
#include "agent/sync/PMSyncController.h"
#include "agent/sync/PMSyncItemFilter.h"
#include "agent/sync/PMTreeSnapshot.h"
#include "platform/FileNameCodec.h"
#include "platform/PMCorvaneUtilities.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

Q_LOGGING_CATEGORY(lcSyncJob, "pellmere.sync")

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("PMSyncJob", text);
}

struct DirCloser {
    void operator()(DIR *dir) const
    {
        if (dir)
            closedir(dir);
    }
};

// The names in the folder open at fd (which this call takes), or nullopt when the listing
// broke off: a listing cut short must not pass for a complete one.
std::optional<QStringList> listFolder(PMUniqueFd fd)
{
    std::unique_ptr<DIR, DirCloser> listing(fdopendir(fd.get()));
    if (!listing)
        return std::nullopt;
    static_cast<void>(fd.release());
    QStringList names;
    for (;;) {
        errno = 0;
        const dirent *entry = readdir(listing.get());
        if (!entry)
            return errno == 0 ? std::optional<QStringList>(names) : std::nullopt;
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            names.append(platform::FileNameCodec::decode(entry->d_name));
    }
}

// The first item other than a folder left in the tree of the folder open at fd (a path
// relative to it), or an empty string when only folders remain; the fd is taken.
QString firstItemLeftIn(PMUniqueFd fd, const QString &prefix = QString())
{
    const int folderFd = fd.get();
    const std::optional<QStringList> names = listFolder(PMUniqueFd(dup(folderFd)));
    if (!names)
        return prefix.isEmpty() ? QStringLiteral(".") : prefix;
    for (const QString &name : *names) {
        QString relative = prefix.isEmpty() ? name : prefix + QLatin1Char('/') + name;
        const QByteArray encoded = platform::FileNameCodec::encode(name);
        struct stat item = {};
        if (fstatat(folderFd, encoded.constData(), &item, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(item.st_mode))
            return relative;
        PMUniqueFd child(openat(folderFd, encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        QString left = child.isValid() ? firstItemLeftIn(std::move(child), relative) : relative;
        if (!left.isEmpty())
            return left;
    }
    return QString();
}

} // namespace

PMSyncJob::PMSyncJob(PMSyncController &controller, Options options)
    : m_controller(controller)
    , m_options(std::move(options))
    , m_context { controller, m_fileManager,
        m_options.identity ? PMDriveLayout(controller.deviceMountPoint(), *m_options.identity)
                           : PMDriveLayout::forCurrentUser(controller.deviceMountPoint(),
                               controller.deviceConfig().userId(), controller.deviceUUIDString()),
        {}, nullptr, nullptr, false, false, PMTimestampPrecision() }
    , m_lock(m_context.layout)
{
    m_fileManager.setDriveRoot(m_context.layout.pathForTavrinTarget());
}

PMSyncJob::~PMSyncJob() = default;

QString PMSyncJob::displayName() const
{
    const QString name = QFileInfo(m_controller.deviceMountPoint()).fileName();
    return name.isEmpty() ? m_controller.deviceMountPoint() : name;
}

void PMSyncJob::syncThreadBasicSetup()
{
    m_context.debug = PMAgentLog::isDebugEnabled();
    if (m_context.debug)
        m_controller.logMessage(
            QStringLiteral("-sync: items to sync: \"%1\".")
                .arg(m_controller.deviceConfig().syncItemList().value_or(QStringList()).join(QStringLiteral(", "))));
    m_controller.logMessage(tr("Synchronizing \"%1\"...").arg(displayName()));
    m_controller.initForNewJob();
    prepareFilter();
}

void PMSyncJob::prepareFilter()
{
    std::shared_ptr<const PMCopyItemFilter> media;
    m_leftOut.reset();
    if (m_options.makeFilter) {
        media = m_options.makeFilter();
    } else {
        auto filter = PMMediaCopyFilter::forController(m_controller);
        // The preview tells what the filter left out, as it decided it.
        if (m_controller.isPreviewEnabled() && m_controller.hasPreviewPresenter()) {
            m_leftOut = std::make_shared<PMLeftOutList>();
            filter->setLeftOutList(m_leftOut);
        }
        media = std::move(filter);
    }
    m_filter = std::make_shared<PMSyncItemFilter>(std::move(media));
    m_context.filter = m_filter.get();
    m_fileManager.setFilter(m_filter.get());
    m_copyHandler = m_options.makeCopyHandler ? m_options.makeCopyHandler(m_controller)
                                              : KRTCopyErrorReporter::copyErrorReporter(&m_controller);
    m_context.copyHandler = m_copyHandler.get();
    m_context.limitTo4G = m_options.limitTo4G.value_or(PMFileSystemKind::isFATPath(m_controller.deviceMountPoint()));
}

void PMSyncJob::askFilterBelowNewFolders() const
{
    if (m_filter)
        PMLeftOutWalk::askBelowNewFolders(m_context.results, *m_filter, m_context.limitTo4G);
}

bool PMSyncJob::scanOnly(const std::optional<QStringList> &requestedItems)
{
    m_context.debug = PMAgentLog::isDebugEnabled();
    prepareFilter();
    // Probing would write to the drive; the kind of its file system says as much.
    const QString kind = PMFileSystemKind::kindForPath(m_controller.deviceMountPoint());
    qint64 granularity = 1;
    if (kind == QLatin1String("vfat") || kind == QLatin1String("msdos"))
        granularity = 2000000000;
    else if (kind == QLatin1String("exfat"))
        granularity = 10000000;
    else if (kind == QLatin1String("ntfs") || kind == QLatin1String("ntfs3"))
        granularity = 100;
    m_context.precision = PMTimestampPrecision(granularity);
    m_context.driveHoldsAnyNameBytes = PMFileSystemKind::holdsAnyNameBytes(kind);
    m_context.results.clearScanResults();
    m_context.beginWalk();
    PMItemScanner scanner(m_context);
    const QStringList items = requestedItems ? *requestedItems : scanner.itemsForJob(std::nullopt);
    readBothSides(items);
    bool walked = true;
    for (const QString &item : items) {
        if (!scanner.syncThreadSyncItem(item)) {
            walked = false;
            break;
        }
    }
    forgetBothSides();
    return walked;
}

void PMSyncJob::readBothSides(const QStringList &items)
{
    QStringList localFolders;
    QStringList driveFolders;
    QStringList newOnDrive;
    for (const QString &item : items) {
        const QString localPath = m_context.layout.localPathForSyncItem(item);
        localFolders.append(localPath);
        const auto drivePath = m_context.layout.drivePathForSyncItem(item);
        if (drivePath) {
            driveFolders.append(*drivePath);
            // An item the drive does not hold is copied whole: its listings would be read and
            // never compared. Only a hint: without listings the walk asks the file system.
            struct stat drive = {};
            if (lstat(platform::FileNameCodec::encode(*drivePath).constData(), &drive) != 0 && errno == ENOENT)
                newOnDrive.append(localPath);
        }
    }
    m_localTree = std::make_unique<PMTreeSnapshot>(localFolders, PMTreeSnapshot::kDefaultThreads, newOnDrive);
    m_driveTree = std::make_unique<PMTreeSnapshot>(driveFolders);
    const auto canceled = [this] { return m_controller.cancelPending(); };
    m_localTree->waitForCompletion(canceled);
    m_driveTree->waitForCompletion(canceled);
    // Listings of a stopped read are still right for the folders they hold; the walk asks the
    // file system for the others.
    m_context.localTree = m_localTree.get();
    m_context.driveTree = m_driveTree.get();
    m_controller.determineTotalSync(items,
        [this](const QString &item) { return m_localTree->treeSize(m_context.layout.localPathForSyncItem(item)); });
}

void PMSyncJob::forgetBothSides()
{
    m_context.localTree = nullptr;
    m_context.driveTree = nullptr;
    m_localTree.reset();
    m_driveTree.reset();
}

QString PMSyncJob::lastReportMessage() const
{
    std::lock_guard lock(m_reportMutex);
    return m_lastReportMessage;
}

bool PMSyncJob::refuseDriveLink(const platform::ConfinedPath::Result &result)
{
    if (result.status == platform::ConfinedPath::Status::Link)
        m_controller.logMessage(tr("The drive \"%1\" has a link where the folder \"%2\" belongs; nothing was synced.")
                                    .arg(m_controller.deviceMountPoint(), result.where));
    else if (result.status == platform::ConfinedPath::Status::NotAFolder)
        m_controller.logMessage(tr("The drive \"%1\" has a file where the folder \"%2\" belongs; nothing was synced.")
                                    .arg(m_controller.deviceMountPoint(), result.where));
    return result.status != platform::ConfinedPath::Status::Link
        && result.status != platform::ConfinedPath::Status::NotAFolder;
}

bool PMSyncJob::syncThreadPrepareFolders()
{
    const QString target = m_context.layout.pathForTavrinTarget();
    struct stat drive = {};
    // The drive as it was when it was first seen: a mount point on another file system now
    // is the computer's bare folder left behind by a drive that went away.
    const std::optional<dev_t> found = m_controller.deviceConfig().driveDevice();
    if (stat(platform::FileNameCodec::encode(target).constData(), &drive) != 0 || !S_ISDIR(drive.st_mode)
        || (found && drive.st_dev != *found)) {
        m_controller.logMessage(tr("The drive \"%1\" is not available.").arg(m_controller.deviceMountPoint()));
        return false;
    }
    m_driveDevice = drive.st_dev;
    m_fileManager.setDriveDevice(m_driveDevice);
    m_lock.setDriveDevice(m_driveDevice);
    // The drive's own folders are walked without following links: a drive holding a link
    // where its temporary folders belong would have this job write and delete elsewhere.
    const platform::ConfinedPath driveTemp(target, m_context.layout.relativeTavrinTemp(), m_driveDevice);
    if (!refuseDriveLink(driveTemp.check()))
        return false;
    switch (m_lock.tryLock()) {
    case PMDriveJobLock::Outcome::Locked:
        break;
    case PMDriveJobLock::Outcome::Busy:
        m_controller.logMessage(
            tr("The drive \"%1\" is already involved in a sync operation.").arg(m_controller.deviceMountPoint()));
        return false;
    case PMDriveJobLock::Outcome::Failed:
        m_controller.logMessage(
            tr("The drive \"%1\" could not be reserved for this sync.").arg(m_controller.deviceMountPoint()));
        return false;
    }
    syncThreadDeleteTempFolders();
    m_context.results.clearScanResults();

    // The target is the drive's mount point, which exists.
    m_context.debugLine(QStringLiteral("-sync: creating %1.").arg(driveTemp.path()));
    platform::ConfinedPath::Result made;
    if (!driveTemp.makeFolders(0777, &made).isValid()) {
        m_context.debugLine(QStringLiteral("-sync: unable to create temporary folder %1 for Mac->Tavrin copying.")
                                .arg(driveTemp.path()));
        if (refuseDriveLink(made))
            m_controller.logMessage(tr("Unable to create the folder \"%1\" on the drive.").arg(driveTemp.path()));
        return false;
    }
    const platform::ConfinedPath localTemp(
        m_context.layout.identity().homeDirectory, m_context.layout.relativeLocalTemp());
    m_context.debugLine(QStringLiteral("-sync: creating %1.").arg(localTemp.path()));
    if (!localTemp.makeFolders(std::nullopt, &made).isValid()) {
        m_context.debugLine(QStringLiteral("-sync: unable to create temporary folder %1 for Tavrin->Mac copying.")
                                .arg(localTemp.path()));
        return false;
    }
    m_context.precision = PMTimestampPrecision::probe(driveTemp.path());
    m_context.driveHoldsAnyNameBytes
        = PMFileSystemKind::holdsAnyNameBytes(PMFileSystemKind::kindForPath(driveTemp.path()));
    return true;
}

bool PMSyncJob::syncThreadSyncItems(const std::optional<QStringList> &paths)
{
    m_context.beginWalk();
    m_context.results.clearScanResults();
    m_folderItems.clear();
    PMItemScanner scanner(m_context);
    const QStringList items = scanner.itemsForJob(paths);
    if (paths && items.isEmpty())
        return true;
    readBothSides(items);

    bool result = true;
    // The temporary folders mirroring each folder item, made only once something is to be copied:
    // on a FUSE drive each folder made costs round trips to the driver, and more when the
    // temporary folder is cleared at the end.
    std::vector<std::pair<QString, QString>> mirrors;
    for (const QString &item : items) {
        const QString localPath = m_context.layout.localPathForSyncItem(item);
        m_controller.logMessage(tr("Processing \"%1\".").arg(QFileInfo(localPath).fileName()));
        // The item's place on the drive is walked, emptied and merged into: never through a link.
        const platform::ConfinedPath::Result place = platform::ConfinedPath(
            m_context.layout.pathForTavrinTarget(), m_context.layout.pathSegmentFromSyncItem(item), m_driveDevice)
                                                         .check();
        if (place.status == platform::ConfinedPath::Status::Link) {
            static_cast<void>(refuseDriveLink(place));
            result = false;
            break;
        }
        struct stat folder = {};
        if (lstat(platform::FileNameCodec::encode(localPath).constData(), &folder) == 0 && S_ISDIR(folder.st_mode)
            && !PMCorvaneUtilities::isPackagePath(localPath)) {
            const auto driveTemp = m_context.layout.driveTempPathForSyncItem(item);
            const auto localTemp = m_context.layout.localTempPathForSyncItem(item);
            if (driveTemp && localTemp) {
                // The drive copy gets the folder's own mode and date once everything is in place.
                mirrors.emplace_back(*localTemp, *driveTemp);
                m_folderItems.push_back({ item, folder });
            }
        }
        if (!scanner.syncThreadSyncItem(item)) {
            result = false;
            break;
        }
        if (m_controller.cancelPending()) {
            result = m_controller.cancelRVal();
            break;
        }
    }
    forgetBothSides();
    m_copyFailed = false;
    if (result && !m_controller.cancelPending() && m_applyResults && !paths && m_controller.isPreviewEnabled()
        && m_controller.hasPreviewPresenter()
        && (!m_context.results.isEmpty() || (m_leftOut && !m_leftOut->isEmpty()))) {
        m_controller.logMessage(tr("Showing the plan of %1 changes before applying it.").arg(m_context.results.size()));
        if (m_leftOut)
            askFilterBelowNewFolders();
        if (!m_controller.syncThreadPerformPreview(
                m_context.results, m_leftOut ? m_leftOut->items() : std::vector<PMLeftOutList::Item>())) {
            m_controller.logMessage(tr("The plan was not applied."));
            m_controller.setCancelPending(true, false);
            result = false;
        }
    }
    if (result && !m_controller.cancelPending() && m_applyResults) {
        // Mirror folders with room for the copies. A failure shows in the copies.
        if (!m_context.results.isEmpty()) {
            for (const auto &[localTemp, driveTemp] : mirrors) {
                (void)m_fileManager.createDirectoryAtPath(localTemp, QVariantMap(), true, false);
                (void)m_fileManager.createDirectoryAtPath(driveTemp, QVariantMap(), true, true);
            }
        }
        PMScanApplier applier(m_context);
        const bool applied = applier.processScanResults();
        // What was copied is moved into place even when some copy failed (the user chose to
        // go on); the failure keeps the job from being reported complete.
        m_copyFailed = !applied || applier.incomplete();
        result = m_controller.cancelPending() ? applied : true;
        if (!driveStillPresent()) {
            // What was "copied" since landed in the bare mount point; none of it may be moved
            // into place or count as synced.
            m_controller.logMessage(
                tr("The drive \"%1\" is no longer available.").arg(m_controller.deviceMountPoint()));
            result = false;
        }
    }
    if ((!result || m_copyFailed) && paths)
        m_controller.mainThreadAddContinuousSyncItems(*paths);
    return result;
}

bool PMSyncJob::syncThreadFinishSync()
{
    const bool finished = driveStillPresent() && syncThreadProcessATempFolder(m_context.layout.pathForTavrinTemp());
    // Copies left in the temporary folder are not in place: such a sync is not complete.
    if (!finished)
        m_copyFailed = true;
    else
        applyFolderAttributes();
    return finished;
}

void PMSyncJob::applyFolderAttributes()
{
    // Last, because moving children into a folder changes its date.
    for (const FolderItem &folder : m_folderItems) {
        const platform::ConfinedPath drivePath(m_context.layout.pathForTavrinTarget(),
            m_context.layout.pathSegmentFromSyncItem(folder.item), m_driveDevice);
        platform::ConfinedPath::Result result;
        const PMUniqueFd fd = drivePath.openFolder(&result);
        if (!fd.isValid()) {
            m_context.debugLine(QStringLiteral("-sync: no folder \"%1\" to date.").arg(drivePath.path()));
            continue;
        }
        // Drives that keep no modes (FAT, exFAT) refuse or ignore this; the folder is still synced.
        if (fchmod(fd.get(), folder.attributes.st_mode & 07777) != 0)
            qCDebug(lcSyncJob) << "cannot set the mode of" << drivePath.path() << strerror(errno);
        const struct timespec times[2] = { folder.attributes.st_atim, folder.attributes.st_mtim };
        if (futimens(fd.get(), times) != 0)
            qCDebug(lcSyncJob) << "cannot set the date of" << drivePath.path() << strerror(errno);
    }
    m_folderItems.clear();
}

bool PMSyncJob::driveStillPresent() const
{
    struct stat temp = {};
    return stat(platform::FileNameCodec::encode(m_context.layout.pathForTavrinTemp()).constData(), &temp) == 0
        && m_driveDevice && temp.st_dev == *m_driveDevice;
}

bool PMSyncJob::syncThreadProcessATempFolder(const QString &path)
{
    m_context.debugLine(QStringLiteral("-processTempFolders: finishing Mac->Tavrin sync."));
    const QString temp = m_context.layout.pathForTavrinTemp();
    if (path != temp && !path.startsWith(temp + QLatin1Char('/')))
        return false;
    const QString target = m_context.layout.pathForTavrinTarget();
    const platform::ConfinedPath folder(
        target, m_context.layout.relativeTavrinTemp() + path.mid(temp.size()), m_driveDevice);
    platform::ConfinedPath::Result result;
    PMUniqueFd fd = folder.openFolder(&result);
    if (result.status == platform::ConfinedPath::Status::Missing)
        return true; // nothing was copied
    if (!fd.isValid()) {
        static_cast<void>(refuseDriveLink(result));
        return false;
    }
    const std::optional<QStringList> names = listFolder(PMUniqueFd(dup(fd.get())));
    if (!names) {
        m_controller.logMessage(tr("Unable to read the folder \"%1\" on the drive - %2.")
                                    .arg(path, QString::fromLocal8Bit(strerror(errno))));
        return false;
    }
    const QString destinationBase = target + path.mid(temp.size());
    PMCopyErrorTally tally(m_copyHandler.get());
    for (const QString &name : *names) {
        if (m_controller.cancelPending() && !m_controller.cancelRVal())
            break;
        const QString source = path + QLatin1Char('/') + name;
        const QString destination = destinationBase + QLatin1Char('/') + name;
        m_context.debugLine(QStringLiteral("                : moving \"%1\" ->\"%2.").arg(source, destination));
        if (!m_fileManager.movePath(source, destination, true, &tally))
            return false;
    }
    // An error answered "go on" leaves that item out of place: the job goes on, but is not
    // complete.
    if (tally.errors() > 0) {
        m_controller.logMessage(tr("%1 item(s) could not be moved into place on the drive.").arg(tally.errors()));
        return false;
    }
    // Whatever is still here was copied but never reached its place; removing it unnoticed
    // would let the job pass for complete with the file missing on the drive.
    if (const QString left = firstItemLeftIn(std::move(fd)); !left.isEmpty()) {
        m_controller.logMessage(tr("\"%1\" was copied to the drive but could not be moved into place.")
                                    .arg(path + QLatin1Char('/') + left));
        return false;
    }
    return folder.remove().ok();
}

bool PMSyncJob::deleteFolder(const platform::ConfinedPath &folder, const QString &which)
{
    const QString path = folder.path();
    m_context.debugLine(QStringLiteral("-deleteTempFolders: deleting %1 \"%2\".").arg(which, path));
    const platform::ConfinedPath::Result result = folder.remove();
    const bool removed = result.ok();
    m_context.debugLine(QStringLiteral("-deleteTempFolders: \"%1\" was %2 deleted.")
                            .arg(path, removed ? QString() : QStringLiteral(" NOT")));
    // A link on the way is the drive's doing: nothing through it is touched, not even to
    // move it to the Trash; nor is anything once the drive went away.
    if (removed || result.status != platform::ConfinedPath::Status::Failed || result.error == ENODEV)
        return removed;
    const bool recycled = QFile::moveToTrash(path);
    m_context.debugLine(QStringLiteral("-deleteTempFolders: recycling \"%1\" %2.")
                            .arg(path, recycled ? QStringLiteral("succeeded") : QStringLiteral(" failed")));
    return recycled;
}

bool PMSyncJob::syncThreadDeleteTempFolders()
{
    // Only the job holding the drive may touch its temporary folders.
    if (!m_lock.isLocked())
        return false;
    const bool drive = deleteFolder(platform::ConfinedPath(m_context.layout.pathForTavrinTarget(),
                                        m_context.layout.relativeTavrinTemp(), m_driveDevice),
        QStringLiteral("global"));
    const bool local = deleteFolder(
        platform::ConfinedPath(m_context.layout.identity().homeDirectory, m_context.layout.relativeLocalTemp()),
        QStringLiteral("local"));
    return drive && local;
}

bool PMSyncJob::syncThreadCleanupAfterSync()
{
    const bool deleted = syncThreadDeleteTempFolders();
    m_context.results.clearScanResults();
    // The job's listings and scan entries were allocated by several threads, each in a heap
    // arena of its own; give what they freed back to the system, so an agent that waits for
    // the next change does not keep the peak of the last job.
    malloc_trim(0);
    m_copyHandler.reset();
    m_context.copyHandler = nullptr;
    m_lock.unlock();
    qCInfo(lcSyncJob).noquote()
        << QStringLiteral("Final Progress Dictionary: %1").arg(QDebug::toString(m_controller.progressDict()));
    m_controller.sendActivityNotification(true);
    return deleted;
}

void PMSyncJob::syncThreadReportResults(bool success)
{
    // What could be copied is in place, but a sync with a failed copy is not complete, and
    // neither is one the drive holds no record of (its settings file could not be written).
    success = success && !m_copyFailed && !m_controller.syncTimeNotSaved();
    QString message;
    // A share whose server went away fails in ways that do not all reach the error reporters
    // (a folder that could not be made, a drive that seems gone); when the share itself no
    // longer answers, that is what ended the job.
    if (!success && !m_controller.cancelPending() && m_controller.isNetworkDevice()
        && PMNetworkDrive::stopsAnswering(m_controller.deviceMountPoint()))
        m_controller.connectionToDeviceLost();
    if (m_controller.cancelPending()) {
        // A network drive whose device went away was not canceled by anybody.
        const bool connectionLost = m_controller.lostNetworkConnection();
        message = connectionLost ? tr("Synchronization of \"%1\" failed due to connection error.").arg(displayName())
                                 : tr("Synchronization of \"%1\" canceled.").arg(displayName());
        {
            std::lock_guard lock(m_reportMutex);
            m_lastReportMessage = message;
        }
        m_controller.setFailureType(
            connectionLost ? PMSyncController::kFailureNetworkLost : PMSyncController::kFailureCanceled);
        m_controller.logMessage(message);
        m_controller.setActivityType(PMSyncController::kActivityFailed);
        m_controller.sendActivityNotification(true);
        return;
    }
    if (success) {
        message = tr("Synchronization of \"%1\" completed successfully.").arg(displayName());
        m_controller.setActivityType(PMSyncController::kActivityCompleted);
        m_controller.setFailureType(PMSyncController::kFailureNone);
    } else {
        message = tr("Synchronization of \"%1\" did not complete successfully.").arg(displayName());
        m_controller.setActivityType(PMSyncController::kActivityFailed);
        if (m_controller.failureType() == PMSyncController::kFailureNone)
            m_controller.setFailureType(PMSyncController::kFailureIncomplete);
    }
    {
        std::lock_guard lock(m_reportMutex);
        m_lastReportMessage = message;
    }
    m_controller.sendActivityNotification(true);
    m_controller.logMessage(message);
    if (!success && !m_controller.continuousSyncInProgress())
        m_controller.syncThreadPerformAlert(tr("Sync Failed"), tr("Check the log for more details."), false, true);
}

void PMSyncJob::threadDoSyncListUpdate(const QStringList &syncList)
{
    PMConfigurationFile &config = m_controller.deviceConfig();
    if (PMAgentLog::isDebugEnabled()) {
        m_controller.logMessage(QStringLiteral("-setSyncItemList: existing sync list\n%1\n")
                                    .arg(config.syncItemList().value_or(QStringList()).join(QLatin1Char('\n'))));
        m_controller.logMessage(
            QStringLiteral("-setSyncItemList: new sync list\n%1\n").arg(syncList.join(QLatin1Char('\n'))));
    }
    // One write, and none when the list is the one the drive already holds.
    PMConfigurationBatch batch(config);
    const bool listSet = config.setSyncItemList(syncList);
    const bool written = batch.commit() && listSet;
    if (!written)
        qCWarning(lcSyncJob) << "config file was NOT updated";
    m_controller.logMessage(written ? tr("Update Sync Items completed.") : tr("Update Sync Items Failed."));
    if (!written)
        m_controller.syncThreadPerformAlert(tr("Update Sync Items Failed"),
            tr("The changes to the sync list on \"%1\" were not saved.  Check the log for more details.")
                .arg(displayName()),
            false, true);
}
