// Volume descriptions on Linux, gathered without udev:
// - the mount table (/proc/self/mountinfo) gives the mount point, type, source and options;
// - statvfs gives the capacity and a read-only mount;
// - libblkid probes the medium for TYPE, LABEL, UUID, VERSION and the partition entry's type;
// - sysfs gives the device's size, read-only flag, vendor, model, revision and bus.
// Which medium is probed: the device behind the mount's device number when it has a real
// major (kernel file systems and "fuseblk"); else the mount source when it is a path to an
// image or block device; else, for other FUSE mounts, the image or device the driver process
// was started with. Without any, the FUSE subtype ("fuse.exfat-fuse") is only a hint.
//
// Reentrant; probing needs read access to the device (root, or the "disk" group).
#pragma once

#include "platform/VolumeDescription.h"

namespace platform {

class LinuxVolumeDescriber : public VolumeDescriber {
public:
    std::optional<VolumeDescription> describeVolume(const QString &path) const override;
    std::optional<VolumeDescription> describeDevice(const QString &devicePath) const override;
    QList<MountEntry> mountedVolumes() const override;

    // The pure rules, public for their tests.

    // The content hint of a partition entry: scheme "dos" with an MBR type ("0xc", "0x7"),
    // "gpt" with a type GUID, or any other scheme's own type name.
    static QString contentHintForPartition(const QString &scheme, const QString &type);
    // The kind a mount type suggests when the medium cannot be probed: the FUSE driver's
    // name mapped to the kind it serves ("fuse.fusefat" -> "vfat"), else the type itself;
    // empty for "fuseblk", which names no kind at all.
    static QString kindHintForMountType(const QString &mountType);
    static bool isNetworkMountType(const QString &mountType);
    // External: a loop device, removable media, or a disk on a USB, FireWire or Thunderbolt
    // bus (by its resolved sysfs path, "/sys/devices/.../usb2/2-1/.../block/sdb").
    static bool isExternalDisk(const QString &diskName, const QString &sysfsPath, bool removable);

private:
    VolumeDescription describeMount(const MountEntry &entry) const;
};

} // namespace platform
