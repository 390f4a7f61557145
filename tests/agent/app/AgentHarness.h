// The real agent for a test: `pellmere --foreground --debug` started on a private session
// bus with its own volume roots (so it sees only the test's drives), a fake desktop
// notification server in the test process that keeps the agent's alerts open until the test
// answers them, a control client, and the agent's log file.
//
//   AgentHarness agent;
//   agent.addVolumeRoot(QFileInfo(drive->mountPoint()).absolutePath());
//   ASSERT_TRUE(agent.start(&why)) << why;
//   ASSERT_TRUE(agent.waitForLog("completed successfully"));
//
// Test thread only; waiting runs the test's event loop, so the fake server answers meanwhile.
#pragma once

#include "../../protocol/PrivateSessionBus.h"
#include "protocol/AEDescriptor.h"
#include "protocol/PMControlClient.h"

#include <QDBusConnection>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace testsupport {

// org.freedesktop.Notifications as far as the agent's alerts use it: records every
// notification and answers only when the test says so.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown {
        uint id = 0;
        QString summary;
        QString body;
        QStringList actions;
    };

    explicit FakeNotificationServer(QDBusConnection connection);
    bool isRegistered() const { return m_registered; }
    QList<Shown> shown() const { return m_shown; }
    // Presses a button ("ok", "cancel") of a notification.
    void invokeAction(uint id, const QString &action);

public Q_SLOTS:
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon, const QString &summary,
        const QString &body, const QStringList &actions, const QVariantMap &hints, int expireTimeout);
    void CloseNotification(uint id);
    QStringList GetCapabilities();
    QString GetServerInformation(QString &vendor, QString &version, QString &specVersion);

private:
    QDBusConnection m_connection;
    QList<Shown> m_shown;
    uint m_nextId = 1;
    bool m_registered = false;
};

class AgentHarness {
public:
    AgentHarness();
    ~AgentHarness();

    // Why no agent can run here (no dbus-daemon), or empty.
    QString whyNot() const;
    // Why the agent cannot be tested with real drives here (no loop devices, no bus), or empty.
    QString whyNoAgentWithDrives() const;
    // Writes this user's settings onto a mounted drive: participation and continuous sync as
    // given, the sync list (~/Music unless given). Unless chosenHere is false, this computer's
    // preferences also record them as chosen here, as the user's own settings would have.
    static bool writeDriveSettings(const QString &mountPoint, bool participate, bool continuous,
        const QStringList &syncList = { QStringLiteral("~/Music") }, bool chosenHere = true);
    // Records in this computer's preferences (read by an agent started later) what the user
    // chose here for the mounted drive: participation and, when given, the sync list.
    static bool recordChoiceHere(
        const QString &mountPoint, bool participate, const std::optional<QStringList> &syncList);
    // Whether a file of that name lies anywhere on the drive outside the temporary folders.
    static bool driveHoldsFile(const QString &mountPoint, const QString &name);
    void addVolumeRoot(const QString &root) { m_volumeRoots.append(root); }
    // An environment variable for the agent, set after DISPLAY and WAYLAND_DISPLAY are removed
    // (so a test may give the agent a display of its choosing).
    void setEnvironmentValue(const QString &name, const QString &value) { m_extraEnvironment.insert(name, value); }
    // Starts the agent and waits until it owns its bus name.
    bool start(QString *why, const QStringList &extraArguments = {});
    // SIGTERM, then waits; false when it did not end within timeoutMs.
    bool stop(int timeoutMs, int *exitCode = nullptr);
    QProcess &process() { return *m_process; }
    QProcessEnvironment environment() const;

    QDBusConnection connection() { return m_client; }
    FakeNotificationServer &notifications() { return *m_notifications; }

    // Sends an event for a drive and answers the reply (an invalid reply when sending failed).
    protocol::AEDescriptor send(protocol::AEDescriptor event, qint32 *status = nullptr);
    static protocol::AEDescriptor event(quint32 eventId, const QString &mountPath);

    QString log() const;
    bool waitForLog(const QString &text, int timeoutMs = 20000) const;

private:
    PrivateSessionBus m_bus;
    QDBusConnection m_client;
    QDBusConnection m_serverConnection;
    std::unique_ptr<FakeNotificationServer> m_notifications;
    std::unique_ptr<QProcess> m_process;
    QStringList m_volumeRoots;
    QProcessEnvironment m_extraEnvironment;
};

} // namespace testsupport
