// Tells the manager about running syncs: posts "com.corvane.pellmere.syncInProgress.notification.evt"
// (object "com.corvane.pellmere.notifications") with a drive's progress record, from a 2 s
// timer while something is busy, when a sync is started, after a status request and at
// every phase change of a worker.
//
//   PMActivityNotifier notifier(emitter, [&app] { return app.isBusyProgressDict(); });
//   notifier.start();
//   notifier.sendActivityNotification(true, controller.getCurrentProgressDict());
//
// start/stop and the timer on the main thread; sendActivityNotification from any thread
// (the emitter is thread-safe).
#pragma once

#include <QObject>
#include <QTimer>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <optional>

namespace protocol {
class PMNotificationEmitter;
}

class PMActivityNotifier : public QObject {
    Q_OBJECT

public:
    static inline const QString kSyncInProgressNotification
        = QStringLiteral("com.corvane.pellmere.syncInProgress.notification.evt");
    static inline const QString kNotificationObject = QStringLiteral("com.corvane.pellmere.notifications");
    static constexpr int kActivityPeriodMs = 2000;

    // emitter may be null (no session bus): nothing is posted. busyProgress answers the
    // record of the first busy drive, or an empty map.
    PMActivityNotifier(
        protocol::PMNotificationEmitter *emitter, std::function<QVariantMap()> busyProgress, QObject *parent = nullptr);

    void setEmitter(protocol::PMNotificationEmitter *emitter) { m_emitter = emitter; }
    void start();
    void stop();

    // dict: the record to post; nullopt: the first busy drive's. Unforced, nothing is posted
    // when there is no record; forced, an empty one is posted then.
    void sendActivityNotification(bool forced, const std::optional<QVariantMap> &dict = std::nullopt);
    void syncActivityTimerFired() { sendActivityNotification(false); }

Q_SIGNALS:
    // Every record that is posted, also without a bus (the tray follows it); emitted on the
    // sending thread.
    void activityReported(const QVariantMap &progress);

private:
    std::atomic<protocol::PMNotificationEmitter *> m_emitter;
    std::function<QVariantMap()> m_busyProgress;
    QTimer m_syncActivityTimer;
    std::atomic<bool> m_failureLogged { false };
};
