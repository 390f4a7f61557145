// Continuous sync: watches the synced folders of every drive that takes part with continuous
// sync on, queues the roots in which something changed, and once changes have been quiet for
// 10 s hands the queued roots to every such drive's controller.
//
// A watcher reports only its root. The report travels as the notification
// "com.corvane.pellmere.eventdata.notification.evt" with "evdata" = the root's UTF-8 bytes,
// so an outside watcher may post the same; the agent's own subscription brings it back here.
//
//   PMContinuousSync continuous(controllers, watcherFactory, emitter, subscriberConnection);
//   continuous.setContinuousSyncNotificationsEnabled(true);
//   continuous.updateContinuousSyncSettings();   // whenever the watch list may have changed
//
// Main thread: the queue and the timers are touched only there.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class PMSyncController;
namespace protocol {
class PMNotificationEmitter;
class PMNotificationSubscriber;
} // namespace protocol

class PMContinuousSync : public QObject {
    Q_OBJECT

public:
    static inline const QString kEventDataNotification
        = QStringLiteral("com.corvane.pellmere.eventdata.notification.evt");
    static inline const QString kRefreshRequestNotification
        = QStringLiteral("com.corvane.pellmere.helpersettings.refreshReq");
    static inline const QString kEventDataKey = QStringLiteral("evdata");
    static constexpr int kQuietPeriodMs = 10000;

    // Every drive's controller, in key order; those that take part with continuous sync on
    // are the ones watched for and synced.
    using ControllerList = std::function<std::vector<PMSyncController *>()>;
    // Starts watching root; the watcher calls onChange(root, folders) after changes below it,
    // folders being where they happened (just the root when it cannot tell). Null when the
    // root cannot be watched (skipped; the other roots are still watched).
    using ChangeCallback = std::function<void(const QString &root, const QStringList &folders)>;
    using WatcherFactory = std::function<std::unique_ptr<QObject>(const QString &root, ChangeCallback onChange)>;

    // emitter and subscriber may be null (no session bus): a watcher's report is then
    // delivered directly.
    PMContinuousSync(ControllerList controllers, WatcherFactory makeWatcher, protocol::PMNotificationEmitter *emitter,
        protocol::PMNotificationSubscriber *subscriber, QObject *parent = nullptr);
    ~PMContinuousSync() override;

    // The session bus's ends, once it is known to be there (null: reports go directly).
    void setBus(protocol::PMNotificationEmitter *emitter, protocol::PMNotificationSubscriber *subscriber);
    // The system's recursive change watcher on root, or null when root cannot be watched.
    static std::unique_ptr<QObject> makeChangeWatcher(const QString &root, ChangeCallback onChange);

    // The quiet period (tests shorten it).
    void setQuietPeriod(int milliseconds) { m_quietPeriodMs = milliseconds; }

    // The folders to watch: every sync item of the participating continuous drives,
    // "~" expanded, each once, in first-seen order.
    QStringList watchList() const;
    // Rebuilds the watchers from the watch list.
    void updateContinuousSyncSettings();
    void tearDownWatchers();
    QStringList watchedRoots() const { return m_watchedRoots; }

    void setContinuousSyncNotificationsEnabled(bool enabled);
    bool areContinuousSyncsEnabled() const { return m_enabled; }

    // A watcher's report (or an outside one): queue the root and restart the quiet timer.
    void mainThreadEventDataReceived(const QByteArray &data);
    // Roots a controller could not take: existing folders are queued again, the timer is
    // not restarted.
    void mainThreadAddContinuousSyncItems(const QStringList &paths);
    void continuousSyncTimerFired();
    QStringList queuedItems() const { return m_continuousSyncItems; }
    bool isTimerRunning() const { return m_continuousSyncTimer.isActive(); }

Q_SIGNALS:
    // Roots handed to the controllers (tests, the log).
    void continuousSyncStarted(const QStringList &roots);

private:
    std::vector<PMSyncController *> continuousControllers() const;
    void watcherReported(const QString &root, const QStringList &folders);
    // The queued roots, each replaced by the folders below it known to have changed.
    QStringList pathsToSync(const QStringList &roots);
    void receivedNotification(const QString &name, const QString &object, const QVariantMap &userInfo);

    ControllerList m_controllers;
    WatcherFactory m_makeWatcher;
    protocol::PMNotificationEmitter *m_emitter;
    protocol::PMNotificationSubscriber *m_subscriber;
    std::vector<std::unique_ptr<QObject>> m_watchers;
    QStringList m_watchedRoots;
    QStringList m_continuousSyncItems;
    // Per watched root, where its changes since the last sync happened: a continuous job
    // then walks only those folders instead of the whole root.
    QHash<QString, QSet<QString>> m_changedFolders;
    QTimer m_continuousSyncTimer;
    int m_quietPeriodMs = kQuietPeriodMs;
    bool m_enabled = false;
};
