// The agent's table of control-protocol handlers, one per event class and id, and the frame
// every handler runs in:
//   1. debug "> handleQueryEvent: <event>";
//   2. no direct object: -50 "unable to get Event Descriptor" (or the lower-case text some
//      handlers use), the action is not run;
//   3. a direct object that holds no file URL: -50 "unable to retrieve main URL";
//   4. otherwise debug "-handleQueryEvent: main URL is <path>" and run the action;
//   5. unless the reply is a null descriptor (the sender asked for none): put the result
//      under '----' (a 'STAT' archive under 'STAT'), then 'errn' when non-zero, then 'errs'
//      when there is a text;
//   6. debug "< handleQueryEvent: <reply>".
// A handler that needs no drive skips steps 2 to 4.
//
//   table.installHandler(kPMEventClass, kPMQueryID, {QStringLiteral("handleQueryEvent"),
//       [](const PMHandlerRequest &request) { return PMHandlerResult::withValue(...); }});
//   table.dispatch(event, reply);
//
// Main thread (the thread that owns the control server); handlers run there one at a time.
#pragma once

#include "protocol/AEDescriptor.h"

#include <QHash>
#include <QString>

#include <functional>
#include <optional>

namespace protocol {

// What the action of a handler is given: the event and the drive's mount path taken from
// the direct object's file URL.
struct PMHandlerRequest {
    const AEDescriptor &event;
    QString mountPath;
};

// What the action answers: an optional result for '----', an error number and text.
struct PMHandlerResult {
    std::optional<AEDescriptor> result;
    qint32 errorNumber = 0;
    QString errorString;

    static PMHandlerResult none() { return {}; }
    static PMHandlerResult withValue(const AEDescriptor &value) { return { value, 0, QString() }; }
    static PMHandlerResult withError(qint32 number, const QString &text = QString())
    {
        return { std::nullopt, number, text };
    }
};

struct PMEventHandler {
    enum class MissingObjectText { Standard, LowerCase };

    // The handler's own name, used in the debug lines ("handleQueryEvent").
    QString name;
    std::function<PMHandlerResult(const PMHandlerRequest &)> action;
    // The media getters answer "unable to get event descriptor" for a missing direct object.
    MissingObjectText missingObjectText = MissingObjectText::Standard;
    // Some handlers end their entry and exit debug lines with a period.
    bool periodAfterTrace = false;
    // Events about the agent rather than one drive carry no direct object: steps 2 to 4 are
    // skipped and the action runs with an empty path.
    bool needsDrive = true;
};

class PMEventHandlerTable {
public:
    // Where the frame's debug lines go; the agent points this at its debug log. By default
    // they go to the "pellmere.protocol" console category at debug level.
    void setDebugSink(std::function<void(const QString &)> sink);

    // Installs or replaces the handler of one event class and id.
    void installHandler(AEEventClass eventClass, AEEventID eventID, PMEventHandler handler);
    bool removeHandler(AEEventClass eventClass, AEEventID eventID);
    bool hasHandler(AEEventClass eventClass, AEEventID eventID) const;

    // Runs the handler of the event's class and id in the frame above. With no handler the
    // answer is -1708 (event not handled), also written into a reply that wants one.
    // Answers the handler-level status: 0 when a handler ran, else -1708.
    qint32 dispatch(const AEDescriptor &event, AEDescriptor &reply) const;

private:
    void debug(const QString &text) const;

    QHash<quint64, PMEventHandler> m_handlers;
    std::function<void(const QString &)> m_debugSink;
};

} // namespace protocol
