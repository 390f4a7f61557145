#include "agent/settings/PMHostUserIdentity.h"

#include "platform/HostIdentity.h"

#include <QTimeZone>

namespace {

QString hex(int value, int width)
{
    return QStringLiteral("%1").arg(value, width, 16, QLatin1Char('0')).toUpper();
}

} // namespace

QString PMHostUserIdentity::driveIdentity(const QString &macWithoutSeparators, uint userId)
{
    return QStringLiteral("%1-%2").arg(macWithoutSeparators).arg(userId);
}

QString PMHostUserIdentity::preferenceIdentity(
    const QString &macWithoutSeparators, const QDateTime &created, uint userId)
{
    const QDateTime utc = created.toUTC();
    const QDate date = utc.date();
    const QTime time = utc.time();
    return macWithoutSeparators + QLatin1Char('-') + hex(date.year(), 3) + hex(date.month(), 1) + hex(date.day(), 2)
        + hex(time.hour(), 2) + hex(time.minute(), 2) + hex(time.second(), 2) + QLatin1Char('-')
        + QString::number(userId);
}

QString PMHostUserIdentity::uniqueHostUserId(const platform::HostIdentity &host)
{
    return driveIdentity(platform::HostIdentity::formatMacAddress(host.primaryMacAddress(), false), host.userId());
}

QString PMHostUserIdentity::uniqueHostUserId()
{
    static const QString identity = uniqueHostUserId(*platform::HostIdentity::create());
    return identity;
}
