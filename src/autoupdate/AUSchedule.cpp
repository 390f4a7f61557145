#include "autoupdate/AUSchedule.h"

QDateTime AUSchedule::never()
{
    return QDateTime(QDate(2999, 1, 1), QTime(1, 0), Qt::UTC);
}

QDateTime AUSchedule::nextCheck(int code, const QDateTime &lastCheck, const QDateTime &now, bool checkDone)
{
    const bool hasLast = lastCheck.isValid();
    switch (code) {
    case 0:
        return never();
    case 1:
        return checkDone ? never() : now;
    case 2:
        return hasLast && lastCheck.addDays(1) > now ? lastCheck.addDays(1) : now;
    case 3: {
        if (!hasLast)
            return now;
        // The elapsed time counted in whole months and the days left over: only the days
        // decide, so a check a month and two days ago is due a week after it (at once).
        int months = 0;
        while (lastCheck.addMonths(months + 1) <= now)
            ++months;
        const qint64 days = lastCheck.addMonths(months).secsTo(now) / 86400;
        return days < 7 ? lastCheck.addDays(7) : now;
    }
    case 4:
        return hasLast && lastCheck.addMonths(1) > now ? lastCheck.addMonths(1) : now;
    default:
        return QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    }
}
