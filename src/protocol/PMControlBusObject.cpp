#include "protocol/PMControlBusObject.h"

#include "protocol/PMControlServer.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>

namespace protocol {

PMControlBusObject::PMControlBusObject(PMControlServer &server)
    : m_server(server)
{
}

QByteArray PMControlBusObject::HandleEvent(const QByteArray &event)
{
    QString error;
    const auto reply = m_server.handleFlattenedEvent(event, &error);
    if (!reply) {
        sendErrorReply(kPMBadEventError, error);
        return QByteArray();
    }
    return *reply;
}

void PMControlBusObject::PostEvent(const QByteArray &event)
{
    QString error;
    // A posted event has nobody waiting; a caller that does wait learns why it was refused.
    if (!m_server.postFlattenedEvent(event, &error) && calledFromDBus() && message().isReplyRequired())
        sendErrorReply(kPMBadEventError, error);
}

bool PMControlBusObject::RequestUnmount(const QString &mountPoint, uint &status, QString &message)
{
    const PMUnmountAnswer answer = m_server.requestUnmount(mountPoint);
    status = answer.status;
    message = answer.message;
    return answer.approved;
}

bool PMControlBusObject::ShowLog()
{
    return m_server.showLog();
}

QStringList PMControlBusObject::OpenPaths(const QStringList &paths)
{
    QString error;
    const auto refused = m_server.openPaths(paths, &error);
    if (!refused) {
        sendErrorReply(QDBusError::InvalidArgs, error);
        return {};
    }
    return *refused;
}

} // namespace protocol
