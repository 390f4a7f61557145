// The capacity line of a volume row: free space of total, in the unit the total calls for
// (bytes below 1 KB, then KB, MB, GB, TB, each 1024 times the one before), for example
// "14.53 GB free of 29.72 GB". The texts are translatable; their disambiguations name the
// unit's format ("GigaByteFormat", ...).
//
// Pure; any thread.
#pragma once

#include <QCoreApplication>
#include <QString>

class LUMCapacityText {
    Q_DECLARE_TR_FUNCTIONS(LUMCapacityText)

public:
    static QString format(quint64 freeBytes, quint64 totalBytes);
};
