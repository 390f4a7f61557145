#include "tools/pellmerectl/PMCtlWatchCommand.h"

#include "platform/UnixSignalNotifier.h"
#include "protocol/PMControlClient.h"
#include "protocol/PMNotificationSubscriber.h"
#include "protocol/PMProgressRecord.h"
#include "protocol/PMProgressText.h"
#include "tools/pellmerectl/PMCtlExitCode.h"

#include <csignal>

#include <unistd.h>

namespace pmctl {

using namespace PMProgressRecord;

namespace {

void writeLine(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    fprintf(stream, "%s\n", bytes.constData());
    fflush(stream);
}

} // namespace

PMCtlWatchCommand::PMCtlWatchCommand(QDBusConnection connection, FILE *out, FILE *err, QObject *parent)
    : QObject(parent)
    , m_connection(std::move(connection))
    , m_out(out)
    , m_err(err)
    , m_terminal(isatty(fileno(out)) != 0)
{
}

int PMCtlWatchCommand::run()
{
    if (!m_connection.isConnected()) {
        writeLine(m_err,
            QStringLiteral("pellmerectl: watch: cannot reach the session bus: %1")
                .arg(m_connection.lastError().message()));
        return kExitUnreachable;
    }
    platform::UnixSignalNotifier signals({ SIGINT, SIGTERM });
    connect(&signals, &platform::UnixSignalNotifier::signalReceived, this, [this](int) { finish(kExitOk); });

    protocol::PMNotificationSubscriber subscriber(m_connection);
    connect(&subscriber, &protocol::PMNotificationSubscriber::posted, this,
        [this](const QString &, const QString &, const QVariantMap &userInfo) { onPosted(userInfo); });
    if (!subscriber.subscribe(kSyncInProgressNotification)) {
        writeLine(m_err,
            QStringLiteral("pellmerectl: watch: cannot subscribe to the agent's notifications: %1")
                .arg(m_connection.lastError().message()));
        return kExitUnreachable;
    }
    // Said once we are listening, so a script (or a test) knows from here on nothing is missed.
    QString hint = QStringLiteral("Watching sync progress; press Ctrl-C to stop.");
    if (!protocol::PMControlClient(m_connection).isAgentRunning())
        hint += QStringLiteral(" The Pellmere agent is not running yet.");
    writeLine(m_err, hint);

    const int exitCode = m_loop.exec();
    if (m_terminal && m_linesDrawn > 0)
        fflush(m_out);
    return exitCode;
}

void PMCtlWatchCommand::onPosted(const QVariantMap &record)
{
    // A forced notification may come without a record; there is nothing to show then.
    if (record.isEmpty() || !record.contains(kActivityTypeKey))
        return;
    if (!m_drive.isEmpty() && record.contains(kActivePathKey) && record.value(kActivePathKey).toString() != m_drive)
        return;
    const QString drive = m_renderer.update(record);
    if (!m_drive.isEmpty() && drive != m_drive)
        return;
    if (m_terminal)
        redraw();
    else
        writeLine(m_out, m_renderer.plainLine(drive));

    const int activity = record.value(kActivityTypeKey).toInt();
    if (m_once && (activity == kActivityCompleted || activity == kActivityFailed))
        finish(activity == kActivityCompleted ? kExitOk : kExitFailed);
}

void PMCtlWatchCommand::redraw()
{
    const int width = PMProgressText::terminalWidth(m_out);
    QByteArray text;
    // Back to the first line of the block drawn last time, then every drive's line anew.
    if (m_linesDrawn > 0)
        text += "\r\033[" + QByteArray::number(m_linesDrawn) + "A";
    const QStringList drives = m_renderer.drives();
    for (const QString &drive : drives)
        text += "\r\033[K" + m_renderer.barLine(drive, width).toLocal8Bit() + "\n";
    m_linesDrawn = int(drives.size());
    fputs(text.constData(), m_out);
    fflush(m_out);
}

void PMCtlWatchCommand::finish(int exitCode)
{
    m_loop.exit(exitCode);
}

} // namespace pmctl
