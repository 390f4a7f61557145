#include "protocol/PMControlServer.h"

#include "protocol/AECodec.h"
#include "protocol/PMControlBusObject.h"
#include "protocol/ProtocolLogging.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>

namespace protocol {

namespace {

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

// Checked on the size alone, before a byte is decoded or copied.
bool withinEventSize(const QByteArray &bytes, QString *error)
{
    if (bytes.size() <= PMControlServer::kMaxEventSize)
        return true;
    const QString text = QStringLiteral("event of %1 bytes is larger than the %2 bytes allowed")
                             .arg(bytes.size())
                             .arg(PMControlServer::kMaxEventSize);
    qCWarning(lcProtocol).noquote() << "refused an event:" << text;
    setError(error, text);
    return false;
}

} // namespace

PMControlServer::PMControlServer(QDBusConnection connection, QString serviceName, QObject *parent)
    : QObject(parent)
    , m_connection(std::move(connection))
    , m_serviceName(std::move(serviceName))
{
}

PMControlServer::~PMControlServer()
{
    stop();
}

void PMControlServer::setUnmountApprover(std::function<PMUnmountAnswer(const QString &)> approver)
{
    m_unmountApprover = std::move(approver);
}

bool PMControlServer::start(QString *error)
{
    if (m_running)
        return true;
    if (!m_connection.isConnected()) {
        setError(error, QStringLiteral("not connected to the session bus: %1").arg(m_connection.lastError().message()));
        return false;
    }
    QDBusConnectionInterface *bus = m_connection.interface();
    if (!bus) {
        setError(error, QStringLiteral("the session bus offers no bus interface"));
        return false;
    }

    m_busObject = std::make_unique<PMControlBusObject>(*this);
    if (!m_connection.registerObject(kPMObjectPath, m_busObject.get(), QDBusConnection::ExportScriptableSlots)) {
        m_busObject.reset();
        setError(error,
            QStringLiteral("cannot export %1 on the session bus (already exported by this process?)")
                .arg(kPMObjectPath));
        return false;
    }

    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus->registerService(
        m_serviceName, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        m_connection.unregisterObject(kPMObjectPath);
        m_busObject.reset();
        if (!reply.isValid()) {
            setError(error,
                QStringLiteral("cannot own %1 on the session bus: %2").arg(m_serviceName, reply.error().message()));
        } else {
            const QDBusReply<uint> owner = bus->servicePid(m_serviceName);
            const QString who = owner.isValid() ? QStringLiteral(" (process %1)").arg(owner.value()) : QString();
            setError(error,
                QStringLiteral("another Pellmere agent%1 already owns %2 on this session bus").arg(who, m_serviceName));
        }
        return false;
    }
    m_running = true;
    qCInfo(lcProtocol) << "control server owns" << m_serviceName;
    return true;
}

void PMControlServer::stop()
{
    if (!m_running)
        return;
    m_running = false;
    if (QDBusConnectionInterface *bus = m_connection.interface())
        bus->unregisterService(m_serviceName);
    m_connection.unregisterObject(kPMObjectPath);
    m_busObject.reset();
}

std::optional<QByteArray> PMControlServer::handleFlattenedEvent(const QByteArray &bytes, QString *error)
{
    if (!withinEventSize(bytes, error))
        return std::nullopt;
    QString why;
    const auto event = AECodec::unflatten(bytes, &why);
    if (!event || !event->isAppleEvent()) {
        const QString text = event ? QStringLiteral("the descriptor is not an event") : why;
        qCWarning(lcProtocol) << "refused a malformed event:" << text;
        setError(error, text);
        return std::nullopt;
    }
    AEDescriptor reply = AEDescriptor::replyEvent();
    m_handlers.dispatch(*event, reply);
    auto flattened = AECodec::flatten(reply, &why);
    if (!flattened) {
        // The handler built something the other side could not read; answer the failure.
        qCWarning(lcProtocol) << "reply cannot be flattened:" << why;
        AEDescriptor failure = AEDescriptor::replyEvent();
        failure.setParamDescriptor(AEDescriptor::descriptorWithInt32(kErrAECoercionFail), keyErrorNumber);
        failure.setParamDescriptor(AEDescriptor::descriptorWithString(why), keyErrorString);
        flattened = AECodec::flatten(failure);
    }
    return flattened;
}

bool PMControlServer::postFlattenedEvent(const QByteArray &bytes, QString *error)
{
    if (!withinEventSize(bytes, error))
        return false;
    QString why;
    const auto event = AECodec::unflatten(bytes, &why);
    if (!event || !event->isAppleEvent()) {
        const QString text = event ? QStringLiteral("the descriptor is not an event") : why;
        qCWarning(lcProtocol) << "dropped a malformed posted event:" << text;
        setError(error, text);
        return false;
    }
    AEDescriptor noReply = AEDescriptor::nullDescriptor();
    m_handlers.dispatch(*event, noReply);
    return true;
}

void PMControlServer::setLogShower(std::function<bool()> shower)
{
    m_logShower = std::move(shower);
}

void PMControlServer::setPathOpener(std::function<QStringList(const QStringList &)> opener)
{
    m_pathOpener = std::move(opener);
}

bool PMControlServer::showLog()
{
    return m_logShower && m_logShower();
}

std::optional<QStringList> PMControlServer::openPaths(const QStringList &paths, QString *error)
{
    if (paths.size() > kMaxOpenPaths) {
        setError(error, QStringLiteral("%1 paths are more than the %2 allowed").arg(paths.size()).arg(kMaxOpenPaths));
        return std::nullopt;
    }
    for (const QString &path : paths) {
        if (path.size() > kMaxPathLength || !path.startsWith(QLatin1Char('/')) || path.contains(QChar(0))) {
            setError(error, QStringLiteral("not an absolute path of at most %1 characters").arg(kMaxPathLength));
            return std::nullopt;
        }
    }
    const QStringList refused = m_pathOpener ? m_pathOpener(paths) : paths;
    qCInfo(lcProtocol) << "opened" << (paths.size() - refused.size()) << "of" << paths.size() << "paths";
    return refused;
}

PMUnmountAnswer PMControlServer::requestUnmount(const QString &mountPoint)
{
    const PMUnmountAnswer answer = m_unmountApprover ? m_unmountApprover(mountPoint) : PMUnmountAnswer();
    qCInfo(lcProtocol) << "unmount of" << mountPoint << (answer.approved ? "approved" : "refused:") << answer.message;
    return answer;
}

} // namespace protocol
