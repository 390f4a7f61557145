#include "platform/VolumeDescription_linux.h"

#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::LinuxVolumeDescriber;
using platform::VolumeDescription;
using testsupport::DriveImage;

namespace {

std::unique_ptr<DriveImage> mountedDrive(
    DriveImage::FileSystem kind, bool readOnly, QString *whyNot, const std::function<bool(DriveImage &)> &prepare = {})
{
    auto drive = DriveImage::create(kind, 64, whyNot);
    if (!drive)
        return nullptr;
    if (prepare && !prepare(*drive)) {
        *whyNot = QStringLiteral("cannot set the label or serial of the image");
        return nullptr;
    }
    if (!drive->mount(readOnly, whyNot))
        return nullptr;
    return drive;
}

constexpr qint64 kImageBytes = 64 * 1024 * 1024;

} // namespace

TEST(VolumeDescriptionRules, PartitionTypesBecomeContentHints)
{
    EXPECT_EQ(LinuxVolumeDescriber::contentHintForPartition("dos", "0xc"), "DOS_FAT_32");
    EXPECT_EQ(LinuxVolumeDescriber::contentHintForPartition("dos", "0xb"), "DOS_FAT_32");
    EXPECT_EQ(LinuxVolumeDescriber::contentHintForPartition("dos", "0x7"), "Windows_NTFS");
    EXPECT_EQ(LinuxVolumeDescriber::contentHintForPartition("dos", "0x6"), "DOS_FAT_16");
    EXPECT_EQ(LinuxVolumeDescriber::contentHintForPartition("dos", "0x83"), "Linux");
    EXPECT_EQ(LinuxVolumeDescriber::contentHintForPartition("dos", "0xaf"), "Apple_HFS");
    EXPECT_EQ(LinuxVolumeDescriber::contentHintForPartition("dos", "0x5"), "0x05");
    EXPECT_EQ(LinuxVolumeDescriber::contentHintForPartition("gpt", "ebd0a0a2-b9e5-4433-87c0-68b6b72699c7"),
        "Microsoft Basic Data");
    EXPECT_EQ(
        LinuxVolumeDescriber::contentHintForPartition("gpt", "48465300-0000-11aa-aa11-00306543ecac"), "Apple_HFS");
    // Unknown GUIDs are kept, upper case, so they still tell partitions apart.
    EXPECT_EQ(LinuxVolumeDescriber::contentHintForPartition("gpt", "0657fd6d-a4ab-43c4-84e5-0933c84b4f4f"),
        "0657FD6D-A4AB-43C4-84E5-0933C84B4F4F");
    EXPECT_EQ(LinuxVolumeDescriber::contentHintForPartition("mac", "Apple_HFS"), "Apple_HFS");
}

TEST(VolumeDescriptionRules, FuseDriversHintTheirKind)
{
    EXPECT_EQ(LinuxVolumeDescriber::kindHintForMountType("fuse.fusefat"), "vfat");
    EXPECT_EQ(LinuxVolumeDescriber::kindHintForMountType("fuse.exfat-fuse"), "exfat");
    EXPECT_EQ(LinuxVolumeDescriber::kindHintForMountType("fuse.ntfs-3g"), "ntfs");
    EXPECT_EQ(LinuxVolumeDescriber::kindHintForMountType("fuse.lowntfs-3g"), "ntfs");
    EXPECT_EQ(LinuxVolumeDescriber::kindHintForMountType("fuse.sshfs"), "sshfs");
    EXPECT_EQ(LinuxVolumeDescriber::kindHintForMountType("fuseblk"), "");
    EXPECT_EQ(LinuxVolumeDescriber::kindHintForMountType("ext4"), "ext4");
}

TEST(VolumeDescriptionRules, NetworkTypesAndExternalDisks)
{
    EXPECT_TRUE(LinuxVolumeDescriber::isNetworkMountType("cifs"));
    EXPECT_TRUE(LinuxVolumeDescriber::isNetworkMountType("nfs4"));
    EXPECT_TRUE(LinuxVolumeDescriber::isNetworkMountType("fuse.sshfs"));
    EXPECT_FALSE(LinuxVolumeDescriber::isNetworkMountType("fuseblk"));
    EXPECT_FALSE(LinuxVolumeDescriber::isNetworkMountType("ext4"));

    EXPECT_TRUE(LinuxVolumeDescriber::isExternalDisk("loop3", "/sys/devices/virtual/block/loop3", false));
    EXPECT_TRUE(LinuxVolumeDescriber::isExternalDisk(
        "sdb", "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb", false));
    EXPECT_TRUE(LinuxVolumeDescriber::isExternalDisk("mmcblk0", "/sys/devices/platform/mmc0/block/mmcblk0", true));
    EXPECT_FALSE(LinuxVolumeDescriber::isExternalDisk(
        "nvme0n1", "/sys/devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1", false));
}

TEST(VolumeDescription, NothingForAMissingPath)
{
    LinuxVolumeDescriber describer;
    EXPECT_FALSE(describer.describeVolume(QStringLiteral("/nonexistent/pellmere/path")).has_value());
    EXPECT_FALSE(describer.describeDevice(QStringLiteral("/dev/null")).has_value());
}

TEST(VolumeDescription, VirtualFileSystemsHaveNoDevice)
{
    LinuxVolumeDescriber describer;
    const auto proc = describer.describeVolume(QStringLiteral("/proc/self"));
    ASSERT_TRUE(proc.has_value());
    EXPECT_EQ(proc->volumeKind, "proc");
    EXPECT_EQ(proc->volumePath, "/proc");
    EXPECT_TRUE(proc->bsdName.isEmpty());
    EXPECT_FALSE(proc->deviceInternal.has_value());
    EXPECT_FALSE(proc->volumeNetwork);
}

TEST(VolumeDescription, MountedVolumesFollowTheMountTable)
{
    LinuxVolumeDescriber describer;
    const QList<platform::MountEntry> volumes = describer.mountedVolumes();
    ASSERT_FALSE(volumes.isEmpty());
    EXPECT_TRUE(std::any_of(volumes.begin(), volumes.end(),
        [](const platform::MountEntry &entry) { return entry.mountPoint == QLatin1String("/proc"); }));
}

TEST(VolumeDescriptionDrives, Ext4LabelUuidSizesAndDevice)
{
    QString whyNot;
    const QString uuid = QStringLiteral("3e6be9de-8139-4a2a-a4c5-2b6f6d0c6f01");
    auto drive = mountedDrive(DriveImage::FileSystem::Ext4, false, &whyNot, [&](DriveImage &image) {
        return DriveImage::run(QStringLiteral("tune2fs"), { "-L", "Pellmere Ext", "-U", uuid, image.imagePath() });
    });
    if (!drive)
        GTEST_SKIP() << whyNot.toStdString();
    LinuxVolumeDescriber describer;
    // Any path inside the volume describes the volume.
    ASSERT_TRUE(QDir(drive->mountPoint()).mkpath(QStringLiteral("inner/folder")));
    const auto volume = describer.describeVolume(drive->mountPoint() + QStringLiteral("/inner/folder"));
    ASSERT_TRUE(volume.has_value());
    EXPECT_EQ(volume->volumePath, drive->mountPoint());
    EXPECT_EQ(volume->volumeKind, "ext4");
    EXPECT_EQ(volume->mountType, "ext4");
    EXPECT_EQ(volume->volumeName, "Pellmere Ext");
    EXPECT_EQ(volume->volumeUUID, uuid);
    EXPECT_EQ(QStringLiteral("/dev/") + volume->bsdName, drive->loopDevice());
    EXPECT_EQ(volume->mediaSize, kImageBytes);
    EXPECT_GT(volume->volumeTotalBytes, 0);
    EXPECT_LE(volume->volumeTotalBytes, kImageBytes);
    EXPECT_GT(volume->volumeAvailableBytes, 0);
    EXPECT_LE(volume->volumeAvailableBytes, volume->volumeTotalBytes);
    EXPECT_TRUE(volume->mediaWritable);
    EXPECT_FALSE(volume->volumeNetwork);
    ASSERT_TRUE(volume->deviceInternal.has_value());
    EXPECT_FALSE(*volume->deviceInternal) << "a loop device is a disk image, so external";
    EXPECT_TRUE(volume->mediaContent.isEmpty()) << "no partition table on the image";

    // The device answers the same, mounted.
    const auto device = describer.describeDevice(drive->loopDevice());
    ASSERT_TRUE(device.has_value());
    EXPECT_EQ(device->volumePath, drive->mountPoint());
    EXPECT_EQ(device->volumeUUID, uuid);

    // Read-only once remounted so.
    ASSERT_TRUE(drive->remountReadOnly(&whyNot)) << whyNot.toStdString();
    const auto frozen = describer.describeVolume(drive->mountPoint());
    ASSERT_TRUE(frozen.has_value());
    EXPECT_FALSE(frozen->mediaWritable);
    EXPECT_EQ(frozen->volumeKind, "ext4");
}

TEST(VolumeDescriptionDrives, ExFatThroughFuseReportsItsRealKind)
{
    QString whyNot;
    auto drive = mountedDrive(DriveImage::FileSystem::ExFat, false, &whyNot, [](DriveImage &image) {
        return DriveImage::run(QStringLiteral("tune.exfat"), { "-L", "MEDIA", image.imagePath() })
            && DriveImage::run(QStringLiteral("tune.exfat"), { "-I", "0x1234abcd", image.imagePath() });
    });
    if (!drive)
        GTEST_SKIP() << whyNot.toStdString();
    const auto volume = LinuxVolumeDescriber().describeVolume(drive->mountPoint());
    ASSERT_TRUE(volume.has_value());
    EXPECT_TRUE(volume->mountType.startsWith(QLatin1String("fuse"))) << volume->mountType.toStdString();
    EXPECT_EQ(volume->volumeKind, "exfat");
    EXPECT_EQ(volume->volumeName, "MEDIA");
    EXPECT_EQ(volume->volumeUUID, "1234-ABCD");
    EXPECT_TRUE(volume->mediaContent.isEmpty()) << "the boot sector is no partition table";
    EXPECT_EQ(volume->mediaSize, kImageBytes);
    EXPECT_TRUE(volume->mediaWritable);
}

TEST(VolumeDescriptionDrives, NtfsThroughNtfs3g)
{
    QString whyNot;
    auto drive = mountedDrive(DriveImage::FileSystem::Ntfs, false, &whyNot, [](DriveImage &image) {
        return DriveImage::run(QStringLiteral("ntfslabel"),
            { "--force", "--new-serial=0123456789ABCDEF", image.imagePath(), "Windows Drive" });
    });
    if (!drive)
        GTEST_SKIP() << whyNot.toStdString();
    const auto volume = LinuxVolumeDescriber().describeVolume(drive->mountPoint());
    ASSERT_TRUE(volume.has_value());
    EXPECT_EQ(volume->volumeKind, "ntfs");
    EXPECT_EQ(volume->volumeName, "Windows Drive");
    EXPECT_EQ(volume->volumeUUID, "0123456789ABCDEF");
    EXPECT_TRUE(volume->mediaWritable);
    EXPECT_EQ(volume->mediaSize, kImageBytes);
}

TEST(VolumeDescriptionDrives, Fat32ImageBehindFusefat)
{
    QString whyNot;
    auto drive = mountedDrive(DriveImage::FileSystem::Fat32, true, &whyNot, [](DriveImage &image) {
        return DriveImage::run(QStringLiteral("fatlabel"), { image.imagePath(), "PHOTOS" })
            && DriveImage::run(QStringLiteral("fatlabel"), { "-i", image.imagePath(), "CAFE0042" });
    });
    if (!drive)
        GTEST_SKIP() << whyNot.toStdString();
    const auto volume = LinuxVolumeDescriber().describeVolume(drive->mountPoint());
    ASSERT_TRUE(volume.has_value());
    EXPECT_EQ(volume->volumeKind, "vfat");
    EXPECT_EQ(volume->volumeVersion, "FAT32");
    EXPECT_EQ(volume->volumeName, "PHOTOS");
    EXPECT_EQ(volume->volumeUUID, "CAFE-0042");
    EXPECT_EQ(volume->mediaSize, kImageBytes);
    EXPECT_TRUE(volume->bsdName.isEmpty()) << "read from an image file, not a block device";
    EXPECT_FALSE(volume->mediaWritable) << "mounted read-only";
    ASSERT_TRUE(volume->deviceInternal.has_value());
    EXPECT_FALSE(*volume->deviceInternal);
}

namespace {

// A loop device with its partitions, detached whatever happens.
class PartitionedLoop {
public:
    ~PartitionedLoop()
    {
        if (!m_loop.isEmpty()) {
            DriveImage::run(QStringLiteral("partx"), { "-d", m_loop });
            DriveImage::run(QStringLiteral("losetup"), { "-d", m_loop });
        }
    }
    // Writes the sfdisk script to a fresh image, attaches it and makes its partition devices.
    bool create(const QString &script, QString *whyNot)
    {
        if (!m_dir.isValid())
            return false;
        const QString image = m_dir.filePath(QStringLiteral("disk.img"));
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(kImageBytes)) {
            *whyNot = QStringLiteral("cannot make the image");
            return false;
        }
        file.close();
        const QString scriptPath = m_dir.filePath(QStringLiteral("layout"));
        testsupport::writeFile(scriptPath, script.toUtf8());
        QString output;
        if (!DriveImage::run(QStringLiteral("sh"), { "-c", "sfdisk -q \"$0\" < \"$1\"", image, scriptPath }, &output)) {
            *whyNot = QStringLiteral("sfdisk failed: ") + output;
            return false;
        }
        if (!DriveImage::run(QStringLiteral("losetup"), { "-f", "--show", image }, &output)) {
            *whyNot = QStringLiteral("losetup failed: ") + output;
            return false;
        }
        m_loop = output.trimmed();
        if (!DriveImage::run(QStringLiteral("partx"), { "-a", m_loop }, &output)) {
            *whyNot = QStringLiteral("partx failed: ") + output;
            return false;
        }
        return testsupport::waitFor([this] { return QFileInfo::exists(partition()); }, std::chrono::seconds(10));
    }
    QString partition() const { return m_loop + QStringLiteral("p1"); }

private:
    QTemporaryDir m_dir;
    QString m_loop;
};

} // namespace

TEST(VolumeDescriptionDrives, PartitionEntriesGiveTheContentHint)
{
    if (DriveImage::unavailableReason(DriveImage::FileSystem::Ext4).size() > 0)
        GTEST_SKIP() << DriveImage::unavailableReason(DriveImage::FileSystem::Ext4).toStdString();
    struct Case {
        const char *script;
        const char *formatter;
        QStringList arguments;
        const char *kind;
        const char *hint;
    };
    const QList<Case> cases = {
        { "label: dos\nstart=2048, type=c\n", "mkfs.vfat", { "-F", "32", "-n", "FATPART" }, "vfat", "DOS_FAT_32" },
        { "label: dos\nstart=2048, type=7\n", "mkntfs", { "-F", "-Q", "-q", "-L", "NTFSPART" }, "ntfs",
            "Windows_NTFS" },
        { "label: gpt\nstart=2048, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n", "mkfs.exfat", { "-L", "EXPART" },
            "exfat", "Microsoft Basic Data" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.script);
        PartitionedLoop disk;
        QString whyNot;
        if (!disk.create(QString::fromLatin1(c.script), &whyNot))
            GTEST_SKIP() << whyNot.toStdString();
        QString output;
        ASSERT_TRUE(
            DriveImage::run(QString::fromLatin1(c.formatter), c.arguments + QStringList { disk.partition() }, &output))
            << output.toStdString();
        const auto device = LinuxVolumeDescriber().describeDevice(disk.partition());
        ASSERT_TRUE(device.has_value());
        EXPECT_EQ(device->volumeKind, c.kind);
        EXPECT_EQ(device->mediaContent, c.hint);
        EXPECT_TRUE(device->volumePath.isEmpty()) << "not mounted";
        EXPECT_EQ(QStringLiteral("/dev/") + device->bsdName, disk.partition());
        EXPECT_GT(device->mediaSize, 0);
        EXPECT_LT(device->mediaSize, kImageBytes) << "the partition, not the whole disk";
    }
}
