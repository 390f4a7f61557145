// Shows the agent's alerts as desktop notifications with action buttons (the freedesktop
// notification service on the session bus), for an agent that has no window of its own but
// runs in a desktop session. Without a notification server the headless presenter is used:
//
//   std::unique_ptr<platform::AlertPresenter> alerts = platform::DesktopNotificationAlertPresenter::createBest();
//
// Each alert becomes one notification with "OK", optionally "Cancel" and "Show Log". The log
// button calls showLog and posts the question again, so it stays until it is answered.
// A notification closed without an answer (expired, dismissed), a server that refuses it or
// goes away, and the presenter's destruction all answer the request's safe answer, so a
// worker waiting for the answer never waits forever.
//
// Threads: created, used and destroyed on the main thread. present() never blocks: the bus
// calls are asynchronous and done is called exactly once per request, later, on the main
// thread. Several alerts may be open at once, but not the same one twice: a question already on
// screen (same title and message, which name the drive) is not posted again, and its answer
// goes to every request that asked it.
#pragma once

#include "platform/AlertPresenter.h"

#include <QDBusConnection>
#include <QObject>

#include <map>
#include <memory>
#include <vector>

class QDBusPendingCallWatcher;

namespace platform {

class DesktopNotificationAlertPresenter : public QObject, public AlertPresenter {
    Q_OBJECT

public:
    explicit DesktopNotificationAlertPresenter(QDBusConnection connection = QDBusConnection::sessionBus(),
        const QString &appName = QStringLiteral("Pellmere"), QObject *parent = nullptr);
    // Answers every request still open with its safe answer and withdraws its notification.
    ~DesktopNotificationAlertPresenter() override;

    // Whether the bus has a notification server now (a blocking round trip to the bus).
    static bool isAvailable(QDBusConnection connection);
    // This presenter when a notification server is there, else the headless one.
    static std::unique_ptr<AlertPresenter> createBest(QDBusConnection connection = QDBusConnection::sessionBus());

    void present(
        const AlertRequest &request, std::function<void(AlertAnswer)> done, std::function<void()> showLog) override;
    void withdrawAll() override;

private Q_SLOTS:
    void onActionInvoked(uint id, const QString &actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    struct Open {
        AlertRequest request;
        std::function<void(AlertAnswer)> done;
        std::function<void()> showLog;
        // Later askers of the same question while it is on screen: they get the same answer.
        std::vector<std::function<void(AlertAnswer)>> joined = {};
        uint id = 0; // 0 until the server has answered the Notify call
        bool reposting = false; // posted again after the log button; the old one's close is not an answer
        QDBusPendingCallWatcher *posting = nullptr; // the Notify call in flight, owned by the presenter
    };

    void post(quint64 key, uint replacesId);
    void onPosted(quint64 key, QDBusPendingCallWatcher *watcher);
    std::map<quint64, Open>::iterator findById(uint id);
    void answer(std::map<quint64, Open>::iterator it, AlertAnswer answer, const QString &how);
    // The server that showed our notifications quit or was replaced: nobody will answer them.
    void onServerGone();

    QDBusConnection m_connection;
    QString m_appName;
    quint64 m_nextKey = 1;
    std::map<quint64, Open> m_open; // keyed by our own serial number; the server's id is in Open::id
};

} // namespace platform
