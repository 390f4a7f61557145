#include "FakeAgent.h"

#include "protocol/AECodec.h"
#include "protocol/FourCharCode.h"
#include "protocol/PMBusNames.h"

#include <QElapsedTimer>
#include <QObject>

#include <atomic>

namespace testsupport {

using namespace protocol;

class FakeAgentEndpoint : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.corvane.pellmere.Control")

public:
    explicit FakeAgentEndpoint(std::shared_ptr<FakeAgent::Shared> shared)
        : m_shared(std::move(shared))
    {
    }

public Q_SLOTS:
    QByteArray HandleEvent(const QByteArray &bytes)
    {
        const std::optional<AEDescriptor> event = AECodec::unflatten(bytes);
        if (!event)
            return {};
        FakeAgent::Replier replier;
        {
            QMutexLocker lock(&m_shared->mutex);
            m_shared->received << *event;
            replier = m_shared->replier;
        }
        const AEDescriptor reply = replier ? replier(*event) : AEDescriptor::replyEvent();
        return AECodec::flatten(reply).value_or(QByteArray());
    }

private:
    std::shared_ptr<FakeAgent::Shared> m_shared;
};

FakeAgent::FakeAgent(const QString &busAddress)
    : m_shared(std::make_shared<Shared>())
{
    static std::atomic<int> counter = 0;
    m_connectionName = QStringLiteral("pellmere-fake-agent-%1").arg(++counter);
    QDBusConnection connection = QDBusConnection::connectToBus(busAddress, m_connectionName);
    m_endpoint = new FakeAgentEndpoint(m_shared);
    m_endpoint->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_endpoint, &QObject::deleteLater);
    m_thread.start();
    // Calls reach the endpoint on its own thread.
    m_uniqueName = connection.baseService();
    m_running = connection.isConnected()
        && connection.registerObject(kPMObjectPath, m_endpoint, QDBusConnection::ExportAllSlots)
        && registerName(connection);
}

bool FakeAgent::registerName(QDBusConnection &connection)
{
    // An agent that vanished a moment ago still owns the name until the bus has seen its
    // connection close: wait for the name, within a bound.
    QElapsedTimer waited;
    waited.start();
    while (!connection.registerService(kPMServiceName)) {
        if (waited.elapsed() > 5000)
            return false;
        QThread::msleep(20);
    }
    return true;
}

FakeAgent::~FakeAgent()
{
    vanish();
    m_thread.quit();
    m_thread.wait();
}

void FakeAgent::vanish()
{
    QDBusConnection::disconnectFromBus(m_connectionName);
    m_running = false;
}

void FakeAgent::setReplier(Replier replier)
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->replier = std::move(replier);
}

QList<AEDescriptor> FakeAgent::received() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->received;
}

QStringList FakeAgent::receivedIDs() const
{
    QStringList ids;
    for (const AEDescriptor &event : received())
        ids << fourCharCodeToString(event.eventID());
    return ids;
}

void FakeAgent::clear()
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->received.clear();
}

} // namespace testsupport

#include "FakeAgent.moc"
