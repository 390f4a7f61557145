// A stand-in for the agent on a private session bus: owns com.corvane.pellmere, answers
// HandleEvent on its own thread (the manager's requests block the test's main thread) with
// whatever the test's replier builds, and records every event it received.
//
//   FakeAgent agent(bus.address());
//   agent.setReplier([](const AEDescriptor &event) { ... return reply; });
//   ... the client sends ...
//   EXPECT_EQ(agent.receivedIDs(), QStringList { "GETL" });
#pragma once

#include "protocol/AEDescriptor.h"

#include <QDBusConnection>
#include <QMutex>
#include <QStringList>
#include <QThread>

#include <functional>
#include <memory>

namespace testsupport {

class FakeAgentEndpoint;

class FakeAgent {
public:
    using Replier = std::function<protocol::AEDescriptor(const protocol::AEDescriptor &event)>;

    explicit FakeAgent(const QString &busAddress);
    ~FakeAgent();
    FakeAgent(const FakeAgent &) = delete;
    FakeAgent &operator=(const FakeAgent &) = delete;

    bool isRunning() const { return m_running; }
    // Its unique name on the bus.
    QString uniqueName() const { return m_uniqueName; }
    // Without a replier every event gets an empty reply.
    void setReplier(Replier replier);
    QList<protocol::AEDescriptor> received() const;
    QStringList receivedIDs() const;
    void clear();
    // Leaves the bus, as an agent that quits does.
    void vanish();

    struct Shared {
        QMutex mutex;
        Replier replier;
        QList<protocol::AEDescriptor> received;
    };

private:
    static bool registerName(QDBusConnection &connection);

    std::shared_ptr<Shared> m_shared;
    QString m_connectionName;
    QString m_uniqueName;
    QThread m_thread;
    FakeAgentEndpoint *m_endpoint = nullptr;
    bool m_running = false;
};

} // namespace testsupport
