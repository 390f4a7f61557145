// Compares two readings of the mount table and tells what appeared, what disappeared and
// which mounts moved to another path. Pure: tested on canned tables.
//
// A mount is the same mount while its mount id stays (the kernel keeps the id across
// `mount --move`); a new id on the same path is a new volume. A remount in place keeps the id
// and the path and changes only the options.
#pragma once

#include "platform/MountInfoParser.h"

#include <QList>
#include <QPair>

namespace platform {

struct MountTableChanges {
    QList<MountEntry> appeared;
    QList<MountEntry> disappeared;
    QList<QPair<MountEntry, MountEntry>> pathChanged; // (before, after)
    // Same mount, same path, other mount options ("mount -o remount,ro"): (before, after).
    QList<QPair<MountEntry, MountEntry>> optionsChanged;

    bool isEmpty() const
    {
        return appeared.isEmpty() && disappeared.isEmpty() && pathChanged.isEmpty() && optionsChanged.isEmpty();
    }
};

class MountTableDiff {
public:
    static MountTableChanges diff(const QList<MountEntry> &before, const QList<MountEntry> &after);
};

} // namespace platform
