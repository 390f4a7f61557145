// Byte counts as the window shows them: "512 bytes", "1.5 KB", "14.2 MB", "3.7 GB", "1.1 TB",
// the unit chosen by the size (binary multiples), the number in the user's locale.
//
// Stateless; any thread.
#pragma once

#include <QString>

class LUMUserNumbers {
public:
    static QString format(quint64 bytes);
};
