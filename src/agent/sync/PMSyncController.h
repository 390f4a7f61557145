// The agent's object for one mounted drive: it owns the drive's configuration, a queue of
// jobs and one long-lived worker thread that runs the jobs one at a time, and it keeps the
// progress counters and activity state reported to the manager.
//
//   auto controller = PMSyncController::controllerForMountPoint(mountPoint, vendor, uuid, bsdNode,
//                                                               &owner, makePhases, &alerts);
//   controller->sync();                 // queues a "sync" task; the worker starts on the first
//   controller->driveDisappeared();     // empties the queue and ends the worker
//
// Threads: the job entry points, settings setters and user-interface hooks are called on the
// main thread; they only append to the queue (under the task lock) and never wait for a job.
// Status, settings readers and progress operations may be called from any thread. Operations
// named syncThread... and thread... run on the worker. The worker starts with the first job
// (2 MiB stack), polls an empty queue once a second and is never restarted once it ended.
// Destroying the controller (main thread) cancels the running job and waits for the worker.
#pragma once

#include "agent/settings/PMConfigurationFile.h"
#include "agent/sync/PMDriveQualifier.h"
#include "agent/sync/PMErrorReporterDelegate.h"
#include "agent/sync/PMSyncPreviewPresenter.h"
#include "agent/sync/PMSyncProgress.h"
#include "platform/AlertPresenter.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include <pthread.h>

class PMSyncControllerOwner;
class PMSyncJobPhases;

class PMSyncController : public PMErrorReporterDelegate {
public:
    // Activity types reported in the progress record.
    enum Activity {
        kActivityIdle = 0,
        kActivityPreparing = 1,
        kActivitySyncing = 2,
        kActivityFinishing = 3,
        kActivitySettings = 4,
        kActivityFailed = 5,
        kActivityCompleted = 6
    };
    // Failure types (0: none).
    enum Failure {
        kFailureNone = 0,
        kFailureIncomplete = 1,
        kFailureDriveGone = 3,
        kFailureNetworkLost = 5,
        kFailureCanceled = 6
    };

    static inline const QString kOperationKey = QStringLiteral("operation");
    static inline const QString kPathsToSyncToKey = QStringLiteral("pathsToSyncTo");
    static inline const QString kSyncListKey = QStringLiteral("sync-list");
    static constexpr uint kWorkerStackSize = 2 * 1024 * 1024;

    using PhasesFactory = std::function<std::unique_ptr<PMSyncJobPhases>(PMSyncController &)>;

    // userId: the computer-user this controller syncs for. owner and alerts must outlive the
    // controller; without alerts every alert gets its safe answer.
    PMSyncController(const QString &mountPoint, const QString &vendor, const QString &uuid, const QString &userId,
        PMSyncControllerOwner *owner, const PhasesFactory &makePhases, platform::AlertPresenter *alerts = nullptr);
    // For this computer's user; the BSD node is accepted and not kept.
    static std::unique_ptr<PMSyncController> controllerForMountPoint(const QString &mountPoint, const QString &vendor,
        const QString &uuid, const QString &bsdNode, PMSyncControllerOwner *owner, const PhasesFactory &makePhases,
        platform::AlertPresenter *alerts = nullptr);
    ~PMSyncController() override;
    // Tells the worker to end without waiting for it (a running job stops at its next cancel
    // check, an alert wait ends unanswered); workerEnded() says when it has. The destructor
    // does the same and then waits, so a thread that must keep serving the worker (its log
    // lines are shown there) asks first and is destroyed only once the worker has ended.
    void requestStop();
    PMSyncController(const PMSyncController &) = delete;
    PMSyncController &operator=(const PMSyncController &) = delete;

    QString deviceMountPoint() const override { return m_mountPoint; }
    QString deviceVendor() const { return m_vendor; }
    QString deviceUUIDString() const { return m_uuid; }
    PMConfigurationFile &deviceConfig() { return *m_config; }
    const PMConfigurationFile &deviceConfig() const { return *m_config; }

    // Drive and file-system qualification, answered by the drive's PMDriveQualifier: the
    // questions on the main thread, the facts from any thread.
    bool isValidDevice() const { return m_qualifier->isValidDevice(); }
    bool isValidFileSystem() { return m_qualifier->isValidFileSystem(); }
    bool syncIsEnabledForThisDevice() { return m_qualifier->syncIsEnabledForThisDevice(); }
    bool hasUserSeenThisDevice() const { return m_qualifier->hasUserSeenThisDevice(); }
    void initFSVars() { m_qualifier->initFSVars(); }
    static qint64 parseDiskSize(const QString &text) { return PMDriveQualifier::parseDiskSize(text); }
    QString volumeName() const { return m_qualifier->volumeName(); }
    QString fsName() { return m_qualifier->fsName(); }
    bool fsIsCompatible() { return m_qualifier->fsIsCompatible(); }
    bool fsIsNTFS() { return m_qualifier->fsIsNTFS(); }
    bool fsLimit4G() { return m_qualifier->fsLimit4G(); }
    bool fsIsWritable() const { return m_qualifier->fsIsWritable(); }
    qint64 totalBytes() { return m_qualifier->totalBytes(); }
    qint64 freeBytes() { return m_qualifier->freeBytes(); }
    QString diskSlice() const { return m_qualifier->diskSlice(); }
    QString fileSystemType() const { return m_qualifier->fileSystemType(); }
    QString contentTag() const { return m_qualifier->contentTag(); }

    // Job entry points (main thread).
    void sync();
    void continuousSyncNow(const QStringList &paths);
    void updateSyncList(const QStringList &syncList);
    void removeDriveSync();
    void driveDisappeared();
    void setSyncMoviesState(bool enabled);
    void setSyncMusicState(bool enabled);
    void setSyncPicturesState(bool enabled);
    void setSyncDocumentsState(bool enabled);
    void setSyncDeviceFilter(qint32 filter);
    // Turned on for a participating user, a job that brings the whole list up to date is
    // queued too, unless activate is false.
    void setContinuousSyncState(bool enabled, bool activate = true);

    // Settings that do not queue a job.
    bool continuousSyncState() const;
    bool continuousSyncStateForUniqueHostID(const QString &userId) const;
    bool syncMoviesState() const;
    bool syncMoviesStateForUniqueHostID(const QString &userId) const;
    bool syncMusicState() const;
    bool syncMusicStateForUniqueHostID(const QString &userId) const;
    bool syncPicturesState() const;
    bool syncPicturesStateForUniqueHostID(const QString &userId) const;
    bool syncDocumentsState() const;
    bool syncDocumentsStateForUniqueHostID(const QString &userId) const;
    qint32 syncDeviceFilter() const;
    qint32 syncDeviceFilterForUniqueHostID(const QString &userId) const;
    bool participateSyncState() const;
    bool participateSyncStateForUniqueHostID(const QString &userId) const;
    void setParticipateSyncState(bool enabled);
    bool quietSyncState() const { return m_quietSyncState.load(); }
    void setQuietSyncState(bool enabled);
    // The user asked to see each sync's plan on this drive (the drive's "quiet" setting
    // recorded as off for this user), or the preview is shown for every sync
    // (setPreviewPresenter).
    bool isPreviewEnabled() const;
    bool isPreviewEnabledForUniqueHostID(const QString &) const { return false; }
    void setPreviewEnabledState(bool enabled);
    // Where a sync's plan is shown before it is applied, when the preview is enabled; null:
    // never shown. forEverySync: whatever the drive's setting (a sync run by hand with a
    // preview). Main thread, before the first job; the presenter must outlive the controller.
    void setPreviewPresenter(PMSyncPreviewPresenter *presenter, bool forEverySync = false);
    bool hasPreviewPresenter() const { return m_previewPresenter.load() != nullptr; }
    QDateTime lastSyncTime();
    QDateTime lastSyncTimeForUniqueHostID(const QString &userId) const;
    // Records the time of a completed sync on the drive; false when the drive's file could not
    // take it, which the running job then reports as not complete (syncTimeNotSaved()).
    bool updateLastSyncTime(const QDateTime &date);
    // The running job's sync time could not be saved on the drive; cleared for each new job.
    bool syncTimeNotSaved() const { return m_syncTimeNotSaved.load(); }
    QString computerNameForUniqueHostID(const QString &userId) const;
    bool hasSyncConfiguration() const;
    bool isParticipatingInSync() const;
    QStringList shadowedSyncList();

    // Status (any thread).
    bool busy() const;
    bool busyWithSynclistOnly() const;
    bool syncInProgress() const { return m_syncInProgress.load(); }
    bool continuousSyncInProgress() const override { return m_doingContinuousSync.load(); }
    bool cancelPending() const override;
    bool cancelRVal() const;
    void setCancelPending(bool pending, bool rval) override;
    int activityType() const { return m_activityType.load(); }
    void setActivityType(int type) { m_activityType.store(type); }
    int failureType() const { return m_failureType.load(); }
    void setFailureType(int type) { m_failureType.store(type); }
    // The worker ran and has ended ("death", or the controller is being destroyed).
    bool workerEnded() const { return m_workerEnded.load(); }

    // Network drives (a mounted share). A GVfs or kernel SMB mount is recognised as one when
    // the controller is made; setNetworkDevice is for whoever maps a share to its device.
    bool isNetworkDevice() const override { return m_networkDevice.load(); }
    void setNetworkDevice(bool network) { m_networkDevice.store(network); }
    // Any thread: the device of this network drive can no longer be reached (or can again). A
    // job running when it goes is cancelled and reports that it failed due to a connection
    // error; a local drive ignores both.
    void networkDeviceBecameUnreachable();
    void networkDeviceBecameReachable() { m_deviceReachable.store(true); }
    bool networkDeviceReachable() const { return m_deviceReachable.load(); }
    // Worker: a file operation on the share failed because the connection is gone; the job
    // ends as for an unreachable device.
    void connectionToDeviceLost() override;
    // The running job of this network drive lost its device: the device is unreachable, or
    // the connection failed during the job.
    bool lostNetworkConnection() const;

    // User-interface hooks (main thread).
    void cancelButtonClicked();
    void toggleContinuousSync();
    void togglePreviewEnabled();
    bool windowShouldClose() const;

    // Progress (any thread).
    QVariantMap getCurrentProgressDict() const;
    QVariantMap progressDict() const { return m_progress.record(); }
    void initForNewJob();
    void setProgressActivePath(const QString &path);
    // Worker: the expected size of a job over these items ("~" allowed). knownSize answers
    // for items already measured (nullopt: measure it now).
    void determineTotalSync(
        const QStringList &items, const std::function<std::optional<quint64>(const QString &item)> &knownSize = {});
    quint64 totalSync() const { return m_progress.totalSync(); }
    quint64 skippedFiltered() const { return m_progress.skippedFiltered(); }
    quint64 skippedAlready() const { return m_progress.skippedAlready(); }
    quint64 totalCopied() const { return m_progress.totalCopied(); }
    quint64 partiallyCopied() const { return m_progress.partiallyCopied(); }
    QString currentSourcePath() const { return m_progress.currentSourcePath(); }
    void accumulateCopiedData(quint64 bytes) { m_progress.accumulateCopiedData(bytes); }
    void accumulateSkipPresentData(quint64 bytes) { m_progress.accumulateSkipPresentData(bytes); }
    // Not counted while a cancel is pending.
    void accumulateSkipFilteredData(quint64 bytes);
    void accumulateCopiedDataPath(const QString &path);
    void accumulateSkipPresentDataPath(const QString &path);
    void accumulateSkipFilteredDataPath(const QString &path);
    void setPartiallyCopiedData(quint64 bytes) override { m_progress.setPartiallyCopiedData(bytes); }

    // PMCopyDelegate: the copy engine's reports (worker thread).
    bool setFileCopyPath(const QString &path) override;
    bool accumulateCopiedDataUInt64(quint64 bytes) override;
    bool accumulateSkipFilteredDataUInt64(quint64 bytes) override;
    bool resetPartiallyCopiedData() override;

    // The agent's log. Any thread: a line is in the log when the call returns, so lines keep
    // their order with the worker's progress.
    void logMessage(const QString &text) const override;
    void debugMessage(const QString &text) const override;
    void flushLog() const;
    void openLogFile() const; // main thread
    void syncThreadLogMessage(const QString &text) const { logMessage(text); }
    void syncThreadDebugMessage(const QString &text) const { debugMessage(text); }

    // Worker: asks the user on the main thread and waits for the answer; true for OK.
    // headlessAnswer is what is answered when nobody can be asked.
    bool syncThreadPerformAlert(const QString &title, const QString &message, bool cancelButton, bool logButton,
        platform::AlertAnswer headlessAnswer = platform::AlertAnswer::Ok) override;

    // Worker: shows the plan on the main thread and waits; true to apply it. Unanswered (the
    // controller stopping, no presenter) is false.
    bool syncThreadPerformPreview(PMScanResults &results, std::vector<PMLeftOutList::Item> leftOut);

    // Worker: one sync job; paths limit it to changed roots (a continuous sync).
    void threadDoSync(const std::optional<QStringList> &paths);
    // Worker: sends the refreshed progress record to the owner.
    void sendActivityNotification(bool forced);
    // Worker: hands changed folders of a failed continuous job back to the owner's queue.
    void mainThreadAddContinuousSyncItems(const QStringList &paths);

private:
    struct Task {
        quint64 id = 0;
        QVariantMap record; // "operation", "syncActivityType" and, for "death", the failure type
        QStringList paths; // "pathsToSyncTo" of a continuous sync, "sync-list" of a list update
    };

    void appendTask(QVariantMap record, QStringList paths = {});
    void appendTaskLocked(QVariantMap record, QStringList paths = {});
    void conditionalDetachMasterThread();
    void setCategoryState(
        bool (PMConfigurationFile::*setter)(bool), bool enabled, const QString &setterName, const QString &category);
    void masterThread();
    static void *masterThreadEntry(void *controller);
    // Runs one task; answers false when the worker is to end.
    bool runTask(const Task &task);
    void removeTask(quint64 id);
    bool stopRequested() const { return m_stopRequested.load(); }

    const QString m_mountPoint;
    const QString m_vendor;
    const QString m_uuid;
    PMSyncControllerOwner *const m_owner;
    platform::AlertPresenter *const m_alerts;
    std::atomic<PMSyncPreviewPresenter *> m_previewPresenter { nullptr };
    std::atomic<bool> m_previewEverySync { false };
    std::unique_ptr<PMConfigurationFile> m_config;
    std::unique_ptr<PMDriveQualifier> m_qualifier; // answers for *m_config's drive
    std::unique_ptr<PMSyncJobPhases> m_phases;
    // Lives on the main thread; alert requests are delivered to it.
    std::unique_ptr<QObject> m_mainThreadContext;

    std::atomic<bool> m_quietSyncState { true };
    std::atomic<bool> m_continuousSyncState { false };
    std::atomic<bool> m_syncInProgress { false };
    std::atomic<bool> m_doingContinuousSync { false };
    std::atomic<int> m_activityType { kActivityIdle };
    std::atomic<int> m_failureType { kFailureNone };
    // Pending and result change together, so they share one word.
    std::atomic<unsigned> m_cancelState { 0 };
    std::atomic<bool> m_stopRequested { false };
    std::atomic<bool> m_workerEnded { false };
    std::atomic<bool> m_syncTimeNotSaved { false };
    std::atomic<bool> m_networkDevice { false };
    std::atomic<bool> m_deviceReachable { true };
    std::atomic<bool> m_connectionLostInJob { false };

    mutable std::mutex m_stateMutex; // guards the fields below
    std::optional<QDateTime> m_lastSyncTime;
    std::optional<QStringList> m_shadowedSyncList;

    mutable std::mutex m_taskLock; // guards the queue and the worker's start
    std::condition_variable m_wakeWorker;
    std::deque<Task> m_taskList;
    quint64 m_nextTaskId = 1;
    bool m_threadDetached = false;
    std::optional<pthread_t> m_worker;

    struct AlertWait {
        std::mutex mutex;
        std::condition_variable condition;
        bool answered = false;
        bool abandoned = false;
        platform::AlertAnswer answer = platform::AlertAnswer::Ok;
    };
    std::mutex m_alertMutex; // guards m_pendingAlert
    std::weak_ptr<AlertWait> m_pendingAlert;

    PMSyncProgress m_progress;
};
