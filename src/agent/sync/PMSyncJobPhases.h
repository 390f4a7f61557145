// The work of a sync job and of a sync-list update, phase by phase. The sync controller's
// worker runs them in order (basic setup, folder preparation, the item walk, finishing,
// clean-up, the report) and reports the activity between them; the phases themselves do the
// file-system work on the drive.
//
// Threads: every call comes from the drive's worker thread, one at a time. A phase may throw;
// the controller logs the exception and drops the task.
#pragma once

#include <QStringList>

#include <optional>

class PMSyncJobPhases {
public:
    virtual ~PMSyncJobPhases() = default;

    virtual void syncThreadBasicSetup() = 0;
    // false: the job may not proceed (it is then reported as failed).
    virtual bool syncThreadPrepareFolders() = 0;
    // paths: the changed roots of a continuous sync; nullopt for a full sync.
    virtual bool syncThreadSyncItems(const std::optional<QStringList> &paths) = 0;
    virtual bool syncThreadFinishSync() = 0;
    virtual bool syncThreadCleanupAfterSync() = 0;
    virtual void syncThreadReportResults(bool success) = 0;
    // The sync list with home paths abbreviated to "~/".
    virtual void threadDoSyncListUpdate(const QStringList &syncList) = 0;

protected:
    PMSyncJobPhases() = default;
    PMSyncJobPhases(const PMSyncJobPhases &) = default;
    PMSyncJobPhases &operator=(const PMSyncJobPhases &) = default;
};
