#include "netstorage/LinuxFSCatalogSource.h"

#include <gtest/gtest.h>

namespace {

const FSPersonalityInfo *find(const QList<FSPersonalityInfo> &catalog, const QString &personality)
{
    for (const FSPersonalityInfo &info : catalog)
        if (info.personality == personality)
            return &info;
    return nullptr;
}

std::function<bool(const QString &)> installed(const QStringList &programs)
{
    return [programs](const QString &program) { return programs.contains(program); };
}

} // namespace

TEST(LinuxFSCatalogSource, ParsesProcFilesystemsAndModules)
{
    const QByteArray proc = "nodev\tsysfs\nnodev\ttmpfs\n\text3\n\text4\nnodev\tfuse\n\tfuseblk\n\n";
    EXPECT_EQ(LinuxFSCatalogSource::parseProcFilesystems(proc),
        QStringList({ "sysfs", "tmpfs", "ext3", "ext4", "fuse", "fuseblk" }));
    const QByteArray dep = "kernel/fs/fat/vfat.ko.xz: kernel/fs/fat/fat.ko.xz\n"
                           "kernel/fs/ntfs3/ntfs3.ko:\n"
                           "garbage line\n";
    EXPECT_EQ(LinuxFSCatalogSource::parseModuleNames(dep), QStringList({ "vfat", "ntfs3" }));
}

TEST(LinuxFSCatalogSource, FuseOnlyMachine)
{
    // Like the build machine: no kernel FAT, exFAT or NTFS; FUSE drivers and formatters.
    const auto catalog = LinuxFSCatalogSource::catalogFrom({ "ext3", "ext2", "ext4", "fuseblk", "btrfs", "xfs" },
        installed({ "mkfs.vfat", "mkfs.exfat", "mkfs.ntfs", "mkfs.ext4", "fusefat", "mount.exfat-fuse", "ntfs-3g" }));
    const FSPersonalityInfo *vfat = find(catalog, "vfat");
    ASSERT_TRUE(vfat);
    EXPECT_EQ(vfat->userName, "MS-DOS FAT32");
    EXPECT_EQ(vfat->contentMask, "DOS_FAT_32");
    EXPECT_TRUE(vfat->hasFormatter);
    EXPECT_FALSE(vfat->canWrite) << "fusefat is not trusted with writes";
    const FSPersonalityInfo *exfat = find(catalog, "exfat");
    ASSERT_TRUE(exfat);
    EXPECT_TRUE(exfat->canWrite);
    const FSPersonalityInfo *ntfs = find(catalog, "ntfs");
    ASSERT_TRUE(ntfs);
    EXPECT_EQ(ntfs->contentMask, "Windows_NTFS");
    EXPECT_TRUE(ntfs->canWrite);
    EXPECT_TRUE(ntfs->hasFormatter);
    const FSPersonalityInfo *ext4 = find(catalog, "ext4");
    ASSERT_TRUE(ext4);
    EXPECT_EQ(ext4->userName, "Linux ext4");
    EXPECT_TRUE(ext4->canWrite);
    EXPECT_TRUE(find(catalog, "btrfs"));
    EXPECT_FALSE(find(catalog, "hfsplus")) << "nothing here reads, writes or formats it";
}

TEST(LinuxFSCatalogSource, ReadOnlyKernelNtfsDoesNotWrite)
{
    const auto readOnly = LinuxFSCatalogSource::catalogFrom({ "ntfs" }, installed({ "mkntfs" }));
    const FSPersonalityInfo *ntfs = find(readOnly, "ntfs");
    ASSERT_TRUE(ntfs);
    EXPECT_FALSE(ntfs->canWrite);
    EXPECT_TRUE(ntfs->hasFormatter);

    const auto kernel = LinuxFSCatalogSource::catalogFrom({ "ntfs3", "vfat", "exfat" }, installed({}));
    ASSERT_TRUE(find(kernel, "ntfs"));
    EXPECT_TRUE(find(kernel, "ntfs")->canWrite);
    EXPECT_FALSE(find(kernel, "ntfs")->hasFormatter);
    EXPECT_TRUE(find(kernel, "vfat")->canWrite);
    EXPECT_TRUE(find(kernel, "exfat")->canWrite);
}
