#include "agent/sync/PMScanApplier.h"

#include "agent/copy/PMCopyReadAhead.h"
#include "agent/copy/PMFileManager.h"
#include "agent/sync/PMSyncController.h"
#include "agent/sync/PMSyncJobContext.h"
#include "agent/sync/PMTrueDeleteRecord.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

PMScanApplier::PMScanApplier(PMSyncJobContext &context)
    : m_context(context)
{
}

bool PMScanApplier::removeItem(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    const bool removed = info.isDir() && !info.isSymLink() ? QDir(path).removeRecursively() : QFile::remove(path);
    if (!removed)
        m_context.controller.logMessage(QStringLiteral("Unable to delete \"%1\".").arg(path));
    return removed;
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
    QStringList sources;
    for (const PMScanEntry &entry : m_context.results)
        sources.append(entry.enabled && entry.action == PMScanEntry::kActionCopyToDrive ? entry.localPath : QString());
    PMCopyReadAhead readAhead(sources);
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
            readAhead.reached(index);
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
    if (result && !m_copyFailed && !controller.cancelPending())
        controller.updateLastSyncTime(QDateTime::currentDateTimeUtc());
    return result;
}
