#include "tools/pellmerectl/PMCtlProgressRenderer.h"

#include "protocol/PMProgressRecord.h"
#include "protocol/PMProgressText.h"

#include <QFileInfo>

namespace pmctl {

using namespace PMProgressRecord;

QString PMCtlProgressRenderer::update(const QVariantMap &record)
{
    QString drive = record.value(kActivePathKey).toString();
    if (drive.isEmpty())
        drive = m_lastDrive.isEmpty() ? QStringLiteral("(unknown drive)") : m_lastDrive;
    m_lastDrive = drive;
    const qsizetype index = m_order.indexOf(drive);
    if (index < 0) {
        m_order << drive;
        m_records << record;
    } else {
        m_records[index] = record;
    }
    return drive;
}

QVariantMap PMCtlProgressRenderer::record(const QString &drive) const
{
    const qsizetype index = m_order.indexOf(drive);
    return index < 0 ? QVariantMap() : m_records.at(index);
}

QString PMCtlProgressRenderer::plainLine(const QString &drive) const
{
    const QVariantMap progress = record(drive);
    return QStringLiteral("%1: %2, copied %3 of %4 (%5%)")
        .arg(drive, PMProgressText::activityText(progress),
            PMProgressText::formatBytes(PMProgressText::counter(progress, kCopiedKey)),
            PMProgressText::formatBytes(PMProgressText::counter(progress, kSizeKey)))
        .arg(PMProgressText::percent(progress));
}

QString PMCtlProgressRenderer::barLine(const QString &drive, int width) const
{
    const QVariantMap progress = record(drive);
    const int value = PMProgressText::percent(progress);
    const int barWidth = qBound(10, width / 5, 30);
    // Drives and activities padded alike, so the bars of several drives line up.
    qsizetype driveWidth = 0;
    qsizetype activityWidth = 0;
    for (qsizetype index = 0; index < m_order.size(); ++index) {
        driveWidth = qMax(driveWidth, m_order.at(index).size());
        activityWidth = qMax(activityWidth, PMProgressText::activityText(m_records.at(index)).size());
    }
    QString line
        = QStringLiteral("%1  %2  %3 %4%  %5 of %6")
              .arg(drive.leftJustified(driveWidth), PMProgressText::activityText(progress).leftJustified(activityWidth),
                  PMProgressText::bar(value, barWidth))
              .arg(value, 3)
              .arg(PMProgressText::formatBytes(PMProgressText::counter(progress, kCopiedKey)),
                  PMProgressText::formatBytes(PMProgressText::counter(progress, kSizeKey)));
    const QString current = progress.value(kCopySourcePathKey).toString();
    if (!current.isEmpty())
        line += QStringLiteral("  ") + QFileInfo(current).fileName();
    if (width > 1 && line.size() >= width)
        line = line.left(width - 2) + QStringLiteral("…");
    return line;
}

} // namespace pmctl
