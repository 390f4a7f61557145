#include "agent/settings/PMConfigurationFile.h"
#include "agent/settings/PMUserDefaults.h"
#include "agent/sync/PMDriveQualifier.h"
#include "agent/sync/PMSyncController.h"

#include "SyncTestDoubles.h"
#include "support/DriveImage.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using testsupport::DriveImage;

// The drive qualification on real mounted images, with this computer's describer and catalog.
namespace {

const QString kUser = QStringLiteral("0A1B2C3D4E5F-501");
constexpr qint64 kImageBytes = 64 * 1024 * 1024;

class MountedDrive {
public:
    // Skips the calling test (through *whyNot) when the drive cannot be made here.
    bool mount(DriveImage::FileSystem kind, bool readOnly, QString *whyNot, const QString &labelProgram = {},
        const QStringList &labelArguments = {})
    {
        m_image = DriveImage::create(kind, 64, whyNot);
        if (!m_image)
            return false;
        if (!labelProgram.isEmpty()) {
            QString output;
            if (!DriveImage::run(labelProgram, labelArguments + QStringList { m_image->imagePath() }, &output)) {
                *whyNot = labelProgram + QStringLiteral(" failed: ") + output;
                return false;
            }
        }
        if (!m_image->mount(readOnly, whyNot))
            return false;
        m_config = std::make_unique<PMConfigurationFile>(
            m_image->mountPoint(), PMConfigurationFile::kSyncTypePerUser, kUser);
        return true;
    }
    std::unique_ptr<PMDriveQualifier> qualifier(const QString &uuid = QStringLiteral("DRIVE-UUID"))
    {
        PMDriveQualifier::Services services = PMDriveQualifier::systemServices();
        services.addSeenDevice = [this](const QString &device) { seen.append(device); };
        return std::make_unique<PMDriveQualifier>(m_image->mountPoint(), uuid, *m_config, services);
    }
    DriveImage &image() { return *m_image; }
    PMConfigurationFile &config() { return *m_config; }

    QStringList seen;

private:
    // Destroyed first: nothing may hold the drive's files when it is unmounted.
    std::unique_ptr<DriveImage> m_image;
    std::unique_ptr<PMConfigurationFile> m_config;
};

} // namespace

TEST(PMDriveQualifierDrives, Fat32IsCompatibleWithTheFourGigabyteLimit)
{
    MountedDrive drive;
    QString whyNot;
    if (!drive.mount(DriveImage::FileSystem::Fat32, true, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    auto qualifier = drive.qualifier();
    EXPECT_TRUE(qualifier->fsIsCompatible());
    EXPECT_TRUE(qualifier->fsLimit4G());
    EXPECT_FALSE(qualifier->fsIsNTFS());
    EXPECT_EQ(qualifier->fsName(), "MS-DOS FAT32");
    EXPECT_EQ(qualifier->totalBytes(), kImageBytes);
    // fusefat mounts it read-only (no safe FAT writer here), so it cannot be synced to.
    EXPECT_FALSE(qualifier->isValidFileSystem());
    EXPECT_EQ(qualifier->fileSystemType(), "fuse.fusefat");
}

TEST(PMDriveQualifierDrives, NtfsThroughNtfs3gIsCompatibleAndWritable)
{
    MountedDrive drive;
    QString whyNot;
    // ntfslabel wants the label after the device: label the image through a small shell line.
    if (!drive.mount(DriveImage::FileSystem::Ntfs, false, &whyNot, QStringLiteral("sh"),
            { QStringLiteral("-c"), QStringLiteral("ntfslabel --force \"$0\" Films") }))
        GTEST_SKIP() << whyNot.toStdString();
    auto qualifier = drive.qualifier();
    EXPECT_TRUE(qualifier->isValidDevice());
    EXPECT_TRUE(qualifier->isValidFileSystem());
    EXPECT_TRUE(qualifier->fsIsNTFS());
    EXPECT_TRUE(qualifier->fsIsCompatible());
    EXPECT_TRUE(qualifier->fsIsWritable());
    EXPECT_EQ(qualifier->fsName(), "NTFS");
    EXPECT_EQ(qualifier->fileSystemType(), "fuseblk");
    EXPECT_EQ(qualifier->volumeName(), "Films");
}

TEST(PMDriveQualifierDrives, Ext4LabelSizesAndAReadOnlyRemount)
{
    MountedDrive drive;
    QString whyNot;
    if (!drive.mount(DriveImage::FileSystem::Ext4, false, &whyNot, QStringLiteral("tune2fs"),
            { QStringLiteral("-L"), QStringLiteral("Backup Drive") }))
        GTEST_SKIP() << whyNot.toStdString();
    auto qualifier = drive.qualifier();
    EXPECT_TRUE(qualifier->isValidDevice());
    EXPECT_TRUE(qualifier->isValidFileSystem());
    EXPECT_EQ(qualifier->fsName(), "Linux ext4");
    EXPECT_EQ(qualifier->volumeName(), "Backup Drive");
    EXPECT_EQ(qualifier->totalBytes(), kImageBytes);
    EXPECT_GT(qualifier->freeBytes(), 0);
    EXPECT_LT(qualifier->freeBytes(), kImageBytes);

    ASSERT_TRUE(drive.image().remountReadOnly(&whyNot)) << whyNot.toStdString();
    auto frozen = drive.qualifier();
    EXPECT_TRUE(frozen->isValidDevice());
    EXPECT_TRUE(frozen->fsIsCompatible());
    EXPECT_FALSE(frozen->isValidFileSystem()) << "read-only";
}

TEST(PMDriveQualifierDrives, TmpfsAndPlainFoldersAreNoDevices)
{
    QTemporaryDir folder;
    PMConfigurationFile config(folder.path(), PMConfigurationFile::kSyncTypePerUser, kUser);
    PMDriveQualifier plain(folder.path(), QStringLiteral("U"), config);
    EXPECT_FALSE(plain.isValidDevice());

    if (!QDir(QStringLiteral("/dev/shm")).exists())
        GTEST_SKIP() << "no /dev/shm here";
    PMDriveQualifier shm(QStringLiteral("/dev/shm"), QStringLiteral("U"), config);
    EXPECT_FALSE(shm.isValidDevice());
    EXPECT_FALSE(shm.fsIsCompatible());
}

TEST(PMDriveQualifierDrives, NewDriveThenConfiguredDrive)
{
    MountedDrive drive;
    QString whyNot;
    if (!drive.mount(DriveImage::FileSystem::Ext4, false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    auto qualifier = drive.qualifier();
    EXPECT_FALSE(qualifier->syncIsEnabledForThisDevice());
    EXPECT_EQ(drive.seen, QStringList { "DRIVE-UUID" });
    EXPECT_TRUE(QFileInfo::exists(drive.image().mountPoint() + QStringLiteral("/") + PMConfigurationFile::kFileName));

    {
        // The agent's next start reads the file from the drive.
        PMConfigurationFile again(drive.image().mountPoint(), PMConfigurationFile::kSyncTypePerUser, kUser);
        EXPECT_TRUE(again.hasSyncConfiguration());
        EXPECT_FALSE(again.isParticipatingEnabledForUser());
        EXPECT_TRUE(again.isContinuousEnabledForUser());
        EXPECT_TRUE(again.isQuietEnabledForUser());
        EXPECT_TRUE(again.syncItemList().has_value());
        // The user switches syncing on from the manager.
        ASSERT_TRUE(again.setParticipatingEnabledForUser(true));
    }
    PMConfigurationFile reopened(drive.image().mountPoint(), PMConfigurationFile::kSyncTypePerUser, kUser);
    PMDriveQualifier configured(drive.image().mountPoint(), QStringLiteral("DRIVE-UUID"), reopened);
    EXPECT_TRUE(configured.syncIsEnabledForThisDevice());
}

// exFAT through exfat-fuse, asked through the drive's sync controller.
TEST(PMDriveQualifierDrives, TheSyncControllerAnswersForItsDrive)
{
    MountedDrive drive;
    QString whyNot;
    if (!drive.mount(DriveImage::FileSystem::ExFat, false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    synctest::RecordingOwner owner;
    auto controller = std::make_unique<PMSyncController>(drive.image().mountPoint(), QStringLiteral("Vendor"),
        QStringLiteral("EXFAT-UUID"), kUser, &owner, PMSyncController::PhasesFactory());
    EXPECT_TRUE(controller->isValidDevice());
    EXPECT_TRUE(controller->isValidFileSystem());
    EXPECT_EQ(controller->fsName(), "ExFAT");
    EXPECT_FALSE(controller->fsLimit4G());
    EXPECT_FALSE(controller->fsIsNTFS());
    EXPECT_EQ(QStringLiteral("/dev/") + controller->diskSlice(), drive.image().loopDevice());
    EXPECT_EQ(controller->totalBytes(), kImageBytes);
    EXPECT_EQ(PMSyncController::parseDiskSize(QStringLiteral("700 MB")), 734003200LL);

    EXPECT_FALSE(controller->hasUserSeenThisDevice());
    EXPECT_FALSE(controller->syncIsEnabledForThisDevice());
    EXPECT_TRUE(controller->hasUserSeenThisDevice());
    EXPECT_TRUE(controller->deviceConfig().isContinuousEnabledForUser());
    EXPECT_TRUE(PMUserDefaults::sharedInstance().hasUserSeenDevice(QStringLiteral("EXFAT-UUID")));
    controller.reset();
}

TEST(PMDriveQualifierDrives, WritableFat32IsAValidFileSystemWithTheLimit)
{
    const QString reason = DriveImage::unavailableReason(DriveImage::FileSystem::Fat32, false);
    if (!reason.isEmpty())
        GTEST_SKIP() << reason.toStdString();
    MountedDrive drive;
    QString whyNot;
    if (!drive.mount(DriveImage::FileSystem::Fat32, false, &whyNot, QStringLiteral("sh"),
            { QStringLiteral("-c"), QStringLiteral("fatlabel \"$0\" MUSIC") }))
        GTEST_SKIP() << whyNot.toStdString();
    auto qualifier = drive.qualifier();
    EXPECT_TRUE(qualifier->isValidFileSystem());
    EXPECT_TRUE(qualifier->fsIsCompatible());
    EXPECT_TRUE(qualifier->fsLimit4G());
    EXPECT_TRUE(qualifier->fsIsWritable());
    EXPECT_EQ(qualifier->fsName(), "MS-DOS FAT32");
    EXPECT_EQ(qualifier->totalBytes(), kImageBytes);
}
