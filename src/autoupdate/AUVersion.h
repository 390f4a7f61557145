// Version strings of the update service ("1.2", "1.10.3"): compared part by part as numbers.
#pragma once

#include <QString>

class AUVersion {
public:
    // -1, 0 or 1 when a is lower than, equal to or higher than b. The first four parts
    // separated by "." are compared as integers; text that is not a number and missing parts
    // count as 0, so 1.10 is above 1.9 and 2.0 equals 2.0.0.0.
    static int compare(const QString &a, const QString &b);
};
