#include "agent/app/PMTerminalProgress.h"

#include "agent/sync/PMSyncProgress.h"

#include <QFileInfo>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

int terminalWidth(FILE *out)
{
    struct winsize size = {};
    if (ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        return size.ws_col;
    return 80;
}

QString activityName(int activity)
{
    switch (activity) {
    case 1:
        return QStringLiteral("Preparing");
    case 2:
        return QStringLiteral("Syncing");
    case 3:
        return QStringLiteral("Finishing");
    case 4:
        return QStringLiteral("Saving settings");
    case 5:
        return QStringLiteral("Stopped");
    case 6:
        return QStringLiteral("Done");
    default:
        return QStringLiteral("Idle");
    }
}

} // namespace

PMTerminalProgress::PMTerminalProgress(FILE *out, QObject *parent)
    : QObject(parent)
    , m_out(out)
    , m_terminal(isatty(fileno(out)) != 0)
{
}

QString PMTerminalProgress::formatBytes(quint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    const char *units[] = { "KiB", "MiB", "GiB", "TiB" };
    double value = double(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 3) {
        value /= 1024.0;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

QString PMTerminalProgress::barLine(const QVariantMap &progress, int width)
{
    const quint64 total = progress.value(PMSyncProgress::kSizeKey).toULongLong();
    const quint64 done = progress.value(PMSyncProgress::kCopiedKey).toULongLong()
        + progress.value(PMSyncProgress::kSkipFilterKey).toULongLong()
        + progress.value(PMSyncProgress::kSkipPresentKey).toULongLong();
    const int percent = total > 0 ? int(qMin<quint64>(100, done * 100 / total)) : 0;
    const int barWidth = qBound(10, width / 4, 40);
    const int filled = barWidth * percent / 100;
    QString line = QStringLiteral("[%1%2] %3% %4 of %5")
                       .arg(QString(filled, QLatin1Char('#')), QString(barWidth - filled, QLatin1Char('.')))
                       .arg(percent, 3)
                       .arg(formatBytes(done), formatBytes(total));
    const QString current = progress.value(PMSyncProgress::kCopySourcePathKey).toString();
    if (!current.isEmpty()) {
        const int room = width - int(line.size()) - 3;
        QString name = QFileInfo(current).fileName();
        if (room > 5) {
            if (name.size() > room)
                name = QStringLiteral("…") + name.right(room - 1);
            line += QStringLiteral("  ") + name;
        }
    }
    return line.left(width - 1);
}

void PMTerminalProgress::sendActivityNotification(bool forced, const QVariantMap &progress)
{
    const int activity = progress.value(PMSyncProgress::kActivityTypeKey).toInt();
    if (forced)
        m_lastActivity.store(activity);
    QMetaObject::invokeMethod(
        this,
        [this, progress, forced, activity] {
            draw(progress, forced);
            if (forced)
                Q_EMIT forcedActivityShown(activity);
        },
        Qt::QueuedConnection);
}

void PMTerminalProgress::draw(const QVariantMap &progress, bool forced)
{
    const int activity = progress.value(PMSyncProgress::kActivityTypeKey).toInt();
    if (m_terminal) {
        const QByteArray line = barLine(progress, terminalWidth(m_out)).toUtf8();
        fprintf(m_out, "\r\033[K%s", line.constData());
        fflush(m_out);
        m_lineOpen = true;
        return;
    }
    // Not a terminal (a log, a pipe): one line per phase, no redrawing.
    if (!forced || activity == m_lastDrawnActivity)
        return;
    m_lastDrawnActivity = activity;
    const QByteArray line = (activityName(activity) + QStringLiteral(": ") + barLine(progress, 200)).toUtf8();
    fprintf(m_out, "%s\n", line.constData());
    fflush(m_out);
}

void PMTerminalProgress::finishLine()
{
    if (m_lineOpen) {
        fputs("\n", m_out);
        fflush(m_out);
        m_lineOpen = false;
    }
}

void PMTerminalProgress::addContinuousSyncItems(const QStringList &)
{
    // A one-shot sync has no continuous queue to hand folders back to.
}

void PMTerminalProgress::showLog()
{
    finishLine();
    fputs("The log is in the agent's log file (see \"pellmere --help\").\n", m_out);
}
