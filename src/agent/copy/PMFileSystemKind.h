// What kind of file system holds a path, for the rules that depend on it (the FAT 4 GiB
// limit). FUSE mounts are looked through: their subtype names the driver, and a "fuseblk"
// mount's block device is probed for its real type.
//
// Reentrant; reads the mount table and may probe a block device at each call.
#pragma once

#include <QString>

class PMFileSystemKind {
public:
    // "vfat", "exfat", "ntfs", "ext4", ... for the file system holding path (following
    // links, like statfs); a null string when path cannot be examined.
    static QString kindForPath(const QString &path);
    // Whether path exists on a FAT file system (kernel vfat/msdos, or a FUSE FAT driver).
    static bool isFATPath(const QString &path);
    // Whether a file system of this kind takes any bytes in a name, as Linux's own do. FAT,
    // exFAT and NTFS keep names as Unicode and cannot hold a name that is not valid UTF-8.
    static bool holdsAnyNameBytes(const QString &kind);
};
