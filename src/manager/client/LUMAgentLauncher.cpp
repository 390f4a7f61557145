#include "manager/client/LUMAgentLauncher.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <limits>

namespace {

const QString kBusService = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
const QString kBusInterface = QStringLiteral("org.freedesktop.DBus");
// How often the name's owner is looked at while waiting for the agent to take it.
constexpr unsigned long kPollIntervalMs = 50;

int remainingMs(const QDeadlineTimer &deadline)
{
    return int(std::clamp<qint64>(deadline.remainingTime(), 1, std::numeric_limits<int>::max()));
}

} // namespace

LUMAgentLauncher::LUMAgentLauncher(QDBusConnection connection, QString agentExecutable, QString serviceName)
    : m_connection(std::move(connection))
    , m_agentExecutable(std::move(agentExecutable))
    , m_serviceName(std::move(serviceName))
{
}

std::optional<QString> LUMAgentLauncher::agentRunningAtPath(QString *why) const
{
    auto fail = [why](const QString &text) -> std::optional<QString> {
        if (why)
            *why = text;
        return std::nullopt;
    };
    if (!m_connection.isConnected() || !m_connection.interface())
        return fail(QStringLiteral("not connected to the session bus"));
    const QDBusReply<QString> owner = m_connection.interface()->serviceOwner(m_serviceName);
    if (!owner.isValid() || owner.value().isEmpty())
        return fail(QStringLiteral("nobody owns %1 on the session bus").arg(m_serviceName));
    // Asked of the unique name, so that both answers concern the same connection.
    const QDBusReply<uint> pid = m_connection.interface()->servicePid(owner.value());
    if (!pid.isValid())
        return fail(QStringLiteral("the bus does not say which process owns %1").arg(m_serviceName));
    const QString running = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid.value()));
    const QString expected = QFileInfo(m_agentExecutable).canonicalFilePath();
    if (running.isEmpty() || expected.isEmpty() || running != expected)
        return fail(QStringLiteral("%1 is owned by process %2 running %3, not the agent at %4")
                        .arg(m_serviceName)
                        .arg(pid.value())
                        .arg(running.isEmpty() ? QStringLiteral("an unknown program") : running, m_agentExecutable));
    return owner.value();
}

std::optional<QString> LUMAgentLauncher::launch(QString *why)
{
    auto fail = [why](const QString &text) -> std::optional<QString> {
        if (why)
            *why = text;
        return std::nullopt;
    };
    if (!m_connection.isConnected())
        return fail(QStringLiteral("no session bus: %1").arg(m_connection.lastError().message()));
    if (auto address = agentRunningAtPath())
        return address;

    const QDeadlineTimer deadline(m_timeout);
    const qint64 logSizeBefore = m_agentLogPath.isEmpty() ? 0 : QFileInfo(m_agentLogPath).size();
    // The activation file may have been written a moment ago; the bus sees it after a reload.
    m_connection.call(
        QDBusMessage::createMethodCall(kBusService, kBusPath, kBusInterface, QStringLiteral("ReloadConfig")),
        QDBus::Block, remainingMs(deadline));

    // A name that already has an owner is not activated again (the bus would refuse without
    // an activation file anyway); whoever owns it is judged below.
    const QDBusReply<bool> owned = m_connection.interface()->isServiceRegistered(m_serviceName);
    if (!owned.isValid() || !owned.value()) {
        if (auto failure = activate(deadline, logSizeBefore))
            return fail(*failure);
    }

    QString lastWhy;
    for (;;) {
        if (auto address = agentRunningAtPath(&lastWhy))
            return address;
        if (deadline.hasExpired())
            break;
        QThread::msleep(std::min<unsigned long>(kPollIntervalMs, ulong(remainingMs(deadline))));
    }
    return fail(QStringLiteral("the agent was not running within %1 s: %2")
                    .arg(double(m_timeout.count()) / 1000.0)
                    .arg(lastWhy));
}

std::optional<QString> LUMAgentLauncher::activate(const QDeadlineTimer &deadline, qint64 logSizeBefore)
{
    QDBusMessage start
        = QDBusMessage::createMethodCall(kBusService, kBusPath, kBusInterface, QStringLiteral("StartServiceByName"));
    start << m_serviceName << uint(0);
    const QDBusMessage started = m_connection.call(start, QDBus::Block, remainingMs(deadline));
    if (started.type() != QDBusMessage::ReplyMessage) {
        const QDBusError error(started);
        QString text;
        if (error.type() == QDBusError::NoReply || error.type() == QDBusError::Timeout
            || error.type() == QDBusError::TimedOut)
            text = QStringLiteral("the agent did not start within %1 s").arg(double(m_timeout.count()) / 1000.0);
        else if (error.type() == QDBusError::ServiceUnknown)
            text = QStringLiteral("the session bus has no usable activation file for %1: %2")
                       .arg(m_serviceName, started.errorMessage());
        else
            text = QStringLiteral("the session bus could not start the agent: %1 (%2)")
                       .arg(started.errorMessage(), started.errorName());
        if (const QString line = lastAgentLogLine(logSizeBefore); !line.isEmpty())
            text += QStringLiteral("; the agent's last log line: ") + line;
        return text;
    }
    return std::nullopt;
}

QString LUMAgentLauncher::lastAgentLogLine(qint64 sinceSize) const
{
    if (m_agentLogPath.isEmpty())
        return {};
    QFile log(m_agentLogPath);
    if (!log.open(QIODevice::ReadOnly) || log.size() <= sinceSize || !log.seek(sinceSize))
        return {};
    // Only what the agent wrote during this launch, and not much of it.
    constexpr qint64 kMaxTail = 64 * 1024;
    if (log.size() - sinceSize > kMaxTail)
        log.seek(log.size() - kMaxTail);
    const QList<QByteArray> lines = log.readAll().split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        if (!it->trimmed().isEmpty())
            return QString::fromUtf8(it->trimmed());
    }
    return {};
}
