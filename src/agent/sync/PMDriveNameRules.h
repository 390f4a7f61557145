// Which file names a drive's file system cannot store. FAT and exFAT refuse the characters
// " * / : < > ? \ | and control characters, and Windows cannot open names ending in a dot
// or a space; a copy of such a file onto those drives fails with a bare "Invalid argument"
// (kernel driver) or "No such file or directory" (exfat-fuse), which says nothing useful.
//
//   const QString bad = PMDriveNameRules::refusedComponent("/media/alice/Stick/a/b:c.txt");
//   if (!bad.isEmpty()) ... "b:c.txt" cannot be stored there ...
//
// Reentrant; refusedComponent reads the mount table and may probe the drive's device.
#pragma once

#include <QString>

class PMDriveNameRules {
public:
    // Whether a file system of this kind ("vfat", "exfat", "ext4", ...) refuses some names.
    static bool restrictsNames(const QString &fileSystemKind);
    // Whether name (one path component) can be stored on a file system of this kind.
    static bool isNameAllowed(const QString &fileSystemKind, const QString &name);
    // The first component of path below the mount point of its drive that the drive's file
    // system cannot store; an empty string when there is none or the drive cannot be examined.
    // path itself need not exist.
    static QString refusedComponent(const QString &path);
    // The name users know the file system by ("FAT", "exFAT"), or kind itself.
    static QString displayNameOfKind(const QString &fileSystemKind);
    // The kind of the file system that holds path or, when path does not exist, its nearest
    // existing parent; a null string when none can be examined.
    static QString kindForPathOrParent(const QString &path);
    static QString nearestExistingPath(const QString &path);
};
