// The drive-image fixture itself: each kind mounts, holds what is written, and leaves no
// mount, driver or loop device behind.
#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QFile>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace {

using testsupport::DriveImage;

bool mountTableMentions(const QString &path)
{
    QFile mountInfo(QStringLiteral("/proc/self/mountinfo"));
    return mountInfo.open(QIODevice::ReadOnly) && mountInfo.readAll().contains(QFile::encodeName(path));
}

bool loopAttachedTo(const QString &image)
{
    QString output;
    DriveImage::run(QStringLiteral("losetup"), { QStringLiteral("-j"), image }, &output);
    return !output.trimmed().isEmpty();
}

class DriveImageKindTest : public ::testing::TestWithParam<DriveImage::FileSystem> { };

TEST_P(DriveImageKindTest, MountsHoldsDataAndCleansUp)
{
    QString whyNot;
    auto drive = DriveImage::create(GetParam(), 64, &whyNot);
    ASSERT_TRUE(drive) << whyNot.toStdString();
    if (!drive->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    const QString mountPoint = drive->mountPoint();
    const QString image = drive->imagePath();
    EXPECT_TRUE(mountTableMentions(mountPoint));
    testsupport::writeFile(mountPoint + QStringLiteral("/folder/file.txt"), "contents");

    ASSERT_TRUE(drive->unmount());
    EXPECT_FALSE(mountTableMentions(mountPoint));
    EXPECT_FALSE(loopAttachedTo(image));
    EXPECT_FALSE(QFile::exists(mountPoint + QStringLiteral("/folder/file.txt")));

    // What the driver wrote is on the image: it mounts again with the file in it.
    ASSERT_TRUE(drive->mount(true, &whyNot)) << whyNot.toStdString();
    EXPECT_EQ(testsupport::readFile(mountPoint + QStringLiteral("/folder/file.txt")), QByteArray("contents"));
}

INSTANTIATE_TEST_SUITE_P(AllWritableKinds, DriveImageKindTest,
    ::testing::Values(DriveImage::FileSystem::Ext4, DriveImage::FileSystem::ExFat, DriveImage::FileSystem::Ntfs),
    [](const ::testing::TestParamInfo<DriveImage::FileSystem> &param) {
        switch (param.param) {
        case DriveImage::FileSystem::Ext4:
            return std::string("ext4");
        case DriveImage::FileSystem::ExFat:
            return std::string("exfat");
        case DriveImage::FileSystem::Ntfs:
            return std::string("ntfs");
        case DriveImage::FileSystem::Fat32:
            break;
        }
        return std::string("fat32");
    });

TEST(DriveImageTest, ReadOnlyExt4RefusesWrites)
{
    QString whyNot;
    auto drive = DriveImage::create(DriveImage::FileSystem::Ext4, 32, &whyNot);
    ASSERT_TRUE(drive) << whyNot.toStdString();
    if (!drive->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    testsupport::writeFile(drive->mountPoint() + QStringLiteral("/kept"), "kept");
    ASSERT_TRUE(drive->remountReadOnly(&whyNot)) << whyNot.toStdString();
    QFile file(drive->mountPoint() + QStringLiteral("/new"));
    EXPECT_FALSE(file.open(QIODevice::WriteOnly));
    EXPECT_EQ(testsupport::readFile(drive->mountPoint() + QStringLiteral("/kept")), QByteArray("kept"));
}

TEST(DriveImageTest, Fat32ImagesAreBuiltWithMtoolsAndReadThroughFuse)
{
    QString whyNot;
    auto drive = DriveImage::create(DriveImage::FileSystem::Fat32, 64, &whyNot);
    if (!drive)
        GTEST_SKIP() << whyNot.toStdString();
    const QString local = testsupport::testHome() + QStringLiteral("/fat-source.txt");
    testsupport::writeFile(local, "on fat");
    ASSERT_TRUE(drive->fatMakeFolder(QStringLiteral("/Music")));
    ASSERT_TRUE(drive->fatCopyIn(local, QStringLiteral("/Music/song.txt")));
    EXPECT_EQ(drive->fatList(QStringLiteral("/Music")), QStringList { QStringLiteral("song.txt") });

    if (!drive->mount(true, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    EXPECT_EQ(testsupport::readFile(drive->mountPoint() + QStringLiteral("/Music/song.txt")), QByteArray("on fat"));
}

// A mount that fails on a machine that can mount drives of that kind is a fault to report, not
// a missing capability: the test that asked for the drive fails even if it goes on to skip.
DriveImage *g_brokenDrive = nullptr;
QString g_brokenWhyNot;

TEST(DriveImageTest, AMountThatFailsWhereMountingWorksFailsTheTest)
{
    if (const QString reason = DriveImage::unavailableReason(DriveImage::FileSystem::Ext4); !reason.isEmpty())
        GTEST_SKIP() << reason.toStdString();
    QString whyNot;
    auto drive = DriveImage::create(DriveImage::FileSystem::Ext4, 16, &whyNot);
    ASSERT_TRUE(drive) << whyNot.toStdString();
    // Zeros over the superblock: the kernel finds no file system to mount.
    QFile image(drive->imagePath());
    ASSERT_TRUE(image.open(QIODevice::ReadWrite));
    const QByteArray zeros(4 * 1024 * 1024, '\0');
    ASSERT_EQ(image.write(zeros), zeros.size());
    image.close();

    g_brokenDrive = drive.get();
    EXPECT_NONFATAL_FAILURE(g_brokenDrive->mount(false, &g_brokenWhyNot), "failed although this machine can make");
    EXPECT_FALSE(drive->isMounted());
    EXPECT_TRUE(g_brokenWhyNot.contains(QStringLiteral("mount"))) << g_brokenWhyNot.toStdString();
    g_brokenDrive = nullptr;
}

} // namespace
