#include "netstorage/LinuxFSCatalogSource.h"

#include <QFile>
#include <QStandardPaths>

#include <sys/utsname.h>

namespace {

struct KnownFileSystem {
    const char *personality;
    const char *userName;
    const char *contentMask;
    QStringList kernelReaders; // kernel file systems that mount it
    QStringList kernelWriters; // those of them that also write it
    QStringList fuseReaders; // FUSE drivers that mount it read-only
    QStringList fuseWriters; // FUSE drivers that write it
    QStringList formatters;
};

// One table for every file system we name. Content masks are given only where one partition
// type belongs to one file system; exFAT shares MBR type 0x07 with NTFS, and the Linux type
// 0x83 stands for ext4 among the Linux file systems.
const QList<KnownFileSystem> &knownFileSystems()
{
    static const QList<KnownFileSystem> table = {
        // fusefat can write, but moving folders on it corrupts the volume: it counts as a reader.
        { "vfat", "MS-DOS FAT32", "DOS_FAT_32", { "vfat", "msdos" }, { "vfat", "msdos" }, { "fusefat" }, {},
            { "mkfs.vfat", "mkfs.fat", "mkdosfs" } },
        { "exfat", "ExFAT", "", { "exfat" }, { "exfat" }, {}, { "mount.exfat-fuse", "mount.exfat", "exfat-fuse" },
            { "mkfs.exfat", "mkexfatfs" } },
        // The old kernel "ntfs" driver only reads; ntfs3 and ntfs-3g write.
        { "ntfs", "NTFS", "Windows_NTFS", { "ntfs", "ntfs3" }, { "ntfs3" }, {},
            { "ntfs-3g", "lowntfs-3g", "mount.ntfs-3g" }, { "mkfs.ntfs", "mkntfs" } },
        { "ext2", "Linux ext2", "", { "ext2", "ext4" }, { "ext2", "ext4" }, {}, {}, { "mkfs.ext2" } },
        { "ext3", "Linux ext3", "", { "ext3", "ext4" }, { "ext3", "ext4" }, {}, {}, { "mkfs.ext3" } },
        { "ext4", "Linux ext4", "Linux", { "ext4" }, { "ext4" }, {}, {}, { "mkfs.ext4" } },
        { "btrfs", "Btrfs", "", { "btrfs" }, { "btrfs" }, {}, {}, { "mkfs.btrfs" } },
        { "xfs", "XFS", "", { "xfs" }, { "xfs" }, {}, {}, { "mkfs.xfs" } },
        { "hfsplus", "Mac OS Extended", "Apple_HFS", { "hfsplus" }, { "hfsplus" }, {}, {},
            { "mkfs.hfsplus", "mkfs.hfs" } },
        { "hfs", "Mac OS Standard", "", { "hfs" }, { "hfs" }, {}, {}, {} },
    };
    return table;
}

bool anyOf(const QStringList &names, const std::function<bool(const QString &)> &present)
{
    return std::any_of(names.begin(), names.end(), present);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QStringList LinuxFSCatalogSource::parseProcFilesystems(const QByteArray &contents)
{
    QStringList names;
    for (const QByteArray &line : contents.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        const QByteArray name = fields.last();
        if (!name.isEmpty() && name != "nodev")
            names.append(QString::fromUtf8(name));
    }
    return names;
}

QStringList LinuxFSCatalogSource::parseModuleNames(const QByteArray &modulesDep)
{
    QStringList names;
    for (const QByteArray &line : modulesDep.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        QByteArray module = line.left(colon);
        module = module.mid(module.lastIndexOf('/') + 1);
        const qsizetype ko = module.indexOf(".ko");
        if (ko <= 0)
            continue;
        names.append(QString::fromUtf8(module.left(ko)));
    }
    return names;
}

QList<FSPersonalityInfo> LinuxFSCatalogSource::catalogFrom(
    const QStringList &kernelFileSystems, const std::function<bool(const QString &)> &programInstalled)
{
    const auto inKernel = [&](const QString &name) { return kernelFileSystems.contains(name); };
    QList<FSPersonalityInfo> catalog;
    for (const KnownFileSystem &known : knownFileSystems()) {
        FSPersonalityInfo info;
        info.personality = QString::fromLatin1(known.personality);
        info.userName = QString::fromLatin1(known.userName);
        info.contentMask = QString::fromLatin1(known.contentMask);
        info.hasFormatter = anyOf(known.formatters, programInstalled);
        info.canWrite = anyOf(known.kernelWriters, inKernel) || anyOf(known.fuseWriters, programInstalled);
        const bool readable = anyOf(known.kernelReaders, inKernel) || anyOf(known.fuseReaders, programInstalled);
        if (info.hasFormatter || info.canWrite || readable)
            catalog.append(info);
    }
    return catalog;
}

QList<FSPersonalityInfo> LinuxFSCatalogSource::personalities() const
{
    QStringList kernel = parseProcFilesystems(readAll(QStringLiteral("/proc/filesystems")));
    struct utsname system = {};
    if (uname(&system) == 0)
        kernel += parseModuleNames(readAll(
            QStringLiteral("/lib/modules/") + QString::fromUtf8(system.release) + QStringLiteral("/modules.dep")));
    const QStringList folders = { QStringLiteral("/usr/local/sbin"), QStringLiteral("/usr/local/bin"),
        QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/sbin"), QStringLiteral("/bin") };
    return catalogFrom(kernel,
        [&folders](const QString &program) { return !QStandardPaths::findExecutable(program, folders).isEmpty(); });
}
