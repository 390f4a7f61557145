// When the next scheduled check is due, from the schedule code and the last check.
//
// Codes: 0 never, 1 once per process start, 2 daily, 3 weekly, 4 monthly; any other code is
// due at once.
#pragma once

#include <QDateTime>

class AUSchedule {
public:
    // The date that stands for "never".
    static QDateTime never();

    // lastCheck may be invalid (no check yet); checkDone says whether this process has
    // already checked. A result at or before now means "due now".
    static QDateTime nextCheck(int code, const QDateTime &lastCheck, const QDateTime &now, bool checkDone);
};
