// The words and numbers the command-line tools show for a progress record: the activity
// ("Syncing", "Stopped: canceled"), the share of the job done, sizes as a person says them and
// a bar, so that `pellmere sync` and `pellmerectl watch` read alike.
//
//   PMProgressText::formatBytes(1536);               // "1.5 KiB"
//   PMProgressText::bar(50, 10);                     // "[#####.....]"
//   PMProgressText::activityText(record);            // "Stopped: drive disappeared"
//
// Stateless; any thread.
#pragma once

#include <QString>
#include <QVariantMap>

#include <cstdio>

class PMProgressText {
public:
    // Columns of the terminal behind out; 80 when it is no terminal or says something smaller
    // than a line can hold.
    static int terminalWidth(FILE *out);
    // "0 B" up to "1023 B", then one decimal in KiB, MiB, GiB, TiB or PiB.
    static QString formatBytes(quint64 bytes);
    static QString activityText(const QVariantMap &record);
    // Percent of the job accounted for: copied, left out by the filter, or already present.
    static int percent(const QVariantMap &record);
    // A counter of the record; a negative number from a confused sender counts as nothing.
    static quint64 counter(const QVariantMap &record, const QString &key);
    static QString bar(int percent, int cells);
};
