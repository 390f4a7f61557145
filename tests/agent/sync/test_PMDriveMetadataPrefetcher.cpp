// The read-ahead of a drive's folders: every entry below them is examined once, links are
// not followed, missing folders are passed over, and stopping ends the walk.
#include "agent/sync/PMDriveMetadataPrefetcher.h"

#include "support/TestEnvironment.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(PMDriveMetadataPrefetcher, ExaminesEveryEntryBelowTheFoldersWithoutFollowingLinks)
{
    QTemporaryDir drive;
    QTemporaryDir elsewhere;
    // Inside: Music/, Music/a.mp3, Music/Album/, Music/Album/b.mp3, Music/Album/Deeper/,
    // Music/Album/Deeper/c.mp3, Music/out (a link) = 6 below Music; Movies/m.mov = 1 below Movies.
    testsupport::writeFile(drive.filePath(QStringLiteral("Music/a.mp3")), "a");
    testsupport::writeFile(drive.filePath(QStringLiteral("Music/Album/b.mp3")), "b");
    testsupport::writeFile(drive.filePath(QStringLiteral("Music/Album/Deeper/c.mp3")), "c");
    testsupport::writeFile(drive.filePath(QStringLiteral("Movies/m.mov")), "m");
    for (const char *name : { "x", "y", "z" })
        testsupport::writeFile(elsewhere.filePath(QLatin1String(name)), name);
    ASSERT_TRUE(QFile::link(elsewhere.path(), drive.filePath(QStringLiteral("Music/out"))));

    PMDriveMetadataPrefetcher prefetch({ drive.filePath(QStringLiteral("Music")),
        drive.filePath(QStringLiteral("Missing")), drive.filePath(QStringLiteral("Movies")) });
    EXPECT_TRUE(testsupport::waitFor([&] { return prefetch.examinedCount() >= 7; }));
    prefetch.stop();
    EXPECT_EQ(prefetch.examinedCount(), 7u);
}

TEST(PMDriveMetadataPrefetcher, StoppingEndsAWalkOfAnyLengthAndNothingIsChanged)
{
    QTemporaryDir drive;
    for (int folder = 0; folder < 20; ++folder)
        for (int file = 0; file < 20; ++file)
            testsupport::writeFile(drive.filePath(QStringLiteral("F%1/f%2").arg(folder).arg(file)), "x");
    {
        PMDriveMetadataPrefetcher stoppedAtOnce({ drive.path() });
        stoppedAtOnce.stop();
        EXPECT_LE(stoppedAtOnce.examinedCount(), 420u);
    }
    PMDriveMetadataPrefetcher whole({ drive.path() });
    EXPECT_TRUE(testsupport::waitFor([&] { return whole.examinedCount() == 420u; }));
    whole.stop();
    EXPECT_EQ(testsupport::readFile(drive.filePath(QStringLiteral("F3/f7"))), QByteArray("x"));
}

} // namespace
