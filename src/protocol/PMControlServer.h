// The agent's end of the control protocol on the session bus: owns the well-known name
// com.corvane.pellmere (which also keeps the agent single: a second one cannot own it) and
// exports /com/corvane/pellmere with the interface com.corvane.pellmere.Control:
//   HandleEvent(ay event) -> (ay reply)   the event is dispatched, its reply flattened back;
//   PostEvent(ay event)                   no reply: the action runs, nothing is written back;
//   RequestUnmount(s mountPoint) -> (b approved, u status, s message);
//   ShowLog() -> (b shown)                the log window is shown (false: the agent has none);
//   OpenPaths(as paths) -> (as refused)   the drive holding each path syncs; the paths no
//                                         connected drive holds are answered back.
// Bytes that are not a flattened event, and events larger than kMaxEventSize (refused
// before any decoding), are answered with the D-Bus error com.corvane.pellmere.Error.BadEvent
// (PostEvent drops them with a log line, and answers the error only to a caller that waits
// for a reply).
//
//   PMControlServer server(QDBusConnection::sessionBus());
//   server.handlers().installHandler(kPMEventClass, kPMQueryID, {...});
//   QString why;
//   if (!server.start(&why)) { qCritical() << why; return 1; }
//
// Lives on the main thread: calls from the bus arrive there through its event loop, one at a
// time, so a handler may block and its reply simply waits. A handler that runs a nested event
// loop (a modal alert) lets further calls in meanwhile; those are answered in turn.
#pragma once

#include "protocol/PMBusNames.h"
#include "protocol/PMEventHandlerTable.h"
#include "protocol/PMUnmountAnswer.h"

#include <QDBusConnection>
#include <QObject>

#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace protocol {

class PMControlBusObject;

class PMControlServer : public QObject {
    Q_OBJECT
public:
    // The largest event accepted. The biggest one the protocol needs, a sync list, is a few
    // kilobytes; anything larger is refused by its size alone, so a flood of huge events
    // costs the main thread next to nothing (the bus itself carries up to 128 MiB).
    static constexpr qsizetype kMaxEventSize = 1024 * 1024;
    // OpenPaths takes at most this many paths of at most kMaxPathLength characters; a longer
    // list, or a longer or relative path, is refused whole without reaching the agent.
    static constexpr qsizetype kMaxOpenPaths = 1024;
    static constexpr qsizetype kMaxPathLength = 4096;

    explicit PMControlServer(
        QDBusConnection connection, QString serviceName = kPMServiceName, QObject *parent = nullptr);
    ~PMControlServer() override;

    PMEventHandlerTable &handlers() { return m_handlers; }
    const PMEventHandlerTable &handlers() const { return m_handlers; }

    // Decides RequestUnmount; without one every unmount is approved.
    void setUnmountApprover(std::function<PMUnmountAnswer(const QString &mountPoint)> approver);
    // Shows the log window and answers whether there was one; without a handler, false.
    void setLogShower(std::function<bool()> shower);
    // Starts the syncs for the paths and answers those it could not place; without a
    // handler every path is refused.
    void setPathOpener(std::function<QStringList(const QStringList &paths)> opener);

    // Exports the object and takes the name, never queueing for it nor taking it from its
    // owner. On failure nothing stays registered and `error` says why (for a second agent:
    // which process owns the name).
    [[nodiscard]] bool start(QString *error = nullptr);
    // Releases the name and the object; also done on destruction.
    void stop();
    bool isRunning() const { return m_running; }

private:
    friend class PMControlBusObject;
    // The whole HandleEvent, PostEvent and RequestUnmount paths, called by the exported object.
    std::optional<QByteArray> handleFlattenedEvent(const QByteArray &bytes, QString *error);
    // False (and why) when the bytes were refused.
    bool postFlattenedEvent(const QByteArray &bytes, QString *error);
    PMUnmountAnswer requestUnmount(const QString &mountPoint);
    bool showLog();
    // Null (and why) when the list itself is refused.
    std::optional<QStringList> openPaths(const QStringList &paths, QString *error);

    QDBusConnection m_connection;
    QString m_serviceName;
    PMEventHandlerTable m_handlers;
    std::function<PMUnmountAnswer(const QString &)> m_unmountApprover;
    std::function<bool()> m_logShower;
    std::function<QStringList(const QStringList &)> m_pathOpener;
    std::unique_ptr<PMControlBusObject> m_busObject;
    bool m_running = false;
};

} // namespace protocol
