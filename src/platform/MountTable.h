// The system's mount table, read from /proc/self/mountinfo.
//
//   auto entry = platform::MountTable::entryForPath("/media/alice/Drive/Music");
//   if (entry) ... entry->fsType, entry->source ...
//
// Reads the table at each call (it changes under us); safe from any thread.
#pragma once

#include "platform/MountInfoParser.h"

#include <optional>

namespace platform {

class MountTable {
public:
    static QList<MountEntry> read();
    // The mount holding path (not following a final symbolic link), or nullopt when the
    // path cannot be examined.
    static std::optional<MountEntry> entryForPath(const QString &path);
    // The block device name without "/dev/" ("sdb1", "loop3", "nvme0n1p2") of the volume
    // holding path, or an empty string when it is not mounted from a block device node
    // (network shares, tmpfs, FUSE without a block source).
    static QString deviceNodeNameForPath(const QString &path);
};

} // namespace platform
