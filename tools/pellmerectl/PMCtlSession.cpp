#include "tools/pellmerectl/PMCtlSession.h"

#include "protocol/AEConstants.h"
#include "tools/pellmerectl/PMCtlExitCode.h"
#include "tools/pellmerectl/PMCtlRequests.h"

namespace pmctl {

using namespace protocol;

PMCtlSession::PMCtlSession(PMControlClient &client, FILE *out, FILE *err)
    : m_client(client)
    , m_out(out)
    , m_err(err)
{
}

std::optional<AEDescriptor> PMCtlSession::sendKeepingErrors(const AEDescriptor &event)
{
    if (m_unreachable)
        return std::nullopt;
    AEDescriptor reply;
    const qint32 status = m_client.sendEvent(event, &reply);
    if (status == kNoErr)
        return reply;
    m_unreachable = true;
    fail(transportFailureText(fourCharCodeToString(event.eventID()), status, m_client.lastErrorText(),
             qint64(m_client.timeout().count())),
        kExitUnreachable);
    return std::nullopt;
}

std::optional<AEDescriptor> PMCtlSession::send(const AEDescriptor &event)
{
    auto reply = sendKeepingErrors(event);
    if (!reply)
        return std::nullopt;
    if (const auto error = PMCtlRequests::agentError(event.eventID(), *reply)) {
        fail(*error, kExitFailed);
        return std::nullopt;
    }
    return reply;
}

void PMCtlSession::print(const QString &line)
{
    const QByteArray bytes = line.toLocal8Bit();
    fprintf(m_out, "%s\n", bytes.constData());
    fflush(m_out);
}

void PMCtlSession::fail(const QString &text, int exitCode)
{
    const QByteArray bytes = text.toLocal8Bit();
    fprintf(m_err, "pellmerectl: %s\n", bytes.constData());
    fflush(m_err);
    if (m_exitCode == kExitOk)
        m_exitCode = exitCode;
}

QString PMCtlSession::transportFailureText(const QString &what, qint32 status, const QString &detail, qint64 timeoutMs)
{
    switch (status) {
    case kProcNotFound:
        return QStringLiteral("the Pellmere agent is not running");
    case kErrAETimeout:
        return QStringLiteral("%1: the agent did not answer within %2 s").arg(what).arg(double(timeoutMs) / 1000.0);
    case kConnectionInvalid:
        return QStringLiteral("%1: cannot reach the session bus: %2").arg(what, detail);
    default:
        return QStringLiteral("%1: status %2: %3").arg(what).arg(status).arg(detail);
    }
}

} // namespace pmctl
