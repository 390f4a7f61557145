// Whether a drive's file system ignores the case of names ("Song.mp3" and "song.mp3" being
// one file), as FAT and exFAT do and NTFS may, depending on how it is mounted.
//
//   if (PMCaseProbe::ignoresCase(driveTempFolder)) ...
//
// Any thread.
#pragma once

#include <QString>

class PMCaseProbe {
public:
    // Writes a probe file into folder (on the drive), looks for it under its name in another
    // case and removes it. A folder that cannot be written is judged by its file system's kind.
    static bool ignoresCase(const QString &folder);
};
