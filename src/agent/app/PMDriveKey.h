// The key under which the agent keeps a drive's controller: the block device name of a local
// volume ("sdb1", "loop3"; the mount table's source without "/dev/"), or, for a network share,
// which has none, its mount path.
//
//   const QString key = PMDriveKey::forMountPoint("/media/alice/Stick");   // "sdb1"
//
// The pure functions may be called from any thread; forMountPoint reads the mount table.
#pragma once

#include "platform/MountInfoParser.h"

#include <QString>

class PMDriveKey {
public:
    // The device name of a volume mounted from a device node ("/dev/sdb1" → "sdb1"), or an
    // empty string for any other source (shares, virtual and FUSE file systems without a device).
    static QString bsdNameFromSource(const QString &source);
    static QString bsdNameForEntry(const platform::MountEntry &entry) { return bsdNameFromSource(entry.source); }
    // The key of a drive: its device name, else its mount path.
    static QString keyFor(const QString &bsdName, const QString &mountPath);
    // The device name of the volume mounted exactly at mountPoint (the latest mount there),
    // or an empty string when nothing with a device node is mounted at that very path.
    static QString bsdNameForMountPoint(const QString &mountPoint);
    // keyFor(bsdNameForMountPoint(mountPoint), mountPoint); empty for an empty mount point.
    static QString forMountPoint(const QString &mountPoint);
};
