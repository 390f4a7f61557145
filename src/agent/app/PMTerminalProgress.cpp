#include "agent/app/PMTerminalProgress.h"

#include "agent/sync/PMSyncProgress.h"
#include "protocol/PMProgressText.h"

#include <QFileInfo>

#include <unistd.h>

PMTerminalProgress::PMTerminalProgress(FILE *out, QObject *parent)
    : QObject(parent)
    , m_out(out)
    , m_terminal(isatty(fileno(out)) != 0)
{
}

QString PMTerminalProgress::barLine(const QVariantMap &progress, int width)
{
    const quint64 total = progress.value(PMSyncProgress::kSizeKey).toULongLong();
    const quint64 done = progress.value(PMSyncProgress::kCopiedKey).toULongLong()
        + progress.value(PMSyncProgress::kSkipFilterKey).toULongLong()
        + progress.value(PMSyncProgress::kSkipPresentKey).toULongLong();
    const int percent = PMProgressText::percent(progress);
    QString line = QStringLiteral("%1 %2% %3 of %4")
                       .arg(PMProgressText::bar(percent, qBound(10, width / 4, 40)))
                       .arg(percent, 3)
                       .arg(PMProgressText::formatBytes(done), PMProgressText::formatBytes(total));
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
        const QByteArray line = barLine(progress, PMProgressText::terminalWidth(m_out)).toUtf8();
        fprintf(m_out, "\r\033[K%s", line.constData());
        fflush(m_out);
        m_lineOpen = true;
        return;
    }
    // Not a terminal (a log, a pipe): one line per phase, no redrawing.
    if (!forced || activity == m_lastDrawnActivity)
        return;
    m_lastDrawnActivity = activity;
    const QByteArray line
        = (PMProgressText::activityText(progress) + QStringLiteral(": ") + barLine(progress, 200)).toUtf8();
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
