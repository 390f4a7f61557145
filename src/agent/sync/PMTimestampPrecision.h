// How finely a drive's file system keeps modification times, and date comparison at that
// precision.
//
// The computer's file system keeps nanoseconds; FAT keeps two seconds, exFAT ten
// milliseconds, NTFS 100 nanoseconds. Compared exactly, every file synced to such a drive
// would look changed forever and be copied again at every sync. Both sides are therefore
// truncated to the drive's precision before they are compared, the way the drive truncates
// what it stores. On a drive that keeps nanoseconds nothing changes.
//
//   const auto precision = PMTimestampPrecision::probe(driveTempFolder);
//   const qint64 d = precision.difference(localNs, driveNs);  // 0: the same time on the drive
//
// Immutable; any thread.
#pragma once

#include <QString>

class PMTimestampPrecision {
public:
    explicit PMTimestampPrecision(qint64 granularityNs = 1);

    // Writes a probe file into folder (which must exist on the drive), sets a time with odd
    // seconds and nanoseconds, reads back what the drive kept and removes the file. A probe
    // that fails answers nanosecond precision (the exact comparison).
    static PMTimestampPrecision probe(const QString &folder);

    qint64 granularityNs() const { return m_granularityNs; }
    qint64 truncate(qint64 nanoseconds) const;
    // truncate(local) - truncate(drive), in nanoseconds.
    qint64 difference(qint64 localNs, qint64 driveNs) const;

    // The smallest known granularity that explains how `written` was stored as `readBack`.
    static qint64 granularityFor(qint64 writtenNs, qint64 readBackNs);

private:
    qint64 m_granularityNs;
};
