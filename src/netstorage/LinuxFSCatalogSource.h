// The file systems this Linux computer has: a known file system counts as present when the
// kernel has a driver for it (/proc/filesystems, or a loadable module), a FUSE driver for it
// is installed (ntfs-3g, mount.exfat-fuse, fusefat, ...) or a formatter (mkfs.*) is installed.
// It can be written when a kernel driver that writes it or a writing FUSE driver is present.
// User names and content hints come from one table. NTFS-3G keeps no settings file here, so
// it is never disabled.
//
// Reentrant; reads the system at each call.
#pragma once

#include "netstorage/FSCatalogSource.h"

#include <QByteArray>
#include <QStringList>

#include <functional>

class LinuxFSCatalogSource : public FSCatalogSource {
public:
    QList<FSPersonalityInfo> personalities() const override;
    bool isNtfs3gDriverDisabled() const override { return false; }

    // The pure parts, public for their tests.

    // The file-system names of /proc/filesystems ("nodev\ttmpfs", "\text4").
    static QStringList parseProcFilesystems(const QByteArray &contents);
    // The module names of a modules.dep ("kernel/fs/fat/vfat.ko.xz: ..." gives "vfat").
    static QStringList parseModuleNames(const QByteArray &modulesDep);
    // The catalog of the table's file systems, given the kernel's file systems and a test
    // for an installed program.
    static QList<FSPersonalityInfo> catalogFrom(
        const QStringList &kernelFileSystems, const std::function<bool(const QString &)> &programInstalled);
};
