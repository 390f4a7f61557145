#include "protocol/PMControlBusObject.h"

#include "protocol/PMControlServer.h"

#include <QDBusConnection>
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
    m_server.postFlattenedEvent(event);
}

bool PMControlBusObject::RequestUnmount(const QString &mountPoint, uint &status, QString &message)
{
    const PMUnmountAnswer answer = m_server.requestUnmount(mountPoint);
    status = answer.status;
    message = answer.message;
    return answer.approved;
}

} // namespace protocol
