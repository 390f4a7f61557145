#include "agent/sync/PMItemScanner.h"

#include "agent/copy/PMFileManager.h"
#include "agent/sync/PMSyncController.h"
#include "agent/sync/PMSyncJobContext.h"
#include "agent/sync/PMTreeSnapshot.h"
#include "agent/sync/PMTrueDeleteRecord.h"
#include "platform/PMCorvaneUtilities.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr qint64 kNanosecondsPerSecond = 1000000000;
// Dates missing on a file count as 1904-01-01 00:00:00 +0000.
const QDateTime kMissingDate(QDate(1904, 1, 1), QTime(0, 0), Qt::UTC);

qint64 nanoseconds(const struct timespec &t)
{
    return qint64(t.tv_sec) * kNanosecondsPerSecond + t.tv_nsec;
}

QDateTime dateOf(const struct stat &sb)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(sb.st_mtim.tv_sec) * 1000 + sb.st_mtim.tv_nsec / 1000000, Qt::UTC);
}

QString dateText(const QDateTime &date)
{
    return date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000"));
}

bool statPath(const QString &path, struct stat *sb)
{
    // Unreadable attributes count as "does not exist".
    return lstat(QFile::encodeName(path).constData(), sb) == 0;
}

bool isFolderItem(const QString &path, const struct stat &sb)
{
    return S_ISDIR(sb.st_mode) && !PMCorvaneUtilities::isPackagePath(path);
}

QString typeName(bool folder)
{
    return folder ? QStringLiteral("NSFileTypeDirectory") : QStringLiteral("NSFileTypeRegular");
}

QString joinItem(const QString &item, const QString &name)
{
    if (item.endsWith(QLatin1Char('/')))
        return item + name;
    return item + QLatin1Char('/') + name;
}

} // namespace

PMItemScanner::PMItemScanner(PMSyncJobContext &context)
    : m_context(context)
{
}

bool PMItemScanner::isSameOrBelow(const QString &path, const QString &ancestor)
{
    if (path == ancestor)
        return true;
    if (ancestor.endsWith(QLatin1Char('/')))
        return path.startsWith(ancestor);
    return path.size() > ancestor.size() && path.startsWith(ancestor) && path.at(ancestor.size()) == QLatin1Char('/');
}

QStringList PMItemScanner::collapseChangedPaths(QStringList paths)
{
    // Sorting by components puts every path right after the folders that contain it, so one
    // look at the last kept path removes everything below it.
    std::sort(paths.begin(), paths.end(), [](const QString &a, const QString &b) {
        const QStringList left = a.split(QLatin1Char('/'));
        const QStringList right = b.split(QLatin1Char('/'));
        return std::lexicographical_compare(left.cbegin(), left.cend(), right.cbegin(), right.cend());
    });
    QStringList kept;
    for (const QString &path : paths)
        if (kept.isEmpty() || !isSameOrBelow(path, kept.last()))
            kept.append(path);
    return kept;
}

QStringList PMItemScanner::itemsForJob(const std::optional<QStringList> &changedPaths) const
{
    QStringList syncItems = m_context.controller.deviceConfig().syncItemList().value_or(QStringList());
    if (!changedPaths)
        return syncItems;
    QStringList items;
    for (const QString &path : collapseChangedPaths(*changedPaths)) {
        const QString item = m_context.layout.syncItemForLocalPath(path);
        const bool inside = std::any_of(syncItems.cbegin(), syncItems.cend(),
            [&](const QString &syncItem) { return isSameOrBelow(item, syncItem); });
        if (inside)
            items.append(item);
    }
    return items;
}

bool PMItemScanner::logReturn(const QString &localPath, const QString &drivePath, bool result) const
{
    if (m_context.debug) {
        m_context.debugLine(QStringLiteral("-\n-: comparing \"%1\"\n-:          to \"%2\"\n-:     returning %3")
                                .arg(localPath, drivePath, result ? QStringLiteral("YES") : QStringLiteral("NO")));
        if (!result)
            fputs("rval == NO\n", stderr);
    }
    return result;
}

bool PMItemScanner::syncThreadSyncItem(const QString &item)
{
    const PMDriveLayout &layout = m_context.layout;
    const auto drivePath = layout.drivePathForSyncItem(item);
    const auto driveTemp = layout.driveTempPathForSyncItem(item);
    const auto localTemp = layout.localTempPathForSyncItem(item);
    const QString localPath = layout.localPathForSyncItem(item);
    if (!drivePath || !driveTemp || !localTemp) {
        m_context.controller.logMessage(
            QStringLiteral("Cannot sync \"%1\": its place on the drive would be outside the drive.").arg(localPath));
        return false;
    }
    return syncItem({ item, localPath, *drivePath, *driveTemp, *localTemp }, false, nullptr, DriveKnowledge());
}

bool PMItemScanner::syncItem(
    const ItemPaths &paths, bool filtered, const struct stat *knownLocal, const DriveKnowledge &knownDrive)
{
    PMSyncController &controller = m_context.controller;
    const QString &localPath = paths.local;
    const QString *drivePath = &paths.drive;
    const QString *driveTemp = &paths.driveTemp;
    const QString *localTemp = &paths.localTemp;
    const QString name = localPath.section(QLatin1Char('/'), -1);

    // Children were filtered by the folder walk already; ask again only for sync items.
    if (!filtered && !m_context.shouldCopyItem(localPath, name)) {
        m_context.debugLine(QStringLiteral("-\n-: skipping \"%1\"\n-:     <--> \"%2\"").arg(localPath, *drivePath));
        controller.accumulateSkipFilteredDataPath(localPath);
        return logReturn(localPath, *drivePath, true);
    }
    if (controller.cancelPending())
        return logReturn(localPath, *drivePath, controller.cancelRVal());

    struct stat local = {};
    if (knownLocal)
        local = *knownLocal;
    struct stat drive = knownDrive.attributes;
    const bool localExists = knownLocal || statPath(localPath, &local);
    const bool driveExists = knownDrive.known ? knownDrive.exists : statPath(*drivePath, &drive);

    if (localExists && !driveExists) {
        PMScanEntry entry;
        entry.type = PMScanEntry::kTypeNew;
        entry.action = PMScanEntry::kActionCopyToDrive;
        entry.localPath = localPath;
        entry.tavrinPath = *driveTemp;
        entry.localModDate = dateOf(local);
        entry.localSize = qint64(local.st_size);
        m_context.results.addEntryToScanResults(std::move(entry));
        m_context.debugLine(
            QStringLiteral("-\n-: copying local: \"%1\"\n-:   to Tavrin: \"%2\"").arg(localPath, *drivePath));
        return logReturn(localPath, *drivePath, true);
    }
    if (!localExists && driveExists)
        return logReturn(localPath, *drivePath, false);
    if (!localExists) {
        m_context.debugLine(QStringLiteral("-\n-: unable to sync \"%1\" with \"%2\" because it does not exist on "
                                           "either the Mac or the Tavrin.")
                                .arg(localPath, *drivePath));
        return logReturn(localPath, *drivePath, true);
    }

    const bool localFolder = isFolderItem(localPath, local);
    const bool driveFolder = isFolderItem(*drivePath, drive);
    if (localFolder != driveFolder) {
        m_context.debugLine(QStringLiteral("                : Mac file type         : %1\n"
                                           "                : Tavrin file type    : %2\n"
                                           "                : skipping because file types do not match.")
                                .arg(typeName(localFolder), typeName(driveFolder)));
        controller.logMessage(QStringLiteral("Cannot sync \"%1\": it is a %2 here but a %3 on the drive.")
                                  .arg(localPath, localFolder ? QStringLiteral("folder") : QStringLiteral("file"),
                                      driveFolder ? QStringLiteral("folder") : QStringLiteral("file")));
        return logReturn(localPath, *drivePath, false);
    }
    if (localFolder) {
        m_context.debugLine(QStringLiteral("-\n-: items are directories - recursing"));
        return logReturn(localPath, *drivePath, walkFolder(paths));
    }
    return logReturn(localPath, *drivePath, compareLeaves(localPath, *drivePath, *localTemp, *driveTemp, local, drive));
}

bool PMItemScanner::compareLeaves(const QString &localPath, const QString &drivePath, const QString &localTemp,
    const QString &driveTemp, const struct stat &local, const struct stat &drive)
{
    PMSyncController &controller = m_context.controller;
    if (controller.cancelPending())
        return false;

    const qint64 localNs = nanoseconds(local.st_mtim);
    const qint64 driveNs = nanoseconds(drive.st_mtim);
    const QDateTime lastSync = controller.lastSyncTime();
    const bool hasLastSync = lastSync.isValid();
    const qint64 lastSyncNs = hasLastSync ? lastSync.toMSecsSinceEpoch() * 1000000 : 0;
    // Both dates as the drive keeps them; the last sync time is compared the same way.
    const qint64 localSinceSync = m_context.precision.difference(localNs, lastSyncNs);
    const qint64 driveSinceSync = m_context.precision.difference(driveNs, lastSyncNs);

    // Leaves are files, links or packages: a package's size is its whole tree.
    const auto skipPresent = [&] {
        controller.accumulateSkipPresentData(S_ISDIR(local.st_mode) ? PMFileManager::fastFolderSizeAtPath(localPath)
                                                                    : PMFileManager::fastItemSize(local));
    };
    if (hasLastSync && localSinceSync <= 0 && driveSinceSync <= 0) {
        skipPresent();
        return true;
    }
    const qint64 delta = m_context.precision.difference(localNs, driveNs);
    if (delta == 0) {
        skipPresent();
        return true;
    }

    PMScanEntry entry;
    entry.type = hasLastSync && localSinceSync > 0 && driveSinceSync > 0 ? PMScanEntry::kTypeConflict
                                                                         : PMScanEntry::kTypeOverwrite;
    if (delta > 0) {
        entry.action = PMScanEntry::kActionCopyToDrive;
        entry.localPath = localPath;
        entry.tavrinPath = driveTemp;
    } else {
        entry.action = PMScanEntry::kActionDriveIsNewer;
        entry.localPath = localTemp;
        entry.tavrinPath = drivePath;
    }
    entry.localModDate = dateOf(local);
    entry.tavrinModDate = dateOf(drive);
    entry.backupDate = m_context.fileManager.syncBackupDateFor(drivePath);
    entry.localSize = qint64(local.st_size);
    entry.tavrinSize = qint64(drive.st_size);

    if (m_context.debug) {
        const bool localNewer = delta > 0;
        m_context.debugLine(QStringLiteral("-\n-:    local mod date : %1\n-: Tavrin mod date : %2\n"
                                           "-:      lastSyncTime : %3\n-:          modDelta : %4")
                                .arg(dateText(*entry.localModDate), dateText(*entry.tavrinModDate),
                                    hasLastSync ? dateText(lastSync) : QStringLiteral("(null)"))
                                .arg(double(delta) / kNanosecondsPerSecond, 0, 'f', 6));
        m_context.debugLine(QStringLiteral("-\n-: replacing older %1 file %2\n-: with newer %3 file %4")
                                .arg(localNewer ? QStringLiteral("Tavrin") : QStringLiteral("local   "),
                                    localNewer ? drivePath : localPath,
                                    localNewer ? QStringLiteral("local   ") : QStringLiteral("Tavrin"),
                                    localNewer ? localPath : drivePath));
    }
    return m_context.results.addEntryToScanResults(std::move(entry));
}

bool PMItemScanner::syncChild(const ItemPaths &child, const struct stat *knownLocal, const DriveKnowledge &knownDrive)
{
    PMSyncController &controller = m_context.controller;
    // One look at each local item serves the filter, the comparison and the counters.
    struct stat local = {};
    if (knownLocal)
        local = *knownLocal;
    const bool known = knownLocal || statPath(child.local, &local);
    const bool copy
        = known ? m_context.shouldCopyMediaFile(child.local, local) : m_context.shouldCopyMediaFile(child.local);
    if (!copy) {
        if (!known)
            controller.accumulateSkipFilteredDataPath(child.local);
        else if (!controller.cancelPending())
            controller.accumulateSkipFilteredData(S_ISDIR(local.st_mode)
                    ? PMFileManager::fastFolderSizeAtPath(child.local)
                    : PMFileManager::fastItemSize(local));
        return true;
    }
    return syncItem(child, true, known ? &local : nullptr, knownDrive);
}

bool PMItemScanner::walkFolder(const ItemPaths &paths)
{
    PMSyncController &controller = m_context.controller;
    const QString &localPath = paths.local;
    const QString &drivePath = paths.drive;
    const auto childPaths = [&](const QString &name) {
        // Names from a listing hold no "..", and the drive folder was seen to be a real
        // folder, so children stay on the drive without checking every step again.
        return ItemPaths { joinItem(paths.item, name), joinItem(localPath, name), joinItem(drivePath, name),
            joinItem(paths.driveTemp, name), joinItem(paths.localTemp, name) };
    };
    std::optional<PMFolderListing> localListing
        = m_context.localTree ? m_context.localTree->takeListing(localPath) : std::nullopt;
    if (localListing) {
        const std::optional<PMFolderListing> driveListing
            = m_context.driveTree ? m_context.driveTree->takeListing(drivePath) : std::nullopt;
        for (int i = 0; i < localListing->count(); ++i) {
            const QByteArrayView name = localListing->nameAt(i);
            const PMFolderListing::Entry &entry = localListing->entryAt(i);
            DriveKnowledge drive;
            if (driveListing) {
                const PMFolderListing::Entry *onDrive = driveListing->find(name);
                drive.known = !onDrive || onDrive->isKnown();
                drive.exists = onDrive != nullptr;
                if (onDrive)
                    drive.attributes = onDrive->toStat();
            }
            const struct stat local = entry.toStat();
            const ItemPaths child = childPaths(QString::fromLocal8Bit(name));
            if (!syncChild(child, entry.isKnown() ? &local : nullptr, drive))
                return false;
        }
    } else {
        const QStringList names = QDir(localPath).entryList(
            QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::NoSort);
        for (const QString &name : names)
            if (!syncChild(childPaths(name), nullptr, DriveKnowledge()))
                return false;
    }
    // Items only on the drive stay; the listing is only needed for the debug trace.
    if (m_context.debug) {
        m_context.debugLine(
            QStringLiteral("-\n-: items are directories - back from recursion now checking for missing files"));
        const QStringList driveNames
            = QDir(drivePath).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        for (const QString &name : driveNames) {
            if (controller.cancelPending())
                return controller.cancelRVal();
            struct stat sb = {};
            if (statPath(localPath + QLatin1Char('/') + name, &sb) || PMTrueDeleteRecord::isRecordName(name))
                continue;
            m_context.debugLine(
                QStringLiteral("-\n-: skipping Tavrin item \"%1\"").arg(drivePath + QLatin1Char('/') + name));
        }
    }
    return true;
}
