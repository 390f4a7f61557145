#include "agent/sync/PMScanApplier.h"

#include "agent/copy/PMCopyReadAhead.h"
#include "agent/copy/PMFileManager.h"
#include "agent/copy/PMItemOperations.h"
#include "agent/sync/PMDriveCopyKeeper.h"
#include "agent/sync/PMSyncController.h"
#include "agent/sync/PMSyncJobContext.h"
#include "agent/sync/PMTrueDeleteRecord.h"
#include "platform/ConfinedPath.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <optional>

namespace {

// The read-ahead is told of one stretch of the results at a time (and of the files its window
// reaches past the stretch's end): a job of 100,000 copies never holds all their paths at once.
constexpr qsizetype kReadAheadStretch = 1024;

// The local paths of the copies among count entries from first on; other entries hold a place.
QStringList copySources(const PMScanResults &results, qsizetype first, qsizetype count)
{
    QStringList sources;
    const qsizetype end = std::min(results.size(), first + count);
    for (qsizetype i = first; i < end; ++i) {
        const PMScanEntry entry = results.at(i);
        sources.append(entry.enabled && entry.action == PMScanEntry::kActionCopyToDrive ? entry.localPath : QString());
    }
    return sources;
}

} // namespace

PMScanApplier::PMScanApplier(PMSyncJobContext &context)
    : m_context(context)
{
}

bool PMScanApplier::removeItem(const QString &path)
{
    // Drive items are reached from the mount point one folder at a time, so a link the drive
    // planted on the way removes nothing outside it; trees are never followed through links.
    const QString mountPoint = QDir::cleanPath(m_context.layout.pathForTavrinTarget());
    const QString clean = QDir::cleanPath(path);
    bool removed = false;
    if (clean.startsWith(mountPoint + QLatin1Char('/'))) {
        const platform::ConfinedPath item(mountPoint, clean.mid(mountPoint.size() + 1));
        removed = item.remove().ok();
    } else {
        const QFileInfo info(clean);
        removed = (!info.exists() && !info.isSymLink()) || PMItemOperations(nullptr).removeItem(clean);
    }
    if (!removed)
        m_context.controller.logMessage(QStringLiteral("Unable to delete \"%1\".").arg(path));
    return removed;
}

bool PMScanApplier::keepDriveCopy(const PMScanEntry &entry)
{
    PMSyncController &controller = m_context.controller;
    const QString kept = PMDriveCopyKeeper::keep(
        m_context.layout.pathForTavrinTarget(), entry.driveCopyToKeep, entry.tavrinModDate.value_or(QDateTime()));
    if (kept.isNull()) {
        controller.logMessage(QStringLiteral("\"%1\" changed on both sides since the last sync and the drive's copy "
                                             "is newer, but it could not be kept under another name; "
                                             "it is left as it is.")
                                  .arg(entry.driveCopyToKeep));
        return false;
    }
    controller.logMessage(QStringLiteral("\"%1\" changed on both sides since the last sync and the drive's copy is "
                                         "newer: the drive's copy is kept as \"%2\".")
                              .arg(entry.driveCopyToKeep, kept));
    return true;
}

bool PMScanApplier::applyDeletion(const PMScanEntry &entry, bool running)
{
    PMSyncController &controller = m_context.controller;
    bool proceed = running;
    if (entry.type == PMScanEntry::kTypeDeleteWritingRecord) {
        const auto users = PMConfigurationFile::configWithMountPoint(controller.deviceMountPoint(), 2)
                               ->configSyncUserList()
                               .value_or(QStringList());
        proceed = !entry.trueDelete.isEmpty()
            && PMTrueDeleteRecord::createTrueDeleteFileAtPath(
                entry.trueDelete, users, controller.deviceConfig().userId());
    } else if (entry.type == PMScanEntry::kTypeDeleteRemovingId) {
        PMTrueDeleteRecord::removeComputerIDFromTrueDeleteFile(controller.deviceConfig().userId(), entry.trueDelete);
    }
    if (!proceed)
        return false;
    return removeItem(entry.action == PMScanEntry::kActionDeleteLocal ? entry.localPath : entry.tavrinPath);
}

bool PMScanApplier::processScanResults()
{
    PMSyncController &controller = m_context.controller;
    bool result = true;
    m_copyFailed = false;
    std::optional<PMCopyReadAhead> readAhead;
    qsizetype stretchStart = 0;
    qsizetype index = -1;
    for (const PMScanEntry &entry : m_context.results) {
        ++index;
        if (controller.cancelPending())
            return result;
        if (!entry.enabled || entry.action == PMScanEntry::kActionNone)
            continue;
        switch (entry.action) {
        case PMScanEntry::kActionCopyToDrive: {
            if (entry.type == PMScanEntry::kTypeNewReplacing && !entry.trueDelete.isEmpty())
                removeItem(entry.trueDelete);
            if (!m_context.shouldCopyMediaFile(entry.localPath))
                break;
            if (!entry.driveCopyToKeep.isEmpty() && !keepDriveCopy(entry)) {
                // Copying now would put the computer's copy over the drive's later edit.
                result = false;
                m_copyFailed = true;
                break;
            }
            if (!readAhead || index - stretchStart >= kReadAheadStretch) {
                stretchStart = index;
                readAhead.emplace(
                    copySources(m_context.results, stretchStart, kReadAheadStretch + PMCopyReadAhead::kDefaultWindow));
            }
            readAhead->reached(index - stretchStart);
            const bool copied
                = m_context.fileManager.copyPath(entry.localPath, entry.tavrinPath, true, m_context.copyHandler);
            result = copied;
            m_copyFailed = m_copyFailed || !copied;
            break;
        }
        case PMScanEntry::kActionDriveIsNewer:
            controller.logMessage(QStringLiteral("\"%1\" is newer on the drive than on this computer; "
                                                 "both copies are left as they are.")
                                      .arg(entry.tavrinPath));
            break;
        case PMScanEntry::kActionDeleteOnDrive:
        case PMScanEntry::kActionDeleteLocal:
            result = applyDeletion(entry, result);
            break;
        default:
            break;
        }
    }
    // The walk's start: whatever changed after it (even while the copies were made) is newer
    // than this sync for the next one.
    if (result && !incomplete() && !controller.cancelPending())
        controller.updateLastSyncTime(
            m_context.walkStarted.isValid() ? m_context.walkStarted : QDateTime::currentDateTimeUtc());
    return result;
}
