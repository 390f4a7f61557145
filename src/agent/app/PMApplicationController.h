// The agent itself: one shared instance that starts the agent's services in a fixed order,
// keeps one sync controller per drive (keyed by PMDriveKey), decides on each drive's arrival
// whether it syncs by itself, answers whether a drive may be unmounted, and ends the agent
// (a busy drive gets a bounded time to cancel its job).
//
//   PMApplicationController &app = PMApplicationController::sharedInstance();
//   QString why;
//   if (!app.applicationWillFinishLaunching(&why)) ... // a second agent, or no mount table
//   return QCoreApplication::exec();   // SIGTERM and SIGINT end it through terminate()
//
// Main thread: everything here runs on it, except the PMSyncControllerOwner callbacks, which
// the controllers' workers call and which hop to the main thread as needed.
#pragma once

#include "agent/app/PMLocalSyncChoice.h"
#include "agent/app/PMNetworkStorage.h"
#include "agent/sync/PMSyncController.h"
#include "agent/sync/PMSyncControllerOwner.h"
#include "platform/AlertPresenter.h"
#include "protocol/PMUnmountAnswer.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class PMActivityNotifier;
class PMAgentInstanceLock;
class PMContinuousSync;
class PMDriveOperations;
class PMVolumeEventRouter;
namespace platform {
class VolumeDescriber;
class VolumeMonitor;
} // namespace platform
namespace protocol {
class PMControlServer;
class PMNotificationEmitter;
class PMNotificationSubscriber;
} // namespace protocol

class PMApplicationController : public QObject, public PMSyncControllerOwner {
    Q_OBJECT

public:
    // How long a quit waits for busy drives to cancel their jobs before it exits anyway.
    static constexpr std::chrono::seconds kTerminationBound { 10 };
    // The delay between a decision to sync and the sync.
    static constexpr std::chrono::milliseconds kSyncDelay { 1000 };

    // The one instance, made on first use (a QCoreApplication must exist).
    static PMApplicationController &sharedInstance();
    // Identity of this computer and user ("<MAC>-<uid>"), the per-user key on the drives.
    static QString uniqueHostUserId();
    // How alerts name a drive: the last component of its mount path.
    static QString displayName(const QString &mountPath);

    ~PMApplicationController() override;

    // Replaces the alert presenter (before launch; tests and the windowed agent).
    void setAlertPresenter(std::unique_ptr<platform::AlertPresenter> alerts);
    platform::AlertPresenter &alertPresenter() { return *m_alerts; }
    // Where a sync's plan is shown when the user enabled the preview for a drive (the
    // windowed agent); null: never shown. Before launch; set on every controller made later.
    void setPreviewPresenter(std::unique_ptr<PMSyncPreviewPresenter> presenter);
    // What showing the log does (`pellmere --show-log`): the log window of a desktop agent.
    // Without one the log file is written, which is the log then.
    void setLogShower(std::function<void()> show) { m_logShower = std::move(show); }
    // What an alert's log button does after the log file is written: open the file with the
    // desktop's handler. Without one, nothing more.
    void setLogFileOpener(std::function<void()> open) { m_logFileOpener = std::move(open); }

    // Makes launching start network storage too (the daemon does; before launch): discovered
    // devices get their shares mounted, and each share becomes a drive.
    void enableNetworkStorage(PMNetworkStorage::Options options);
    // Takes storage as the agent's network storage and acts on what it announces (launching
    // with it enabled does this; tests give one of their own). Null detaches it.
    void attachNetworkStorage(std::unique_ptr<PMNetworkStorage> storage);
    // The agent's network storage once launched with it enabled, else null.
    PMNetworkStorage *networkStorage() { return m_networkStorage.get(); }

    // Starts the services: log, volume events, control protocol and its handlers,
    // notifications, then announces the drives already mounted. False (and why) when the
    // agent cannot run: another agent of this user runs, or volumes cannot be watched.
    [[nodiscard]] bool applicationWillFinishLaunching(QString *why);
    // Cancels busy jobs, waits up to the bound for their workers, logs, flushes and quits
    // the event loop with exitCode (0 when every worker stopped in time, else 1).
    void terminate();
    // Runs once: notifications off, volume events off, controllers dropped.
    void cleanUp();

    // Drives.
    PMSyncController *createSyncControllerForMountPoint(
        const QString &mountPoint, const QString &vendor, const QString &uuid, const QString &bsdNode);
    PMSyncController *syncControllerForMountPoint(const QString &mountPoint) const;
    PMSyncController *syncControllerForKey(const QString &key) const;
    void newDriveAppeared(
        const QString &mountPoint, const QString &vendor, const QString &uuid, const QString &bsdNode);
    // The drive under key went away: its controller ends its worker and is dropped.
    void driveDisappearedWithKey(const QString &key);
    void volumePathChanged(const QString &bsdName, const QString &newPath, const QString &vendor, const QString &uuid);
    // Every controller in key order.
    void forEachController(const std::function<void(const QString &key, PMSyncController &)> &visit) const;
    QStringList controllerKeys() const;

    PMSyncController *isBusyController() const;
    QString isBusyPath() const;
    QVariantMap isBusyProgressDict() const;
    // Quitting is never refused; a busy drive is given the bound to stop instead.
    bool isBusy() const { return false; }

    // Network drives. The device of the network drive at mountPoint can no longer be reached
    // (reachable: can again); its controller ends a running job as a connection error. Any
    // thread (reachability changes are not seen on the main thread).
    void networkDeviceReachabilityChanged(const QString &mountPoint, bool reachable);
    // A device could not be reached: "There was an error connecting to <deviceName>" with the
    // reason, OK and Retry (PMConnectionErrorAlert); retry is what Retry does, and is done at
    // once when the user silenced network alerts.
    void showConnectionError(const QString &deviceName, const QString &errorText, std::function<void()> retry);

    // The unmount approval: refused with "Sync In Progress" while the drive's controller is busy.
    protocol::PMUnmountAnswer approveUnmount(const QString &mountPoint) const;

    // Sends sync to the drive's controller after kSyncDelay (if it still exists then). A
    // sync nobody asked for (automatic) is judged again when it is due.
    enum class SyncRequest { ByUser, Automatic };
    void scheduleSync(const QString &mountPoint, SyncRequest request = SyncRequest::ByUser);

    // What the user chose for each drive through this computer.
    PMLocalSyncChoice &localSyncChoice() { return m_localChoice; }
    // Whether the drive may sync without the user asking: it says this user takes part with
    // continuous sync on, and this computer's record agrees (driveList: the list the drive
    // is about to have, else its current one). When not, and tellUser, the user is told once
    // per drive and connection.
    bool maySyncAutomatically(
        PMSyncController &controller, bool tellUser, const std::optional<QStringList> &driveList = std::nullopt);
    // Sends updateSyncList after kSyncDelay.
    void scheduleSyncListUpdate(const QString &mountPoint, const QStringList &syncList);
    // The modal "Cannot Start Sync." style alert (logged too).
    void showBusyAlert(const QString &title, const QString &mountPoint);

    PMDriveOperations &driveOperations() { return *m_operations; }
    PMContinuousSync &continuousSync() { return *m_continuousSync; }
    PMActivityNotifier &activityNotifier() { return *m_activity; }

    // PMSyncControllerOwner (worker threads).
    void sendActivityNotification(bool forced, const QVariantMap &progress) override;
    void addContinuousSyncItems(const QStringList &paths) override;
    void showLog() override;

Q_SIGNALS:
    // A controller was created or dropped (tests, the manager's later window seam).
    void controllersChanged();

private:
    PMApplicationController();
    bool startControlServer(QString *why);
    void dropController(const QString &key);
    void finishTermination(bool stoppedInTime);
    void tellNotChosenOnce(const PMSyncController &controller, PMLocalSyncChoice::Verdict verdict);
    void startNetworkStorage();

    std::unique_ptr<platform::AlertPresenter> m_alerts;
    std::unique_ptr<PMSyncPreviewPresenter> m_previews;
    std::function<void()> m_logShower;
    std::function<void()> m_logFileOpener;
    std::unique_ptr<PMAgentInstanceLock> m_instanceLock;
    std::unique_ptr<platform::VolumeDescriber> m_describer;
    std::unique_ptr<platform::VolumeMonitor> m_volumeMonitor;
    std::unique_ptr<PMVolumeEventRouter> m_router;
    std::unique_ptr<protocol::PMNotificationEmitter> m_emitter;
    std::unique_ptr<protocol::PMNotificationSubscriber> m_subscriber;
    std::unique_ptr<protocol::PMControlServer> m_controlServer;
    std::unique_ptr<PMActivityNotifier> m_activity;
    std::unique_ptr<PMContinuousSync> m_continuousSync;
    std::unique_ptr<PMDriveOperations> m_operations;
    std::optional<PMNetworkStorage::Options> m_networkStorageOptions;
    std::unique_ptr<PMNetworkStorage> m_networkStorage;
    std::map<QString, std::unique_ptr<PMSyncController>> m_syncControllers;
    PMLocalSyncChoice m_localChoice;
    // Mount points of the connected drives whose user was told they were not synced.
    QSet<QString> m_toldNotChosen;
    QTimer m_terminationPoll;
    std::chrono::steady_clock::time_point m_terminationDeadline;
    bool m_terminating = false;
    bool m_cleanedUp = false;
};
