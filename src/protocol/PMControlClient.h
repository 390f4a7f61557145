// The sending end of the control protocol, for the manager and pellmerectl: sends an event
// to the agent on the session bus and waits for its reply, posts events that want no reply,
// and asks the agent whether a drive may be unmounted.
//
//   PMControlClient client;                       // the user's session bus
//   AEDescriptor reply;
//   if (const qint32 status = client.sendEvent(event, &reply); status != kNoErr)
//       qWarning() << status << client.lastErrorText();
//   else if (reply.errorNumber() != 0) ...        // the agent's own error, in the reply
//
// A send answers a status: 0, or kProcNotFound (no agent owns the name), kErrAETimeout (no
// answer in time), kErrAENotAEDesc (bytes that are not an event, either way) or
// kConnectionInvalid (no bus, or another bus failure); lastErrorText() says what happened.
//
// Blocking: sends wait on the calling thread without running its event loop, so an agent
// living on that same thread cannot answer (use another thread, as the tests do). One thread
// at a time per instance; instances on different threads are independent.
#pragma once

#include "protocol/AEDescriptor.h"
#include "protocol/PMBusNames.h"
#include "protocol/PMUnmountAnswer.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <chrono>
#include <optional>

namespace protocol {

class PMControlClient {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout = std::chrono::seconds(60);

    explicit PMControlClient(
        QDBusConnection connection = QDBusConnection::sessionBus(), QString serviceName = kPMServiceName);

    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    std::chrono::milliseconds timeout() const { return m_timeout; }

    // Sends the event and waits for the reply; `reply` is set only when 0 is answered.
    [[nodiscard]] qint32 sendEvent(const AEDescriptor &event, AEDescriptor *reply);
    // Sends the event without asking for a reply; the agent performs it and answers nothing.
    // Refused with kProcNotFound when no agent owns the name, since a lost event would not
    // be reported otherwise.
    [[nodiscard]] qint32 postEvent(const AEDescriptor &event);
    [[nodiscard]] qint32 requestUnmount(const QString &mountPoint, PMUnmountAnswer *answer);
    // Asks the agent to show its log window; shown says whether it has one.
    [[nodiscard]] qint32 showLog(bool *shown);
    // Hands paths to the agent, which syncs the drives holding them; refused: the paths no
    // connected drive holds.
    [[nodiscard]] qint32 openPaths(const QStringList &paths, QStringList *refused);

    // Whether some process owns the agent's name.
    bool isAgentRunning() const;

    QString lastErrorText() const { return m_lastErrorText; }

private:
    QDBusMessage methodCall(const QString &method) const;
    std::optional<QDBusMessage> call(const QDBusMessage &message, qint32 *status);
    qint32 fail(qint32 status, const QString &text);

    QDBusConnection m_connection;
    QString m_serviceName;
    std::chrono::milliseconds m_timeout = kDefaultTimeout;
    QString m_lastErrorText;
};

} // namespace protocol
