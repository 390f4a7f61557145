// Starts the agent through D-Bus activation and waits, within a bound, until it runs: the
// session bus reads the activation file again (ReloadConfig, since it may just have been
// written), starts the agent on StartServiceByName, and the agent counts as running once
// the owner of its bus name is a process running the agent program at the expected path
// (GetConnectionUnixProcessID, then /proc/<pid>/exe).
//
//   LUMAgentLauncher launcher(QDBusConnection::sessionBus(), paths.agentExecutable);
//   QString why;
//   if (const auto address = launcher.launch(&why)) ... send events to *address ...
//   else ... why: no session bus, the bus's activation error (with the agent's exit status),
//            the agent's last log line, or another program owning the name ...
//
// Blocking: waits on the calling thread (at most the timeout) without running its event loop.
#pragma once

#include "protocol/PMBusNames.h"

#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QString>

#include <chrono>
#include <optional>

class LUMAgentLauncher {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout = std::chrono::seconds(15);

    LUMAgentLauncher(
        QDBusConnection connection, QString agentExecutable, QString serviceName = protocol::kPMServiceName);

    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    // Where the agent writes its log; the last line it wrote while starting is added to the
    // reason of a failed launch. Empty: not read.
    void setAgentLogPath(const QString &path) { m_agentLogPath = path; }

    // The agent's unique bus name once it runs; nothing and why otherwise.
    std::optional<QString> launch(QString *why);
    // The unique bus name of the name's owner when that process runs the agent program at
    // the expected path; nothing (and why) otherwise.
    std::optional<QString> agentRunningAtPath(QString *why = nullptr) const;

private:
    // StartServiceByName; nothing when the bus started the agent, else why not.
    std::optional<QString> activate(const QDeadlineTimer &deadline, qint64 logSizeBefore);
    QString lastAgentLogLine(qint64 sinceSize) const;

    QDBusConnection m_connection;
    QString m_agentExecutable;
    QString m_serviceName;
    QString m_agentLogPath;
    std::chrono::milliseconds m_timeout = kDefaultTimeout;
};
