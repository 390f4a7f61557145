#include "tools/pellmerectl/PMCtlProgressRenderer.h"

#include "tools/pellmerectl/PMCtlProgressKeys.h"

#include <QFileInfo>

namespace pmctl {

namespace {

QString failureText(int failure)
{
    switch (failure) {
    case kFailureIncomplete:
        return QStringLiteral("did not complete");
    case kFailureDriveDisappeared:
        return QStringLiteral("drive disappeared");
    case kFailureNetworkLost:
        return QStringLiteral("network connection lost");
    case kFailureCanceled:
        return QStringLiteral("canceled");
    default:
        return QString();
    }
}

quint64 counter(const QVariantMap &record, const QString &key)
{
    // Counters are unsigned; a negative number from a confused sender counts as nothing.
    bool ok = false;
    if (record.value(key).toLongLong(&ok) < 0 && ok)
        return 0;
    return record.value(key).toULongLong();
}

} // namespace

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

QString PMCtlProgressRenderer::activityText(const QVariantMap &record)
{
    switch (record.value(kActivityTypeKey).toInt()) {
    case kActivityPreparing:
        return QStringLiteral("Preparing");
    case kActivitySyncing:
        return QStringLiteral("Syncing");
    case kActivityFinishing:
        return QStringLiteral("Finishing");
    case kActivitySettingsJob:
        return QStringLiteral("Updating settings");
    case kActivityFailed: {
        const QString why = failureText(record.value(kFailureTypeKey).toInt());
        return why.isEmpty() ? QStringLiteral("Stopped") : QStringLiteral("Stopped: ") + why;
    }
    case kActivityCompleted:
        return QStringLiteral("Completed");
    default:
        return QStringLiteral("Idle");
    }
}

int PMCtlProgressRenderer::percent(const QVariantMap &record)
{
    const quint64 total = counter(record, kSizeKey);
    if (total == 0)
        return record.value(kActivityTypeKey).toInt() == kActivityCompleted ? 100 : 0;
    const quint64 done
        = counter(record, kCopiedKey) + counter(record, kSkipFilterKey) + counter(record, kSkipPresentKey);
    // Estimates may fall short of what was really copied; never show more than 100%.
    return done >= total ? 100 : int(done * 100 / total);
}

QString PMCtlProgressRenderer::formatBytes(quint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    static const char *const units[] = { "KiB", "MiB", "GiB", "TiB", "PiB" };
    double value = double(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 4) {
        value /= 1024.0;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

QString PMCtlProgressRenderer::plainLine(const QString &drive) const
{
    const QVariantMap progress = record(drive);
    return QStringLiteral("%1: %2, copied %3 of %4 (%5%)")
        .arg(drive, activityText(progress), formatBytes(counter(progress, kCopiedKey)),
            formatBytes(counter(progress, kSizeKey)))
        .arg(percent(progress));
}

QString PMCtlProgressRenderer::barLine(const QString &drive, int width) const
{
    const QVariantMap progress = record(drive);
    const int value = percent(progress);
    const int barWidth = qBound(10, width / 5, 30);
    const int filled = barWidth * value / 100;
    // Drives and activities padded alike, so the bars of several drives line up.
    qsizetype driveWidth = 0;
    qsizetype activityWidth = 0;
    for (qsizetype index = 0; index < m_order.size(); ++index) {
        driveWidth = qMax(driveWidth, m_order.at(index).size());
        activityWidth = qMax(activityWidth, activityText(m_records.at(index)).size());
    }
    QString line = QStringLiteral("%1  %2  [%3%4] %5%  %6 of %7")
                       .arg(drive.leftJustified(driveWidth), activityText(progress).leftJustified(activityWidth),
                           QString(filled, QLatin1Char('#')), QString(barWidth - filled, QLatin1Char('.')))
                       .arg(value, 3)
                       .arg(formatBytes(counter(progress, kCopiedKey)), formatBytes(counter(progress, kSizeKey)));
    const QString current = progress.value(kCopySourcePathKey).toString();
    if (!current.isEmpty())
        line += QStringLiteral("  ") + QFileInfo(current).fileName();
    if (width > 1 && line.size() >= width)
        line = line.left(width - 2) + QStringLiteral("…");
    return line;
}

} // namespace pmctl
