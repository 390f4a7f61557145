// Keeps the drive's own copy of a file that was edited on both sides since the last sync,
// the drive's edit being the later one: before the computer's copy takes the file's place, the
// drive's copy is renamed beside it, so that neither edit is lost.
//
//   const QString kept = PMDriveCopyKeeper::keep(mountPoint, drivePath, driveModDate);
//   // "a.mp3" became "a (drive copy 2026-12-08 1712).mp3"; a null string: it stays as it was
//
// The rename happens beneath the drive's mount point, folder by folder, and follows no link
// on the way. Any thread.
#pragma once

#include <QDateTime>
#include <QString>

class PMDriveCopyKeeper {
public:
    // The name the kept copy takes: the date (local time, to the minute) before the extension,
    // "a (drive copy 2026-12-08 1712).mp3"; attempt 2, 3, ... when that name is taken:
    // "a (drive copy 2026-12-08 1712) 2.mp3".
    static QString keptName(const QString &name, const QDateTime &modified, int attempt = 1);

    // Renames drivePath (below mountPoint) to a free kept name in the same folder; answers the
    // new path, or a null string when it could not be renamed (logged).
    static QString keep(const QString &mountPoint, const QString &drivePath, const QDateTime &modified);
};
