#include "protocol/PMControlClient.h"

#include "protocol/AECodec.h"
#include "protocol/ProtocolLogging.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusReply>

#include <algorithm>
#include <limits>

namespace protocol {

PMControlClient::PMControlClient(QDBusConnection connection, QString serviceName)
    : m_connection(std::move(connection))
    , m_serviceName(std::move(serviceName))
{
}

qint32 PMControlClient::sendEvent(const AEDescriptor &event, AEDescriptor *reply)
{
    QString why;
    const auto bytes = AECodec::flatten(event, &why);
    if (!bytes)
        return fail(kErrAENotAEDesc, QStringLiteral("the event cannot be flattened: %1").arg(why));
    QDBusMessage message = methodCall(QStringLiteral("HandleEvent"));
    message << *bytes;
    qint32 status = kNoErr;
    const auto answer = call(message, &status);
    if (!answer)
        return status;
    const QList<QVariant> arguments = answer->arguments();
    if (arguments.size() != 1 || arguments.first().typeId() != QMetaType::QByteArray)
        return fail(kErrAENotAEDesc,
            QStringLiteral("the agent answered HandleEvent with %1 unexpected values").arg(arguments.size()));
    auto decoded = AECodec::unflatten(arguments.first().toByteArray(), &why);
    if (!decoded || !decoded->isAppleEvent())
        return fail(kErrAENotAEDesc,
            QStringLiteral("the agent's reply cannot be read: %1").arg(decoded ? QStringLiteral("not an event") : why));
    m_lastErrorText.clear();
    if (reply)
        *reply = *decoded;
    return kNoErr;
}

qint32 PMControlClient::postEvent(const AEDescriptor &event)
{
    QString why;
    const auto bytes = AECodec::flatten(event, &why);
    if (!bytes)
        return fail(kErrAENotAEDesc, QStringLiteral("the event cannot be flattened: %1").arg(why));
    if (!m_connection.isConnected())
        return fail(kConnectionInvalid,
            QStringLiteral("not connected to the session bus: %1").arg(m_connection.lastError().message()));
    if (!isAgentRunning())
        return fail(kProcNotFound,
            QStringLiteral("no Pellmere agent is running: nobody owns %1 on the session bus").arg(m_serviceName));
    QDBusMessage message = methodCall(QStringLiteral("PostEvent"));
    message << *bytes;
    message.setAutoStartService(false);
    if (!m_connection.send(message))
        return fail(
            kConnectionInvalid, QStringLiteral("cannot post the event: %1").arg(m_connection.lastError().message()));
    m_lastErrorText.clear();
    return kNoErr;
}

qint32 PMControlClient::requestUnmount(const QString &mountPoint, PMUnmountAnswer *answer)
{
    QDBusMessage message = methodCall(QStringLiteral("RequestUnmount"));
    message << mountPoint;
    qint32 status = kNoErr;
    const auto reply = call(message, &status);
    if (!reply)
        return status;
    const QList<QVariant> arguments = reply->arguments();
    if (arguments.size() != 3 || arguments.at(0).typeId() != QMetaType::Bool
        || arguments.at(1).typeId() != QMetaType::UInt || arguments.at(2).typeId() != QMetaType::QString)
        return fail(kErrAENotAEDesc, QStringLiteral("the agent answered RequestUnmount with unexpected values"));
    m_lastErrorText.clear();
    if (answer)
        *answer = PMUnmountAnswer { arguments.at(0).toBool(), arguments.at(1).toUInt(), arguments.at(2).toString() };
    return kNoErr;
}

qint32 PMControlClient::showLog(bool *shown)
{
    qint32 status = kNoErr;
    const auto reply = call(methodCall(QStringLiteral("ShowLog")), &status);
    if (!reply)
        return status;
    const QList<QVariant> arguments = reply->arguments();
    if (arguments.size() != 1 || arguments.at(0).typeId() != QMetaType::Bool)
        return fail(kErrAENotAEDesc, QStringLiteral("the agent answered ShowLog with unexpected values"));
    m_lastErrorText.clear();
    if (shown)
        *shown = arguments.at(0).toBool();
    return kNoErr;
}

qint32 PMControlClient::openPaths(const QStringList &paths, QStringList *refused)
{
    QDBusMessage message = methodCall(QStringLiteral("OpenPaths"));
    message << paths;
    qint32 status = kNoErr;
    const auto reply = call(message, &status);
    if (!reply)
        return status;
    const QList<QVariant> arguments = reply->arguments();
    if (arguments.size() != 1 || arguments.at(0).typeId() != QMetaType::QStringList)
        return fail(kErrAENotAEDesc, QStringLiteral("the agent answered OpenPaths with unexpected values"));
    m_lastErrorText.clear();
    if (refused)
        *refused = arguments.at(0).toStringList();
    return kNoErr;
}

bool PMControlClient::isAgentRunning() const
{
    if (!m_connection.isConnected() || !m_connection.interface())
        return false;
    const QDBusReply<bool> reply = m_connection.interface()->isServiceRegistered(m_serviceName);
    return reply.isValid() && reply.value();
}

QDBusMessage PMControlClient::methodCall(const QString &method) const
{
    return QDBusMessage::createMethodCall(m_serviceName, kPMObjectPath, kPMControlInterface, method);
}

std::optional<QDBusMessage> PMControlClient::call(const QDBusMessage &message, qint32 *status)
{
    if (!m_connection.isConnected()) {
        *status = fail(kConnectionInvalid,
            QStringLiteral("not connected to the session bus: %1").arg(m_connection.lastError().message()));
        return std::nullopt;
    }
    const int timeout = int(std::clamp<qint64>(m_timeout.count(), 1, std::numeric_limits<int>::max()));
    const QDBusMessage answer = m_connection.call(message, QDBus::Block, timeout);
    if (answer.type() == QDBusMessage::ReplyMessage)
        return answer;

    const QDBusError error(answer);
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
        *status = fail(kProcNotFound,
            QStringLiteral("no Pellmere agent is running: nobody owns %1 on the session bus").arg(m_serviceName));
        break;
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        *status = fail(kErrAETimeout, QStringLiteral("the agent did not answer within %1 ms").arg(timeout));
        break;
    default:
        if (answer.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
            *status = fail(kProcNotFound,
                QStringLiteral("no Pellmere agent is running: nobody owns %1 on the session bus").arg(m_serviceName));
        else if (answer.errorName() == kPMBadEventError)
            *status
                = fail(kErrAENotAEDesc, QStringLiteral("the agent refused the event: %1").arg(answer.errorMessage()));
        else
            *status = fail(kConnectionInvalid,
                QStringLiteral("the call to the agent failed: %1 (%2)").arg(answer.errorMessage(), answer.errorName()));
        break;
    }
    return std::nullopt;
}

qint32 PMControlClient::fail(qint32 status, const QString &text)
{
    m_lastErrorText = text;
    // The caller decides how to report a failed send (pellmerectl prints it, the manager logs
    // it); here it is only traced.
    qCDebug(lcProtocol).noquote() << text;
    return status;
}

} // namespace protocol
