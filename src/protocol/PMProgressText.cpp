#include "protocol/PMProgressText.h"

#include "protocol/PMProgressRecord.h"

#include <sys/ioctl.h>
#include <unistd.h>

using namespace PMProgressRecord;

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

} // namespace

int PMProgressText::terminalWidth(FILE *out)
{
    struct winsize size = {};
    if (ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        return size.ws_col;
    return 80;
}

QString PMProgressText::formatBytes(quint64 bytes)
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

QString PMProgressText::activityText(const QVariantMap &record)
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

quint64 PMProgressText::counter(const QVariantMap &record, const QString &key)
{
    bool ok = false;
    if (record.value(key).toLongLong(&ok) < 0 && ok)
        return 0;
    return record.value(key).toULongLong();
}

int PMProgressText::percent(const QVariantMap &record)
{
    const quint64 total = counter(record, kSizeKey);
    if (total == 0)
        return record.value(kActivityTypeKey).toInt() == kActivityCompleted ? 100 : 0;
    const quint64 done
        = counter(record, kCopiedKey) + counter(record, kSkipFilterKey) + counter(record, kSkipPresentKey);
    // Estimates may fall short of what was really copied; never show more than 100%.
    return done >= total ? 100 : int(done * 100 / total);
}

QString PMProgressText::bar(int percent, int cells)
{
    const int filled = cells * qBound(0, percent, 100) / 100;
    return QLatin1Char('[') + QString(filled, QLatin1Char('#')) + QString(cells - filled, QLatin1Char('.'))
        + QLatin1Char(']');
}
