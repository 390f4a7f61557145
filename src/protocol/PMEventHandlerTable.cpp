#include "protocol/PMEventHandlerTable.h"

#include "protocol/ProtocolLogging.h"

namespace protocol {

namespace {

quint64 tableKey(AEEventClass eventClass, AEEventID eventID)
{
    return (quint64(eventClass) << 32) | eventID;
}

} // namespace

void PMEventHandlerTable::setDebugSink(std::function<void(const QString &)> sink)
{
    m_debugSink = std::move(sink);
}

void PMEventHandlerTable::installHandler(AEEventClass eventClass, AEEventID eventID, PMEventHandler handler)
{
    m_handlers.insert(tableKey(eventClass, eventID), std::move(handler));
}

bool PMEventHandlerTable::removeHandler(AEEventClass eventClass, AEEventID eventID)
{
    return m_handlers.remove(tableKey(eventClass, eventID)) > 0;
}

bool PMEventHandlerTable::hasHandler(AEEventClass eventClass, AEEventID eventID) const
{
    return m_handlers.contains(tableKey(eventClass, eventID));
}

qint32 PMEventHandlerTable::dispatch(const AEDescriptor &event, AEDescriptor &reply) const
{
    const auto found = m_handlers.constFind(tableKey(event.eventClass(), event.eventID()));
    if (found == m_handlers.cend() || !found->action) {
        qCWarning(lcProtocol) << "no handler for event" << fourCharCodeToString(event.eventClass())
                              << fourCharCodeToString(event.eventID());
        if (!reply.isNull()) {
            reply.setParamDescriptor(AEDescriptor::descriptorWithInt32(kErrAEEventNotHandled), keyErrorNumber);
            reply.setParamDescriptor(
                AEDescriptor::descriptorWithString(QStringLiteral("event not handled")), keyErrorString);
        }
        return kErrAEEventNotHandled;
    }
    const PMEventHandler &handler = *found;
    const QString traceEnd = handler.periodAfterTrace ? QStringLiteral(".") : QString();
    debug(QStringLiteral("> %1: %2%3").arg(handler.name, event.description(), traceEnd));

    PMHandlerResult outcome;
    const auto directObject = event.paramDescriptorForKeyword(keyDirectObject);
    const QString mountPath = directObject ? directObject->filePath() : QString();
    if (!handler.needsDrive) {
        outcome = handler.action(PMHandlerRequest { event, QString() });
    } else if (!directObject) {
        const QString text = handler.missingObjectText == PMEventHandler::MissingObjectText::LowerCase
            ? QStringLiteral("unable to get event descriptor")
            : QStringLiteral("unable to get Event Descriptor");
        debug(QStringLiteral("-%1: %2.").arg(handler.name, text));
        outcome = PMHandlerResult::withError(kParamErr, text);
    } else if (mountPath.isEmpty()) {
        debug(QStringLiteral("-%1: unable to retrieve main URL.").arg(handler.name));
        outcome = PMHandlerResult::withError(kParamErr, QStringLiteral("unable to retrieve main URL"));
    } else {
        debug(QStringLiteral("-%1: main URL is %2").arg(handler.name, mountPath));
        outcome = handler.action(PMHandlerRequest { event, mountPath });
    }

    if (!reply.isNull()) {
        // The status event answers its archive under a keyword of its own, 'STAT', not '----'.
        if (outcome.result)
            reply.setParamDescriptor(
                *outcome.result, outcome.result->descriptorType() == typeStatus ? keyStatus : keyDirectObject);
        if (outcome.errorNumber != 0)
            reply.setParamDescriptor(AEDescriptor::descriptorWithInt32(outcome.errorNumber), keyErrorNumber);
        if (!outcome.errorString.isEmpty())
            reply.setParamDescriptor(AEDescriptor::descriptorWithString(outcome.errorString), keyErrorString);
    }
    debug(QStringLiteral("< %1: %2%3").arg(handler.name, reply.description(), traceEnd));
    return kNoErr;
}

void PMEventHandlerTable::debug(const QString &text) const
{
    if (m_debugSink)
        m_debugSink(text);
    else
        qCDebug(lcProtocol).noquote() << text;
}

} // namespace protocol
