#include "agent/sync/PMItemScanner.h"

#include "agent/copy/PMFileManager.h"
#include "agent/copy/PMFileNameText.h"
#include "agent/sync/PMCaseProbe.h"
#include "agent/sync/PMSyncController.h"
#include "agent/sync/PMSyncJobContext.h"
#include "agent/sync/PMTreeSnapshot.h"
#include "agent/sync/PMTrueDeleteRecord.h"
#include "platform/FileNameCodec.h"
#include "platform/PMCorvaneUtilities.h"

#include <QDateTime>
#include <QFile>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

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
    // errno tells "does not exist" from "cannot be read".
    return lstat(platform::FileNameCodec::encode(path).constData(), sb) == 0;
}

// The names in a folder, in listing order; nullopt with *error set when it cannot be read.
std::optional<QList<QByteArray>> readFolder(const QString &path, int *error)
{
    const std::unique_ptr<DIR, int (*)(DIR *)> folder(
        opendir(platform::FileNameCodec::encode(path).constData()), closedir);
    if (!folder) {
        *error = errno;
        return std::nullopt;
    }
    QList<QByteArray> names;
    errno = 0;
    while (const dirent *entry = readdir(folder.get())) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.append(QByteArray(entry->d_name));
    }
    *error = errno;
    if (*error != 0)
        return std::nullopt;
    return names;
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

bool PMItemScanner::acceptChildName(const QString &folder, QByteArrayView name, NamesSeen &seen)
{
    // A name that is not valid UTF-8 is copied byte for byte where the drive takes any bytes;
    // a drive that keeps names as Unicode cannot hold it: left out and said so, by its bytes.
    if (!m_context.driveHoldsAnyNameBytes && !PMFileNameText::isValidUtf8(name)) {
        m_context.controller.logMessage(
            QStringLiteral("Cannot sync \"%1\" in \"%2\": its name is not valid UTF-8.")
                .arg(PMFileNameText::escaped(name), platform::FileNameCodec::printable(folder)));
        m_context.itemsLeftOut = true;
        return false;
    }
    const QString text = platform::FileNameCodec::decode(name);
    const QString key = PMFileNameText::caseKey(text);
    const auto other = seen.constFind(key);
    if (other == seen.cend()) {
        seen.insert(key, text);
        return true;
    }
    // Names that differ only in case are one name on a drive that ignores case.
    if (!driveIgnoresCase())
        return true;
    m_context.controller.logMessage(
        QStringLiteral("The drive cannot hold both \"%1\" and \"%2\" in \"%3\": "
                       "their names differ only in case. \"%2\" is not synced.")
            .arg(platform::FileNameCodec::printable(*other), platform::FileNameCodec::printable(text),
                platform::FileNameCodec::printable(folder)));
    m_context.itemsLeftOut = true;
    return false;
}

bool PMItemScanner::driveIgnoresCase()
{
    if (!m_driveIgnoresCase)
        m_driveIgnoresCase = PMCaseProbe::ignoresCase(m_context.layout.pathForTavrinTemp());
    return *m_driveIgnoresCase;
}

void PMItemScanner::reportUnreadable(const QString &localPath, int error)
{
    m_context.controller.logMessage(QStringLiteral("Cannot read \"%1\" - %2. It is not synced.")
                                        .arg(localPath, QString::fromLocal8Bit(std::strerror(error))));
    m_context.itemsLeftOut = true;
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
    if (!localExists && errno != ENOENT && errno != ENOTDIR) {
        // There, but out of reach: left out, and said so.
        reportUnreadable(localPath, errno);
        return logReturn(localPath, *drivePath, true);
    }
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
    return logReturn(localPath, *drivePath, compareLeaves(localPath, *drivePath, *driveTemp, local, drive));
}

bool PMItemScanner::compareLeaves(const QString &localPath, const QString &drivePath, const QString &driveTemp,
    const struct stat &local, const struct stat &drive)
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
    // One-way: whenever the two copies differ (dates at the drive's precision, or sizes), the
    // drive is brought to what the computer holds. The last sync time never hides a
    // difference: a file edited during a sync, a copy that never reached its place, or a file
    // replaced by an older one all have both dates before it. It only tells an overwrite from
    // a conflict.
    const qint64 delta = m_context.precision.difference(localNs, driveNs);
    const bool sizesDiffer = !S_ISDIR(local.st_mode) && !S_ISDIR(drive.st_mode) && local.st_size != drive.st_size;
    if (delta == 0 && !sizesDiffer) {
        skipPresent();
        return true;
    }

    PMScanEntry entry;
    const bool conflict = hasLastSync && localSinceSync > 0 && driveSinceSync > 0;
    entry.type = conflict ? PMScanEntry::kTypeConflict : PMScanEntry::kTypeOverwrite;
    entry.action = PMScanEntry::kActionCopyToDrive;
    entry.localPath = localPath;
    entry.tavrinPath = driveTemp;
    // Both sides were edited and the drive's edit is the later one: it is kept, not lost.
    if (conflict && delta < 0)
        entry.driveCopyToKeep = drivePath;
    entry.localModDate = dateOf(local);
    entry.tavrinModDate = dateOf(drive);
    entry.backupDate = m_context.fileManager.syncBackupDateFor(drivePath);
    entry.localSize = qint64(local.st_size);
    entry.tavrinSize = qint64(drive.st_size);

    if (m_context.debug) {
        const bool localNewer = delta >= 0;
        m_context.debugLine(QStringLiteral("-\n-:    local mod date : %1\n-: Tavrin mod date : %2\n"
                                           "-:      lastSyncTime : %3\n-:          modDelta : %4")
                                .arg(dateText(*entry.localModDate), dateText(*entry.tavrinModDate),
                                    hasLastSync ? dateText(lastSync) : QStringLiteral("(null)"))
                                .arg(double(delta) / kNanosecondsPerSecond, 0, 'f', 6));
        // The drive always takes the computer's copy; the words say which side was newer.
        m_context.debugLine(
            QStringLiteral("-\n-: replacing %1 %2 file %3\n-: with %4 %5 file %6")
                .arg(localNewer ? QStringLiteral("older") : QStringLiteral("newer"), QStringLiteral("Tavrin"),
                    drivePath, localNewer ? QStringLiteral("newer") : QStringLiteral("older"),
                    QStringLiteral("local   "), localPath));
    }
    return m_context.results.addEntryToScanResults(std::move(entry));
}

bool PMItemScanner::syncChild(const ItemPaths &child, const struct stat *knownLocal, const DriveKnowledge &knownDrive,
    const std::function<bool()> &nameFits)
{
    PMSyncController &controller = m_context.controller;
    // One look at each local item serves the filter, the comparison and the counters.
    struct stat local = {};
    if (knownLocal)
        local = *knownLocal;
    const bool known = knownLocal || statPath(child.local, &local);
    if (!known && errno != ENOENT && errno != ENOTDIR) {
        reportUnreadable(child.local, errno);
        return true;
    }
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
    if (!nameFits())
        return true;
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
        NamesSeen seen;
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
            const ItemPaths child = childPaths(platform::FileNameCodec::decode(name));
            if (!syncChild(child, entry.isKnown() ? &local : nullptr, drive,
                    [&] { return acceptChildName(localPath, name, seen); }))
                return false;
        }
    } else {
        int error = 0;
        const std::optional<QList<QByteArray>> names = readFolder(localPath, &error);
        if (!names) {
            reportUnreadable(localPath, error);
            return true;
        }
        NamesSeen seen;
        for (const QByteArray &name : *names)
            if (!syncChild(childPaths(platform::FileNameCodec::decode(name)), nullptr, DriveKnowledge(),
                    [&] { return acceptChildName(localPath, name, seen); }))
                return false;
    }
    // Items only on the drive stay; the listing is only needed for the debug trace.
    if (m_context.debug) {
        m_context.debugLine(
            QStringLiteral("-\n-: items are directories - back from recursion now checking for missing files"));
        int error = 0;
        const QList<QByteArray> driveNames = readFolder(drivePath, &error).value_or(QList<QByteArray>());
        for (const QByteArray &bytes : driveNames) {
            const QString name = platform::FileNameCodec::decode(bytes);
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
