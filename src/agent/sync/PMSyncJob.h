// One drive's sync job, phase by phase: prepare the target and temporary folders, walk the
// sync items, apply what the walk found into the drive's temporary folder, move that folder's
// content into place, delete the temporary folders and report the result. Also the sync-list
// update job.
//
// Copies never write straight into the synced tree: a job that is interrupted leaves its
// copies in the temporary folder, which the next job's preparation deletes. Two jobs of the
// same computer-user never run on one drive at once (PMDriveJobLock).
//
//   auto controller = std::make_unique<PMSyncController>(mount, vendor, uuid, userId, &owner,
//       [](PMSyncController &c) { return std::make_unique<PMSyncJob>(c); });
//
// Every phase runs on the drive's worker thread (see PMSyncJobPhases).
#pragma once

#include "agent/copy/PMFileManager.h"
#include "agent/sync/PMDriveJobLock.h"
#include "agent/sync/PMSyncJobContext.h"
#include "agent/sync/PMSyncJobPhases.h"
#include "platform/ConfinedPath.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <sys/stat.h>

class PMCopyHandler;
class PMCopyItemFilter;
class PMLeftOutList;
class PMSyncController;
class PMTreeSnapshot;

class PMSyncJob : public PMSyncJobPhases {
public:
    struct Options {
        // The media filter; unset: the media lists of the drive's settings for this user
        // (PMMediaCopyFilter). A function answering nullptr lets every item but links through.
        std::function<std::shared_ptr<const PMCopyItemFilter>()> makeFilter;
        // The handler of copy and move errors; unset: the copy error reporter
        // (KRTCopyErrorReporter), which asks the user and hands progress to the controller.
        std::function<std::unique_ptr<PMCopyHandler>(PMSyncController &)> makeCopyHandler;
        // Whether the drive cannot hold files of 4 GiB; nullopt: ask the drive's file system.
        std::optional<bool> limitTo4G;
        // The drive layout identity; nullopt: this computer and user.
        std::optional<PMDriveLayout::Identity> identity;
    };

    explicit PMSyncJob(PMSyncController &controller, Options options = {});
    ~PMSyncJob() override;

    void syncThreadBasicSetup() override;
    bool syncThreadPrepareFolders() override;
    bool syncThreadSyncItems(const std::optional<QStringList> &paths) override;
    bool syncThreadFinishSync() override;
    bool syncThreadCleanupAfterSync() override;
    void syncThreadReportResults(bool success) override;
    void threadDoSyncListUpdate(const QStringList &syncList) override;

    // Walks the items and keeps the scan results without touching either side: no folder is
    // made, nothing copied (a dry run). Runs on the calling thread.
    // items: exactly these sync items; nullopt: the drive's sync list.
    bool scanOnly(const std::optional<QStringList> &items = std::nullopt);
    // Asks the job's filter about everything inside the folders the last walk found new (the
    // walk does not look inside them), so a filter that records what it leaves out has every
    // file; see PMLeftOutWalk. Calling thread.
    void askFilterBelowNewFolders() const;
    // The report of the last job ("Synchronization of ... completed successfully."); any thread.
    QString lastReportMessage() const;

    bool syncThreadProcessATempFolder(const QString &path);
    bool syncThreadDeleteTempFolders();

    const PMDriveLayout &layout() const { return m_context.layout; }
    const PMScanResults &scanResults() const { return m_context.results; }
    // The scan results of the last walk, kept for a preview instead of being applied.
    void setApplyResults(bool apply) { m_applyResults = apply; }

private:
    // Reads the items' trees on both sides at once and measures the computer's side for the
    // progress total; the walk then compares listings instead of asking for every path.
    void readBothSides(const QStringList &items);
    void forgetBothSides();
    QString displayName() const;
    void prepareFilter();
    bool deleteFolder(const platform::ConfinedPath &folder, const QString &which);
    // Logs a link (or file) the drive holds where one of its folders belongs; false then.
    bool refuseDriveLink(const platform::ConfinedPath::Result &result);
    // Gives the drive copies of the job's folder items their folders' modes and dates.
    void applyFolderAttributes();
    // False once the drive's temporary folder no longer lies on the file system it was
    // prepared on: the drive went away and its path now leads into the bare mount point.
    bool driveStillPresent() const;

    PMSyncController &m_controller;
    Options m_options;
    PMFileManager m_fileManager;
    PMSyncJobContext m_context;
    PMDriveJobLock m_lock;
    std::shared_ptr<const PMCopyItemFilter> m_filter;
    // What the media filter left out, kept while a preview will show it.
    std::shared_ptr<PMLeftOutList> m_leftOut;
    std::unique_ptr<PMCopyHandler> m_copyHandler;
    std::unique_ptr<PMTreeSnapshot> m_localTree;
    std::unique_ptr<PMTreeSnapshot> m_driveTree;
    bool m_applyResults = true;
    bool m_copyFailed = false;
    // The file system the drive was found on; every path of the job below the mount point
    // must lie on it.
    std::optional<dev_t> m_driveDevice;
    struct FolderItem {
        QString item;
        struct stat attributes;
    };
    std::vector<FolderItem> m_folderItems;
    mutable std::mutex m_reportMutex;
    QString m_lastReportMessage;
};
