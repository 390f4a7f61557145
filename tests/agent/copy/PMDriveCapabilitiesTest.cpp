// What the probe learns of real drives: ext4 keeps every kind of metadata, exFAT none, and
// ntfs-3g (mounted without its permission options) only extended attributes; the two FUSE
// drives are written in large requests and hold no inode flags; the scratch file is gone
// afterwards.
#include "CopyTestSupport.h"

#include "agent/copy/PMDriveCapabilities.h"
#include "agent/copy/PMUniqueFd.h"
#include "support/DriveImage.h"

#include <QDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <ostream>
#include <unistd.h>

namespace {

using testsupport::DriveImage;

struct Kept {
    DriveImage::FileSystem fileSystem;
    const char *name;
    bool owner;
    bool mode;
    bool extendedAttributes;
    bool accessLists;
    bool largeWrites;
    bool flags;
};

void PrintTo(const Kept &kept, std::ostream *stream)
{
    *stream << kept.name;
}

class PMDriveCapabilitiesTest : public ::testing::TestWithParam<Kept> { };

TEST_P(PMDriveCapabilitiesTest, ProbeTellsWhatTheDriveKeepsAndLeavesNothingBehind)
{
    const Kept expected = GetParam();
    QString whyNot;
    const auto drive = DriveImage::create(expected.fileSystem, 64, &whyNot);
    if (!drive || !drive->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    // Ownership is only tried for real with the privilege to give a file away.
    if (expected.owner && ::geteuid() != 0)
        GTEST_SKIP() << "needs root to tell whether the drive keeps owners";
    const QString folder = copytest::join(drive->mountPoint(), QStringLiteral("Backup"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const PMUniqueFd folderFd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(folderFd.isValid());

    const PMDriveCapabilities kept = PMDriveCapabilities::probe(folderFd.get());

    EXPECT_TRUE(kept.known());
    EXPECT_EQ(kept.keepsOwner(), expected.owner);
    EXPECT_EQ(kept.keepsMode(), expected.mode);
    EXPECT_EQ(kept.keepsExtendedAttributes(), expected.extendedAttributes);
    EXPECT_EQ(kept.keepsAccessLists(), expected.accessLists);
    EXPECT_EQ(kept.prefersLargeWrites(), expected.largeWrites);
    EXPECT_EQ(kept.keepsFlags(), expected.flags);
    EXPECT_TRUE(
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Drives, PMDriveCapabilitiesTest,
    ::testing::Values(Kept { DriveImage::FileSystem::Ext4, "ext4", true, true, true, true, false, true },
        Kept { DriveImage::FileSystem::Ntfs, "ntfs", false, false, true, false, true, false },
        Kept { DriveImage::FileSystem::ExFat, "exfat", false, false, false, false, true, false }),
    [](const ::testing::TestParamInfo<Kept> &param) { return std::string(param.param.name); });

TEST(PMDriveCapabilitiesUnknownTest, WithoutAScratchFileEverythingIsAssumedKeptAndNothingLearnt)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = copytest::join(dir.path(), QStringLiteral("file"));
    testsupport::writeFile(file, "x");
    // A file where a folder is expected: no scratch file can be made below it.
    const PMUniqueFd notAFolder(::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(notAFolder.isValid());

    const PMDriveCapabilities kept = PMDriveCapabilities::probe(notAFolder.get());

    EXPECT_FALSE(kept.known());
    EXPECT_TRUE(kept.keepsOwner());
    EXPECT_TRUE(kept.keepsMode());
    EXPECT_TRUE(kept.keepsExtendedAttributes());
    EXPECT_TRUE(kept.keepsAccessLists());
    EXPECT_FALSE(kept.prefersLargeWrites());
    EXPECT_TRUE(kept.keepsFlags());
}

} // namespace
