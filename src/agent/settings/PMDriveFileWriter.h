// Writes a small file directly inside a drive's root folder so that it is either wholly
// there or not changed at all, and never lands anywhere but on the drive:
//
//   const auto outcome = PMDriveFileWriter::write(mountPoint, ".PellmereConfig", bytes, 0666);
//   if (outcome.result == PMDriveFileWriter::Result::NoSpace)
//       tell the user the drive is full; the old file is as it was
//
// The bytes go to a fresh temporary file created beside the target (exclusively, never
// through a link), every write and the fsync are checked, and only then is it renamed over
// the target. Every name is resolved from a descriptor of the root folder, so a link a drive
// carries at the temporary or the target name cannot redirect the write. On any failure the
// temporary file is removed and the target is left untouched. Given the device the drive was
// found on, nothing is written (ENODEV) once the root folder lies on another file system: the
// drive went away and its bare mount point folder belongs to the computer.
//
// Threads: any; the caller serializes writes of the same file.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include <sys/types.h>

class PMDriveFileWriter {
public:
    enum class Result {
        Written,
        NoSpace, // the drive (or the user's quota on it) is full
        Failed, // any other failure; see error
    };
    struct Outcome {
        Result result = Result::Failed;
        int error = 0; // errno of the failing step
        bool permissionsSet = false; // the file got the permissions asked for
    };
    enum class Mode { Replace, KeepExisting };

    // Writes bytes as the file name inside root with the given permissions. KeepExisting
    // fails with EEXIST instead of replacing an item already named so. rootDevice: the
    // device root must lie on; nullopt: any.
    static Outcome write(const QString &root, const QString &name, const QByteArray &bytes, mode_t permissions,
        Mode mode = Mode::Replace, std::optional<dev_t> rootDevice = std::nullopt);
};
