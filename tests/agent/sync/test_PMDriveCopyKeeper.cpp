// The drive's copy of a conflict, kept under a clear name beside the file it was: the names
// it takes, and that the rename stays on the drive and in the file's own folder.
#include "agent/sync/PMDriveCopyKeeper.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QDateTime kEdited = QDateTime::fromSecsSinceEpoch(1796745120); // a time with minutes
const QString kStamp = kEdited.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HHmm"));

TEST(PMDriveCopyKeeper, TheKeptNameKeepsTheExtensionAndAHiddenNamesDot)
{
    EXPECT_EQ(PMDriveCopyKeeper::keptName(QStringLiteral("Song.mp3"), kEdited),
        QStringLiteral("Song (drive copy %1).mp3").arg(kStamp));
    EXPECT_EQ(PMDriveCopyKeeper::keptName(QStringLiteral("Song.mp3"), kEdited, 3),
        QStringLiteral("Song (drive copy %1) 3.mp3").arg(kStamp));
    EXPECT_EQ(PMDriveCopyKeeper::keptName(QStringLiteral("README"), kEdited),
        QStringLiteral("README (drive copy %1)").arg(kStamp));
    EXPECT_EQ(PMDriveCopyKeeper::keptName(QStringLiteral(".profile"), kEdited),
        QStringLiteral(".profile (drive copy %1)").arg(kStamp));
    EXPECT_EQ(PMDriveCopyKeeper::keptName(QStringLiteral("a.tar.gz"), kEdited),
        QStringLiteral("a.tar (drive copy %1).gz").arg(kStamp));

    // A name near the file system's limit is shortened before the mark, never past 255 bytes.
    const QString longName = QString(250, QChar(0x00E9)) + QStringLiteral(".mp3");
    const QString kept = PMDriveCopyKeeper::keptName(longName, kEdited, 12);
    EXPECT_LE(kept.toUtf8().size(), 255);
    EXPECT_TRUE(kept.endsWith(QStringLiteral(" (drive copy %1) 12.mp3").arg(kStamp))) << kept.toStdString();
}

TEST(PMDriveCopyKeeper, RenamesBesideTheFileAndTakesTheNextFreeName)
{
    QTemporaryDir drive;
    testsupport::writeFile(drive.filePath(QStringLiteral("u/Music/a.mp3")), "drive's edit");
    testsupport::writeFile(drive.filePath(QStringLiteral("u/Music/a (drive copy %1).mp3").arg(kStamp)), "older");

    const QString kept
        = PMDriveCopyKeeper::keep(drive.path(), drive.filePath(QStringLiteral("u/Music/a.mp3")), kEdited);

    EXPECT_EQ(kept, drive.filePath(QStringLiteral("u/Music/a (drive copy %1) 2.mp3").arg(kStamp)));
    EXPECT_EQ(testsupport::readFile(kept), QByteArray("drive's edit"));
    EXPECT_FALSE(QFileInfo::exists(drive.filePath(QStringLiteral("u/Music/a.mp3"))));
    EXPECT_EQ(testsupport::readFile(drive.filePath(QStringLiteral("u/Music/a (drive copy %1).mp3").arg(kStamp))),
        QByteArray("older"));
}

TEST(PMDriveCopyKeeper, NeverFollowsALinkOnTheWayNorLeavesTheDrive)
{
    QTemporaryDir drive;
    QTemporaryDir outside;
    testsupport::writeFile(outside.filePath(QStringLiteral("a.mp3")), "not the drive's");
    QDir().mkpath(drive.filePath(QStringLiteral("u")));
    ASSERT_TRUE(QFile::link(outside.path(), drive.filePath(QStringLiteral("u/Music"))));

    EXPECT_TRUE(
        PMDriveCopyKeeper::keep(drive.path(), drive.filePath(QStringLiteral("u/Music/a.mp3")), kEdited).isNull());
    EXPECT_TRUE(PMDriveCopyKeeper::keep(drive.path(), outside.filePath(QStringLiteral("a.mp3")), kEdited).isNull());
    EXPECT_TRUE(
        PMDriveCopyKeeper::keep(drive.path(), drive.filePath(QStringLiteral("u/../../a.mp3")), kEdited).isNull());
    EXPECT_EQ(QDir(outside.path()).entryList(QDir::Files), QStringList { QStringLiteral("a.mp3") });
}

} // namespace
