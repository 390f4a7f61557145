#include "agent/settings/PMConfigurationFile.h"
#include "agent/sync/PMDriveQualifier.h"
#include "netstorage/FSNamesAndTags.h"
#include "netstorage/PMFileSystemClassifier.h"
#include "netstorage/PMMappedShareSet.h"
#include "platform/PropertyList.h"
#include "platform/VolumeDescription.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kUser = QStringLiteral("0A1B2C3D4E5F-501");

class FakeCatalog : public FSCatalogSource {
public:
    QList<FSPersonalityInfo> entries;
    FakeCatalog &add(const QString &personality, const QString &mask, bool formatter, bool writer)
    {
        entries.append({ personality, personality + QStringLiteral(" name"), mask, formatter, writer });
        return *this;
    }
    QList<FSPersonalityInfo> personalities() const override { return entries; }
    bool isNtfs3gDriverDisabled() const override { return false; }
};

// A computer with everything: NTFS and exFAT can be written and formatted.
FSNamesAndTags fullCatalog()
{
    FakeCatalog source;
    source.add("vfat", "DOS_FAT_32", true, true).add("ntfs", "Windows_NTFS", true, true);
    source.add("exfat", "", true, true).add("ext4", "Linux", true, true);
    source.add("UFSD_NTFS", "", true, true).add("ufsd_NTFS", "", false, false);
    return FSNamesAndTags(source);
}

// A computer that reads NTFS and exFAT but writes neither.
FSNamesAndTags readOnlyCatalog()
{
    FakeCatalog source;
    source.add("vfat", "DOS_FAT_32", true, true).add("ntfs", "Windows_NTFS", true, false);
    source.add("exfat", "", false, false).add("ufsd_NTFS", "", false, false);
    return FSNamesAndTags(source);
}

class FakeDescriber : public platform::VolumeDescriber {
public:
    std::optional<platform::VolumeDescription> volume;
    QList<platform::MountEntry> mounts;
    QHash<QString, platform::VolumeDescription> others;

    std::optional<platform::VolumeDescription> describeVolume(const QString &path) const override
    {
        if (others.contains(path))
            return others.value(path);
        return volume;
    }
    std::optional<platform::VolumeDescription> describeDevice(const QString &) const override { return volume; }
    QList<platform::MountEntry> mountedVolumes() const override { return mounts; }
};

class FakeShares : public PMMappedShareSet {
public:
    QStringList paths;
    bool isMappedSharePath(const QString &mountPath) const override { return paths.contains(mountPath); }
};

PMFileSystemClass fat()
{
    return { true, false, true };
}
PMFileSystemClass compatible()
{
    return { true, false, false };
}
PMFileSystemClass ntfs(bool writable)
{
    return { writable, true, false };
}
PMFileSystemClass incompatible()
{
    return {};
}

} // namespace

TEST(PMFileSystemClassifier, EveryRuleFirstMatchWins)
{
    const FSNamesAndTags full = fullCatalog();
    const FSNamesAndTags readOnly = readOnlyCatalog();
    struct Case {
        const char *kind;
        const char *content;
        PMFileSystemClass withFull;
        PMFileSystemClass withReadOnly;
    };
    const Case cases[] = {
        // FAT by content hint or by kind, whatever writes it.
        { "vfat", "", fat(), fat() },
        { "msdos", "", fat(), fat() },
        { "MS-DOS FAT32", "", fat(), fat() },
        { "", "DOS_FAT_32", fat(), fat() },
        { "ntfs", "DOS_FAT_32", fat(), fat() }, // the content rule comes first
        // HFS by content containing "HFS" or by kind.
        { "hfsplus", "", compatible(), compatible() },
        { "hfs", "", compatible(), compatible() },
        { "", "Apple_HFSX", compatible(), compatible() },
        // NTFS by content hint: formattable content decides.
        { "ntfs", "Windows_NTFS", ntfs(true), ntfs(false) },
        { "", "Windows_NTFS", ntfs(true), ntfs(false) },
        // exFAT on MBR type 0x07 is not NTFS.
        { "exfat", "Windows_NTFS", compatible(), incompatible() },
        // NTFS by kind, any case, at either end; ufsd_NTFS retried in upper case.
        { "ntfs", "Microsoft Basic Data", ntfs(true), ntfs(false) },
        { "ufsd_NTFS", "", ntfs(true), ntfs(false) },
        { "ntfs3", "", ntfs(false), ntfs(false) }, // not in either catalog
        // exFAT when something writes it.
        { "exfat", "", compatible(), incompatible() },
        // Linux's own file systems.
        { "ext2", "", compatible(), compatible() },
        { "ext3", "Linux", compatible(), compatible() },
        { "ext4", "", compatible(), compatible() },
        { "btrfs", "", compatible(), compatible() },
        { "xfs", "", compatible(), compatible() },
        // Anything else.
        { "zfs", "", incompatible(), incompatible() },
        { "apfs", "Apple_APFS", incompatible(), incompatible() },
        { "tmpfs", "", incompatible(), incompatible() },
        { "", "", incompatible(), incompatible() },
        { "EXT4", "", incompatible(), incompatible() },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.kind) + " / " + c.content);
        const PMFileSystemClass onFull = PMFileSystemClassifier::classify(c.kind, c.content, full);
        EXPECT_EQ(onFull.compatible, c.withFull.compatible);
        EXPECT_EQ(onFull.isNTFS, c.withFull.isNTFS);
        EXPECT_EQ(onFull.limit4G, c.withFull.limit4G);
        const PMFileSystemClass onReadOnly = PMFileSystemClassifier::classify(c.kind, c.content, readOnly);
        EXPECT_EQ(onReadOnly.compatible, c.withReadOnly.compatible);
        EXPECT_EQ(onReadOnly.isNTFS, c.withReadOnly.isNTFS);
        EXPECT_EQ(onReadOnly.limit4G, c.withReadOnly.limit4G);
    }
}

TEST(PMDriveQualifier, ParsesDiskSizes)
{
    EXPECT_EQ(PMDriveQualifier::parseDiskSize("1.5 TB"), 1649267441664LL);
    EXPECT_EQ(PMDriveQualifier::parseDiskSize("700 MB"), 734003200LL);
    EXPECT_EQ(PMDriveQualifier::parseDiskSize("12 KB"), 12288LL);
    EXPECT_EQ(PMDriveQualifier::parseDiskSize("42"), 42LL);
    EXPECT_EQ(PMDriveQualifier::parseDiskSize("500.1 GB (500107862016 Bytes)"), 536978286182LL);
    EXPECT_EQ(PMDriveQualifier::parseDiskSize("2 Gi"), 2147483648LL);
    EXPECT_EQ(PMDriveQualifier::parseDiskSize("3 Ti"), 3298534883328LL);
    EXPECT_EQ(PMDriveQualifier::parseDiskSize("1 Mi"), 1048576LL);
    EXPECT_EQ(PMDriveQualifier::parseDiskSize("1 Ki"), 1024LL);
    EXPECT_EQ(PMDriveQualifier::parseDiskSize("1.5TB"), 1649267441664LL);
    EXPECT_EQ(PMDriveQualifier::parseDiskSize("12 bytes"), 12LL) << "an unknown unit leaves the number";
    EXPECT_EQ(PMDriveQualifier::parseDiskSize("0.05 KB"), 0LL) << "tenths are truncated";
    EXPECT_EQ(PMDriveQualifier::parseDiskSize("GB"), 0LL);
    EXPECT_EQ(PMDriveQualifier::parseDiskSize(""), 0LL);
    // Far too large for 64 bits: saturates instead of wrapping to a negative size.
    EXPECT_GT(PMDriveQualifier::parseDiskSize("9000000000 TB"), 0LL);
    EXPECT_GT(PMDriveQualifier::parseDiskSize("1e300"), 0LL);
}

class DriveQualifierTest : public ::testing::Test {
protected:
    DriveQualifierTest()
        : m_catalog(fullCatalog())
        , m_config(m_drive.path(), PMConfigurationFile::kSyncTypePerUser, kUser)
    {
        platform::VolumeDescription volume;
        volume.volumePath = m_drive.path();
        volume.volumeName = QStringLiteral("Holiday Drive");
        volume.volumeKind = QStringLiteral("vfat");
        volume.volumeVersion = QStringLiteral("FAT32");
        volume.mountType = QStringLiteral("vfat");
        volume.mountSource = QStringLiteral("/dev/sdb1");
        volume.bsdName = QStringLiteral("sdb1");
        volume.mediaContent = QStringLiteral("DOS_FAT_32");
        volume.mediaSize = 16LL << 30;
        volume.volumeTotalBytes = 15LL << 30;
        volume.volumeAvailableBytes = 3LL << 30;
        volume.mediaWritable = true;
        volume.deviceInternal = false;
        m_describer.volume = volume;
    }

    std::unique_ptr<PMDriveQualifier> qualifier(const QString &uuid = QStringLiteral("UUID-1"))
    {
        PMDriveQualifier::Services services;
        services.describer = &m_describer;
        services.catalog = &m_catalog;
        services.mappedShares = &m_shares;
        services.addSeenDevice = [this](const QString &device) { m_seen.append(device); };
        return std::make_unique<PMDriveQualifier>(m_drive.path(), uuid, m_config, services);
    }

    QTemporaryDir m_drive;
    FSNamesAndTags m_catalog;
    PMConfigurationFile m_config;
    FakeDescriber m_describer;
    FakeShares m_shares;
    QStringList m_seen;
};

TEST_F(DriveQualifierTest, AVolumeOnABlockDeviceIsAValidDevice)
{
    EXPECT_TRUE(qualifier()->isValidDevice());

    // Not backed by a block device: tmpfs, an image read by a FUSE driver.
    m_describer.volume->bsdName.clear();
    m_describer.volume->mountSource = QStringLiteral("tmpfs");
    EXPECT_FALSE(qualifier()->isValidDevice());

    // Unless the share mapper maps it.
    m_shares.paths.append(m_drive.path());
    EXPECT_TRUE(qualifier()->isValidDevice());
}

TEST_F(DriveQualifierTest, AFolderInsideAVolumeIsNoDevice)
{
    m_describer.volume->volumePath = QStringLiteral("/");
    EXPECT_FALSE(qualifier()->isValidDevice());
}

TEST_F(DriveQualifierTest, AMissingMountPointIsNeitherValidNorCompatible)
{
    QDir(m_drive.path()).removeRecursively();
    auto drive = qualifier();
    EXPECT_FALSE(drive->isValidDevice());
    EXPECT_FALSE(drive->isValidFileSystem());
    m_describer.volume.reset();
    EXPECT_FALSE(drive->fsIsCompatible());
    EXPECT_EQ(drive->fsName(), "Unknown File System");
    EXPECT_EQ(drive->totalBytes(), 0);
}

TEST_F(DriveQualifierTest, Fat32FactsAndTheFourGigabyteLimit)
{
    auto drive = qualifier();
    EXPECT_TRUE(drive->isValidFileSystem());
    EXPECT_EQ(drive->fileSystemType(), "vfat");
    EXPECT_EQ(drive->diskSlice(), "sdb1");
    EXPECT_TRUE(drive->fsIsCompatible());
    EXPECT_TRUE(drive->fsLimit4G());
    EXPECT_FALSE(drive->fsIsNTFS());
    EXPECT_TRUE(drive->fsIsWritable());
    EXPECT_EQ(drive->fsName(), "vfat name");
    EXPECT_EQ(drive->contentTag(), "DOS_FAT_32");
    EXPECT_EQ(drive->totalBytes(), 16LL << 30) << "the medium's size";
    EXPECT_EQ(drive->freeBytes(), 3LL << 30);
}

TEST_F(DriveQualifierTest, FactsAreKeptUntilGatheredAgain)
{
    auto drive = qualifier();
    EXPECT_TRUE(drive->fsLimit4G());
    m_describer.volume->volumeKind = QStringLiteral("ext4");
    m_describer.volume->mediaContent = QStringLiteral("Linux");
    EXPECT_TRUE(drive->fsLimit4G());
    drive->initFSVars();
    EXPECT_FALSE(drive->fsLimit4G());
    EXPECT_TRUE(drive->fsIsCompatible());
    EXPECT_EQ(drive->fsName(), "ext4 name");
}

TEST_F(DriveQualifierTest, AReadOnlyCompatibleVolumeIsNotValid)
{
    m_describer.volume->volumeKind = QStringLiteral("hfsplus");
    m_describer.volume->mediaContent = QStringLiteral("Apple_HFS");
    m_describer.volume->mediaWritable = false;
    auto drive = qualifier();
    EXPECT_FALSE(drive->isValidFileSystem());
    EXPECT_TRUE(drive->fsIsCompatible());
    EXPECT_FALSE(drive->fsIsWritable());
    EXPECT_EQ(drive->fsName(), "Unknown File System") << "hfsplus is not in this catalog";
}

TEST_F(DriveQualifierTest, NtfsWithoutAWritingDriverIsNotValid)
{
    m_describer.volume->volumeKind = QStringLiteral("ntfs");
    m_describer.volume->mediaContent = QStringLiteral("Windows_NTFS");
    m_catalog = readOnlyCatalog();
    auto drive = qualifier();
    EXPECT_FALSE(drive->isValidFileSystem());
    EXPECT_TRUE(drive->fsIsNTFS());
    EXPECT_FALSE(drive->fsIsCompatible());

    m_catalog = fullCatalog();
    drive->initFSVars();
    EXPECT_TRUE(drive->isValidFileSystem());
    EXPECT_TRUE(drive->fsIsNTFS());
}

TEST_F(DriveQualifierTest, NetworkSharesTakeTheirNameAndPath)
{
    platform::VolumeDescription &share = *m_describer.volume;
    share.volumeNetwork = true;
    share.volumeKind = QStringLiteral("cifs");
    share.volumeName.clear();
    share.bsdName.clear();
    share.mediaSize = 0;
    auto drive = qualifier();
    EXPECT_TRUE(drive->fsIsCompatible());
    EXPECT_FALSE(drive->fsLimit4G());
    EXPECT_TRUE(drive->fsIsWritable()) << "the temporary folder is writable";
    EXPECT_EQ(drive->fsName(), QDir(m_drive.path()).dirName());
    EXPECT_EQ(drive->contentTag(), m_drive.path());
    EXPECT_EQ(drive->totalBytes(), 15LL << 30);
}

TEST_F(DriveQualifierTest, VolumeNameOfTheDeviceSlice)
{
    auto drive = qualifier();
    EXPECT_TRUE(drive->volumeName().isNull()) << "no slice before the file system was checked";
    ASSERT_TRUE(drive->isValidFileSystem());

    platform::MountEntry other;
    other.mountPoint = QStringLiteral("/media/other");
    other.source = QStringLiteral("/dev/sdc1");
    platform::MountEntry ours;
    ours.mountPoint = QStringLiteral("/media/alice/HOLIDAY");
    ours.source = QStringLiteral("/dev/sdb1");
    platform::VolumeDescription labelled = *m_describer.volume;
    labelled.volumeName = QStringLiteral("HOLIDAY LABEL");
    m_describer.others.insert(ours.mountPoint, labelled);
    m_describer.mounts = { other, ours };
    EXPECT_EQ(drive->volumeName(), "HOLIDAY LABEL");

    labelled.volumeName.clear();
    m_describer.others.insert(ours.mountPoint, labelled);
    EXPECT_EQ(drive->volumeName(), "HOLIDAY") << "an unlabelled volume shows its folder's name";

    m_describer.mounts = { other };
    EXPECT_TRUE(drive->volumeName().isNull());
}

TEST_F(DriveQualifierTest, ABrandNewDriveRegistersTheUserWithSyncingOff)
{
    auto drive = qualifier();
    EXPECT_FALSE(drive->hasUserSeenThisDevice());
    EXPECT_FALSE(drive->syncIsEnabledForThisDevice());
    EXPECT_EQ(m_seen, QStringList { "UUID-1" });
    EXPECT_TRUE(m_config.hasSyncConfiguration());
    EXPECT_TRUE(drive->hasUserSeenThisDevice());
    EXPECT_FALSE(m_config.isParticipatingEnabledForUser());
    EXPECT_TRUE(m_config.isContinuousEnabledForUser());
    EXPECT_TRUE(m_config.isQuietEnabledForUser());
    EXPECT_TRUE(m_config.configSyncUserList().value_or(QStringList()).contains(kUser));
    ASSERT_TRUE(m_config.syncItemList().has_value());
    EXPECT_FALSE(m_config.syncItemList()->isEmpty()) << "the default sync set";

    // Written to the drive: another computer's agent reads the same.
    PMConfigurationFile reread(m_drive.path(), PMConfigurationFile::kSyncTypePerUser, kUser);
    EXPECT_TRUE(reread.hasSyncConfiguration());
    EXPECT_FALSE(reread.isParticipatingEnabledForUser());
    EXPECT_TRUE(reread.isContinuousEnabledForUser());
    EXPECT_TRUE(reread.isQuietEnabledForUser());

    // Asked again, the drive is now configured and the answer stays NO.
    EXPECT_FALSE(drive->syncIsEnabledForThisDevice());
    EXPECT_EQ(m_seen.size(), 1);
}

TEST_F(DriveQualifierTest, ADriveWithoutUuidIsSeenAsOneOneOne)
{
    EXPECT_FALSE(qualifier(QString())->syncIsEnabledForThisDevice());
    EXPECT_EQ(m_seen, QStringList { "1-1-1" });
}

TEST_F(DriveQualifierTest, AConfiguredDriveAnswersThisUsersParticipation)
{
    ASSERT_TRUE(m_config.addUserToList());
    ASSERT_TRUE(m_config.createDefaultSyncSet());
    ASSERT_TRUE(m_config.setParticipatingEnabledForUser(true));
    auto drive = qualifier();
    EXPECT_TRUE(drive->syncIsEnabledForThisDevice());
    EXPECT_TRUE(m_seen.isEmpty());

    ASSERT_TRUE(m_config.setParticipatingEnabledForUser(false));
    EXPECT_FALSE(drive->syncIsEnabledForThisDevice());
    EXPECT_TRUE(m_config.hasSyncConfiguration()) << "nothing else changes";
}

TEST(PMDriveQualifierOldFormat, AnOldDriveIsConvertedAndJoined)
{
    QTemporaryDir drivePath;
    ASSERT_TRUE(platform::PropertyList::writeFile(drivePath.filePath(PMConfigurationFile::kFileName),
        QVariantMap { { QStringLiteral("config-version"), 2 }, { QStringLiteral("tavrin-uuid"), QStringLiteral("U") },
            { QStringLiteral("tavrin-items-to-sync"), QVariantList { QStringLiteral("~/Music") } } }));
    PMConfigurationFile config(drivePath.path(), PMConfigurationFile::kSyncTypePerUser, kUser);
    ASSERT_TRUE(config.hasOldSyncFormat());
    FakeDescriber describer;
    const FSNamesAndTags catalog = fullCatalog();
    const PMNoMappedShares shares;
    QStringList seen;
    PMDriveQualifier::Services services;
    services.describer = &describer;
    services.catalog = &catalog;
    services.mappedShares = &shares;
    services.addSeenDevice = [&seen](const QString &device) { seen.append(device); };
    PMDriveQualifier drive(drivePath.path(), QStringLiteral("U"), config, services);

    EXPECT_TRUE(drive.syncIsEnabledForThisDevice());
    EXPECT_FALSE(config.hasOldSyncFormat());
    EXPECT_TRUE(config.isParticipatingEnabledForUser());
    EXPECT_TRUE(config.isContinuousEnabledForUser());
    EXPECT_TRUE(config.isQuietEnabledForUser());
    EXPECT_TRUE(config.configSyncUserList().value_or(QStringList()).contains(kUser));
    EXPECT_TRUE(seen.isEmpty()) << "only a drive never set up is recorded as seen";
}
