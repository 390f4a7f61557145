// What the system knows about a mounted volume or a block device: its name, file-system
// kind, partition content hint, identity, device and capacity. A VolumeDescriber answers for a
// path inside a volume or for a device node; the Linux one (VolumeDescription_linux.h) reads
// the mount table, statvfs, libblkid and sysfs, and tests may hand in their own.
//
//   auto describer = platform::VolumeDescriber::create();
//   if (auto volume = describer->describeVolume(mountPoint))
//       ... volume->volumeKind ("vfat", "exfat", "ntfs", "ext4", ...), volume->volumeUUID ...
//
// Describers are reentrant: any thread may call them; each call reads the system afresh.
#pragma once

#include "platform/MountInfoParser.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>

namespace platform {

struct VolumeDescription {
    QString volumePath; // mount point; empty for a device that is not mounted
    QString volumeName; // the file system's label; may be empty
    // The file system found on the medium ("vfat", "exfat", "ntfs", "ext4", "hfsplus", ...);
    // when the medium cannot be probed, the FUSE driver's hint or the mount table's type.
    QString volumeKind;
    QString volumeVersion; // "FAT32", "FAT16", "1.0", ... when the prober knows it
    QString volumeUUID; // empty when unknown
    QString mountType; // the mount table's type: "ext4", "fuseblk", "fuse.fusefat", "nfs4", ...
    QString mountSource; // the mount table's source: "/dev/sdb1", "//nas/share", "fusefat", ...
    // Partition content hint: "DOS_FAT_32", "Windows_NTFS", "Apple_HFS", "Linux", ..., a GPT
    // type GUID without a name, or empty for a file system that fills the whole medium.
    QString mediaContent;
    QString deviceVendor;
    QString deviceModel;
    QString deviceRevision;
    QString bsdName; // the block device's name without "/dev/" ("sdb1", "loop3"); empty if none
    qint64 mediaSize = 0; // bytes of the device or image holding the volume; 0 when unknown
    qint64 volumeTotalBytes = 0; // statvfs of the mount point
    qint64 volumeAvailableBytes = 0; // available to unprivileged users
    bool mediaWritable = false; // the medium and the mount both accept writes
    bool volumeNetwork = false;
    // External: USB, FireWire or Thunderbolt bus, removable media, or a disk image (loop
    // device or image file). Unknown (nullopt) for network and virtual file systems.
    std::optional<bool> deviceInternal;
};

class VolumeDescriber {
public:
    virtual ~VolumeDescriber() = default;

    // The volume holding path (any path inside it), or nullopt when path is not on a volume
    // that can be examined.
    virtual std::optional<VolumeDescription> describeVolume(const QString &path) const = 0;
    // A block device ("/dev/sdb1"), mounted or not; nullopt when it cannot be opened.
    virtual std::optional<VolumeDescription> describeDevice(const QString &devicePath) const = 0;
    // The mounted file systems in the mount table's order.
    virtual QList<MountEntry> mountedVolumes() const = 0;

    // This system's describer.
    static std::unique_ptr<VolumeDescriber> create();
};

} // namespace platform
