// Writing a file into a drive's root: complete or not at all, and never through a link the
// drive carries.
#include "agent/settings/PMDriveFileWriter.h"

#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <optional>

namespace {

class DriveFileWriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_drive.isValid());
        ASSERT_TRUE(m_outside.isValid());
    }
    QString onDrive(const QString &name) const { return m_drive.filePath(name); }
    QStringList driveEntries() const
    {
        return QDir(m_drive.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    QTemporaryDir m_drive;
    QTemporaryDir m_outside;
};

TEST_F(DriveFileWriterTest, ReplacesTheFileWholeWithThePermissionsAskedFor)
{
    testsupport::writeFile(onDrive(QStringLiteral("settings")), "old contents, longer than the new");
    const auto outcome = PMDriveFileWriter::write(m_drive.path(), QStringLiteral("settings"), "new", 0666);
    EXPECT_EQ(outcome.result, PMDriveFileWriter::Result::Written);
    EXPECT_TRUE(outcome.permissionsSet);
    EXPECT_EQ(testsupport::readFile(onDrive(QStringLiteral("settings"))), QByteArray("new"));
    struct stat info { };
    ASSERT_EQ(::stat(QFile::encodeName(onDrive(QStringLiteral("settings"))).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666u) << "the umask does not narrow a file meant to be shared";
    EXPECT_EQ(driveEntries(), QStringList { QStringLiteral("settings") }) << "no temporary file is left";
}

TEST_F(DriveFileWriterTest, ALinkInPlaceOfTheFileIsReplacedNeverWrittenThrough)
{
    const QString victim = m_outside.filePath(QStringLiteral("victim"));
    testsupport::writeFile(victim, "the user's own file");
    ASSERT_TRUE(QFile::link(victim, onDrive(QStringLiteral("settings"))));
    const auto replaced = PMDriveFileWriter::write(m_drive.path(), QStringLiteral("settings"), "ours", 0644);
    EXPECT_EQ(replaced.result, PMDriveFileWriter::Result::Written);
    EXPECT_EQ(testsupport::readFile(victim), QByteArray("the user's own file"));
    EXPECT_FALSE(QFileInfo(onDrive(QStringLiteral("settings"))).isSymLink());
    EXPECT_EQ(testsupport::readFile(onDrive(QStringLiteral("settings"))), QByteArray("ours"));

    // A dangling link where a copy is to be kept: nothing is created at its target.
    const QString wouldBeCreated = m_outside.filePath(QStringLiteral("created"));
    ASSERT_TRUE(QFile::link(wouldBeCreated, onDrive(QStringLiteral("kept"))));
    const auto kept = PMDriveFileWriter::write(
        m_drive.path(), QStringLiteral("kept"), "copy", 0644, PMDriveFileWriter::Mode::KeepExisting);
    EXPECT_EQ(kept.result, PMDriveFileWriter::Result::Failed);
    EXPECT_EQ(kept.error, EEXIST);
    EXPECT_FALSE(QFileInfo::exists(wouldBeCreated));
    EXPECT_TRUE(QFileInfo(onDrive(QStringLiteral("kept"))).isSymLink());
    EXPECT_EQ(driveEntries(), (QStringList { QStringLiteral("kept"), QStringLiteral("settings") }));
}

TEST_F(DriveFileWriterTest, KeepExistingNeverReplacesAFile)
{
    testsupport::writeFile(onDrive(QStringLiteral("kept")), "first");
    const auto outcome = PMDriveFileWriter::write(
        m_drive.path(), QStringLiteral("kept"), "second", 0644, PMDriveFileWriter::Mode::KeepExisting);
    EXPECT_EQ(outcome.result, PMDriveFileWriter::Result::Failed);
    EXPECT_EQ(outcome.error, EEXIST);
    EXPECT_EQ(testsupport::readFile(onDrive(QStringLiteral("kept"))), QByteArray("first"));
    EXPECT_EQ(driveEntries(), QStringList { QStringLiteral("kept") });
}

TEST_F(DriveFileWriterTest, NamesLeadingOutOfTheRootAreRefused)
{
    for (const QString &name :
        { QStringLiteral("../escape"), QStringLiteral(".."), QStringLiteral("a/b"), QString() }) {
        SCOPED_TRACE(name.toStdString());
        const auto outcome = PMDriveFileWriter::write(m_drive.path(), name, "x", 0644);
        EXPECT_EQ(outcome.result, PMDriveFileWriter::Result::Failed);
        EXPECT_EQ(outcome.error, EINVAL);
    }
    EXPECT_TRUE(driveEntries().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(m_drive.path()).dir().filePath(QStringLiteral("escape"))));
}

TEST_F(DriveFileWriterTest, NothingIsWrittenOnceTheRootIsAnotherFileSystem)
{
    struct stat drive { };
    ASSERT_EQ(::stat(QFile::encodeName(m_drive.path()).constData(), &drive), 0);
    // The drive as it was found; then another file system takes its place at the same path,
    // as the computer's own folder does when a drive goes away.
    const std::optional<dev_t> found = drive.st_dev;
    QString output;
    if (!testsupport::DriveImage::run(QStringLiteral("mount"),
            { QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("tmpfs"), m_drive.path() }, &output))
        GTEST_SKIP() << "cannot mount a tmpfs here: " << output.toStdString();
    const auto refused = PMDriveFileWriter::write(
        m_drive.path(), QStringLiteral("settings"), "new", 0666, PMDriveFileWriter::Mode::Replace, found);
    const QStringList onOtherFileSystem = driveEntries();
    EXPECT_TRUE(testsupport::DriveImage::run(QStringLiteral("umount"), { m_drive.path() }));
    EXPECT_EQ(refused.result, PMDriveFileWriter::Result::Failed);
    EXPECT_EQ(refused.error, ENODEV);
    EXPECT_TRUE(onOtherFileSystem.isEmpty()) << onOtherFileSystem.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(driveEntries().isEmpty());

    // Back on its own file system the same write goes through.
    const auto written = PMDriveFileWriter::write(
        m_drive.path(), QStringLiteral("settings"), "new", 0666, PMDriveFileWriter::Mode::Replace, found);
    EXPECT_EQ(written.result, PMDriveFileWriter::Result::Written);
    EXPECT_EQ(testsupport::readFile(onDrive(QStringLiteral("settings"))), QByteArray("new"));
}

} // namespace
