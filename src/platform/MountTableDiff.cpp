#include "platform/MountTableDiff.h"

#include <QHash>

namespace platform {

MountTableChanges MountTableDiff::diff(const QList<MountEntry> &before, const QList<MountEntry> &after)
{
    QHash<int, const MountEntry *> old;
    old.reserve(before.size());
    for (const MountEntry &entry : before)
        old.insert(entry.mountId, &entry);

    MountTableChanges changes;
    QHash<int, bool> seen;
    seen.reserve(after.size());
    for (const MountEntry &entry : after) {
        seen.insert(entry.mountId, true);
        const MountEntry *previous = old.value(entry.mountId);
        if (!previous)
            changes.appeared.append(entry);
        else if (previous->mountPoint != entry.mountPoint)
            changes.pathChanged.append({ *previous, entry });
        else if (previous->mountOptions != entry.mountOptions)
            changes.optionsChanged.append({ *previous, entry });
    }
    for (const MountEntry &entry : before)
        if (!seen.contains(entry.mountId))
            changes.disappeared.append(entry);
    return changes;
}

} // namespace platform
