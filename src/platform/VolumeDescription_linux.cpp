#include "platform/VolumeDescription_linux.h"

#include "platform/MountTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>

#include <blkid/blkid.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

Q_LOGGING_CATEGORY(lcVolumeDescription, "pellmere.volumes")

namespace platform {

namespace {

struct ProbeDeleter {
    void operator()(blkid_probe probe) const { blkid_free_probe(probe); }
};
using Probe = std::unique_ptr<blkid_struct_probe, ProbeDeleter>;

struct MallocDeleter {
    void operator()(char *text) const { std::free(text); }
};

QString readSysfsText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.read(4096)).trimmed();
}

QString lookup(blkid_probe probe, const char *name)
{
    const char *value = nullptr;
    if (blkid_probe_lookup_value(probe, name, &value, nullptr) != 0 || !value)
        return QString();
    return QString::fromUtf8(value);
}

// Fills the file-system and partition facts libblkid finds on path.
void probeMedium(const QString &path, VolumeDescription *description)
{
    Probe probe(blkid_new_probe_from_filename(QFile::encodeName(path).constData()));
    if (!probe) {
        qCDebug(lcVolumeDescription) << "cannot open" << path << "for probing";
        return;
    }
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(
        probe.get(), BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION);
    blkid_probe_enable_partitions(probe.get(), 1);
    blkid_probe_set_partitions_flags(probe.get(), BLKID_PARTS_ENTRY_DETAILS);
    if (blkid_do_safeprobe(probe.get()) != 0) {
        qCDebug(lcVolumeDescription) << "nothing recognised on" << path;
        return;
    }
    // Some file systems (exFAT) look like a partition table too; the superblock's TYPE
    // is what is mounted, so it decides the kind.
    description->volumeKind = lookup(probe.get(), "TYPE");
    description->volumeName = lookup(probe.get(), "LABEL");
    description->volumeUUID = lookup(probe.get(), "UUID");
    description->volumeVersion = lookup(probe.get(), "VERSION");
    const QString scheme = lookup(probe.get(), "PART_ENTRY_SCHEME");
    const QString type = lookup(probe.get(), "PART_ENTRY_TYPE");
    if (!scheme.isEmpty() && !type.isEmpty())
        description->mediaContent = LinuxVolumeDescriber::contentHintForPartition(scheme, type);
}

// The device facts sysfs holds for a block device; answers whether the device is writable.
bool describeBlockDevice(dev_t device, VolumeDescription *description)
{
    const QString node = QStringLiteral("/sys/dev/block/%1:%2").arg(major(device)).arg(minor(device));
    const QString sysPath = QFileInfo(node).canonicalFilePath();
    if (sysPath.isEmpty())
        return true;
    description->bsdName = QFileInfo(sysPath).fileName();
    // A partition's disk is its parent folder; vendor, model and bus belong to the disk.
    const QString diskPath
        = QFileInfo::exists(sysPath + QStringLiteral("/partition")) ? QFileInfo(sysPath).absolutePath() : sysPath;
    bool sectorsOk = false;
    const qint64 sectors = readSysfsText(sysPath + QStringLiteral("/size")).toLongLong(&sectorsOk);
    if (sectorsOk)
        description->mediaSize = sectors * 512; // sysfs counts 512-byte sectors on every device
    description->deviceVendor = readSysfsText(diskPath + QStringLiteral("/device/vendor"));
    description->deviceModel = readSysfsText(diskPath + QStringLiteral("/device/model"));
    description->deviceRevision = readSysfsText(diskPath + QStringLiteral("/device/rev"));
    const bool removable = readSysfsText(diskPath + QStringLiteral("/removable")) == QLatin1String("1");
    description->deviceInternal
        = !LinuxVolumeDescriber::isExternalDisk(QFileInfo(diskPath).fileName(), diskPath, removable);
    return readSysfsText(sysPath + QStringLiteral("/ro")) != QLatin1String("1");
}

// Describes the medium at path (a block device or an image file); answers whether it is
// writable, or false when it is neither.
bool describeMedium(const QString &path, VolumeDescription *description)
{
    struct stat info = {};
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    bool writable = false;
    if (S_ISBLK(info.st_mode)) {
        writable = describeBlockDevice(info.st_rdev, description);
    } else if (S_ISREG(info.st_mode)) {
        // A disk image, the way a mounted image counts as external elsewhere.
        description->mediaSize = qint64(info.st_size);
        description->deviceInternal = false;
        writable = access(QFile::encodeName(path).constData(), W_OK) == 0;
    } else {
        return false;
    }
    probeMedium(path, description);
    return writable;
}

bool isMediumPath(const QString &path)
{
    struct stat info = {};
    return path.startsWith(QLatin1Char('/')) && stat(QFile::encodeName(path).constData(), &info) == 0
        && (S_ISBLK(info.st_mode) || S_ISREG(info.st_mode));
}

// FUSE drivers that read an image (fusefat) leave no trace of it in the mount table; the
// driver's own arguments name it next to the mount point.
QString fuseDriverMedium(const QString &mountPoint)
{
    const QByteArray wanted = QFile::encodeName(mountPoint);
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &process : processes) {
        bool isNumber = false;
        process.toLongLong(&isNumber);
        if (!isNumber)
            continue;
        QFile cmdline(QStringLiteral("/proc/") + process + QStringLiteral("/cmdline"));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        QList<QByteArray> arguments = cmdline.readAll().split('\0');
        if (arguments.size() < 3 || !arguments.contains(wanted))
            continue;
        for (qsizetype i = 1; i < arguments.size(); ++i) {
            const QString argument = QFile::decodeName(arguments.at(i));
            if (arguments.at(i) != wanted && isMediumPath(argument))
                return argument;
        }
    }
    return QString();
}

} // namespace

std::unique_ptr<VolumeDescriber> VolumeDescriber::create()
{
    return std::make_unique<LinuxVolumeDescriber>();
}

std::optional<VolumeDescription> LinuxVolumeDescriber::describeVolume(const QString &path) const
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty()) {
        qCDebug(lcVolumeDescription) << "no such path" << path;
        return std::nullopt;
    }
    const std::optional<MountEntry> entry = MountTable::entryForPath(canonical);
    if (!entry) {
        qCDebug(lcVolumeDescription) << "no mount holds" << path;
        return std::nullopt;
    }
    return describeMount(*entry);
}

std::optional<VolumeDescription> LinuxVolumeDescriber::describeDevice(const QString &devicePath) const
{
    struct stat info = {};
    if (stat(QFile::encodeName(devicePath).constData(), &info) != 0 || !S_ISBLK(info.st_mode)) {
        qCDebug(lcVolumeDescription) << devicePath << "is not a block device";
        return std::nullopt;
    }
    for (const MountEntry &entry : mountedVolumes())
        if (entry.major == major(info.st_rdev) && entry.minor == minor(info.st_rdev))
            return describeMount(entry);
    VolumeDescription description;
    description.mediaWritable = describeMedium(devicePath, &description);
    return description;
}

QList<MountEntry> LinuxVolumeDescriber::mountedVolumes() const
{
    return MountTable::read();
}

VolumeDescription LinuxVolumeDescriber::describeMount(const MountEntry &entry) const
{
    VolumeDescription description;
    description.volumePath = entry.mountPoint;
    description.mountType = entry.fsType;
    description.mountSource = entry.source;
    description.volumeNetwork = isNetworkMountType(entry.fsType);

    bool readOnlyMount = entry.isReadOnly() || entry.superOptions.contains(QLatin1String("ro"));
    struct statvfs capacity = {};
    if (statvfs(QFile::encodeName(entry.mountPoint).constData(), &capacity) == 0) {
        description.volumeTotalBytes = qint64(capacity.f_blocks) * qint64(capacity.f_frsize);
        description.volumeAvailableBytes = qint64(capacity.f_bavail) * qint64(capacity.f_frsize);
        readOnlyMount = readOnlyMount || (capacity.f_flag & ST_RDONLY);
    } else {
        qCDebug(lcVolumeDescription) << "statvfs failed for" << entry.mountPoint;
    }

    QString medium;
    if (entry.major != 0) {
        std::unique_ptr<char, MallocDeleter> name(blkid_devno_to_devname(makedev(entry.major, entry.minor)));
        if (name)
            medium = QFile::decodeName(name.get());
    }
    if (medium.isEmpty() && isMediumPath(entry.source))
        medium = entry.source;
    // A network driver's arguments name hosts and settings files, never the volume's medium.
    if (medium.isEmpty() && entry.fsType.startsWith(QLatin1String("fuse.")) && !description.volumeNetwork)
        medium = fuseDriverMedium(entry.mountPoint);

    bool mediumWritable = true;
    if (!medium.isEmpty())
        mediumWritable = describeMedium(medium, &description);
    else if (description.volumeNetwork)
        mediumWritable = access(QFile::encodeName(entry.mountPoint).constData(), W_OK) == 0;
    description.mediaWritable = mediumWritable && !readOnlyMount;

    if (description.volumeKind.isEmpty())
        description.volumeKind = kindHintForMountType(entry.fsType);
    return description;
}

QString LinuxVolumeDescriber::contentHintForPartition(const QString &scheme, const QString &type)
{
    if (scheme == QLatin1String("dos")) {
        bool ok = false;
        const uint code = type.toUInt(&ok, 16); // "0xc"; QString understands the 0x prefix
        if (!ok)
            return type;
        switch (code) {
        case 0x01:
            return QStringLiteral("DOS_FAT_12");
        case 0x04:
        case 0x06:
        case 0x0e:
            return QStringLiteral("DOS_FAT_16");
        case 0x0b:
        case 0x0c:
            return QStringLiteral("DOS_FAT_32");
        case 0x07:
            return QStringLiteral("Windows_NTFS");
        case 0x83:
            return QStringLiteral("Linux");
        case 0xaf:
            return QStringLiteral("Apple_HFS");
        default:
            return QStringLiteral("0x%1").arg(code, 2, 16, QLatin1Char('0'));
        }
    }
    if (scheme == QLatin1String("gpt")) {
        static const QHash<QString, QString> names = {
            { QStringLiteral("EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"), QStringLiteral("Microsoft Basic Data") },
            { QStringLiteral("48465300-0000-11AA-AA11-00306543ECAC"), QStringLiteral("Apple_HFS") },
            { QStringLiteral("7C3457EF-0000-11AA-AA11-00306543ECAC"), QStringLiteral("Apple_APFS") },
            { QStringLiteral("0FC63DAF-8483-4772-8E79-3D69D8477DE4"), QStringLiteral("Linux Filesystem") },
            { QStringLiteral("C12A7328-F81F-11D2-BA4B-00A0C93EC93B"), QStringLiteral("EFI") },
        };
        const QString guid = type.toUpper();
        return names.value(guid, guid);
    }
    return type;
}

QString LinuxVolumeDescriber::kindHintForMountType(const QString &mountType)
{
    if (mountType == QLatin1String("fuseblk") || mountType == QLatin1String("fuse"))
        return QString();
    if (!mountType.startsWith(QLatin1String("fuse.")))
        return mountType;
    const QString driver = mountType.mid(5).toLower();
    if (driver == QLatin1String("fusefat") || driver == QLatin1String("vfat") || driver == QLatin1String("msdos")
        || driver == QLatin1String("fat"))
        return QStringLiteral("vfat");
    if (driver.startsWith(QLatin1String("exfat")))
        return QStringLiteral("exfat");
    if (driver.startsWith(QLatin1String("ntfs")) || driver.startsWith(QLatin1String("lowntfs")))
        return QStringLiteral("ntfs");
    return driver;
}

bool LinuxVolumeDescriber::isNetworkMountType(const QString &mountType)
{
    static const QStringList network = { QStringLiteral("nfs"), QStringLiteral("nfs4"), QStringLiteral("cifs"),
        QStringLiteral("smb3"), QStringLiteral("smbfs"), QStringLiteral("ncpfs"), QStringLiteral("afs"),
        QStringLiteral("ceph"), QStringLiteral("glusterfs"), QStringLiteral("9p"), QStringLiteral("davfs"),
        QStringLiteral("fuse.sshfs"), QStringLiteral("fuse.smbnetfs"), QStringLiteral("fuse.afpfs"),
        QStringLiteral("fuse.davfs2"), QStringLiteral("fuse.rclone") };
    return network.contains(mountType);
}

bool LinuxVolumeDescriber::isExternalDisk(const QString &diskName, const QString &sysfsPath, bool removable)
{
    if (removable || diskName.startsWith(QLatin1String("loop")))
        return true;
    static const QStringList buses = { QStringLiteral("/usb"), QStringLiteral("/firewire"), QStringLiteral("/ieee1394"),
        QStringLiteral("/thunderbolt") };
    for (const QString &bus : buses)
        if (sysfsPath.contains(bus))
            return true;
    return false;
}

} // namespace platform
