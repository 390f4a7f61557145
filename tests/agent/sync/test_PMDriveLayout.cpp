#include "agent/sync/PMDriveLayout.h"

#include "platform/PlatformPaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

PMDriveLayout layout(const QString &mountPoint, const QString &user = QStringLiteral("alice"),
                     const QString &computer = QStringLiteral("Studio"), const QString &id = QStringLiteral("001B638445E6-501"))
{
    return PMDriveLayout(mountPoint, {user, computer, id, QStringLiteral("UUID-1"), QStringLiteral("/home/alice")});
}

} // namespace

TEST(PMDriveLayout, ItemsLandInTheComputerUsersFolder)
{
    const PMDriveLayout l = layout(QStringLiteral("/media/alice/Drive"));
    EXPECT_EQ(l.pathSegmentFromSyncItem(QStringLiteral("~/Music/iTunes")), QStringLiteral("alice_Studio/Music/iTunes"));
    EXPECT_EQ(l.drivePathForSyncItem(QStringLiteral("~/Music")).value_or(QString()),
              QStringLiteral("/media/alice/Drive/alice_Studio/Music"));
    EXPECT_EQ(l.drivePathForSyncItem(QStringLiteral("/srv/shared/Photos")).value_or(QString()),
              QStringLiteral("/media/alice/Drive/srv/shared/Photos"));
    EXPECT_EQ(l.localPathForSyncItem(QStringLiteral("~/Music")), QStringLiteral("/home/alice/Music"));
    EXPECT_EQ(l.localPathForSyncItem(QStringLiteral("srv/x")), QStringLiteral("/srv/x"));
    EXPECT_EQ(l.syncItemForLocalPath(QStringLiteral("/home/alice/Music/a.mp3")), QStringLiteral("~/Music/a.mp3"));
    EXPECT_EQ(l.syncItemForLocalPath(QStringLiteral("/home/alice2/x")), QStringLiteral("/home/alice2/x"));
}

TEST(PMDriveLayout, AnItemOnAnotherVolumeIsNamedAfterThatVolumeAndTheComputer)
{
    const QString volumeRoot = platform::PlatformPaths::volumeRoots().first();
    const PMDriveLayout l = layout(QStringLiteral("/mnt/backup"));
    EXPECT_EQ(l.pathSegmentFromSyncItem(volumeRoot + QStringLiteral("/Photos/2010")), QStringLiteral("/Photos_Studio/2010"));
    EXPECT_EQ(l.drivePathForSyncItem(volumeRoot + QStringLiteral("/Photos/2010")).value_or(QString()),
              QStringLiteral("/mnt/backup/Photos_Studio/2010"));
}

TEST(PMDriveLayout, TwoComputerUsersNeverShareFolders)
{
    const PMDriveLayout first = layout(QStringLiteral("/d"), QStringLiteral("alice"), QStringLiteral("Studio"),
                                       QStringLiteral("AAAAAAAAAAAA-501"));
    const PMDriveLayout secondComputer = layout(QStringLiteral("/d"), QStringLiteral("alice"), QStringLiteral("Laptop"),
                                                QStringLiteral("BBBBBBBBBBBB-501"));
    const PMDriveLayout secondUser = layout(QStringLiteral("/d"), QStringLiteral("bob"), QStringLiteral("Studio"),
                                            QStringLiteral("AAAAAAAAAAAA-502"));
    EXPECT_EQ(first.pathForTavrinTemp(), QStringLiteral("/d/alice_Studio/.Z_PM_W/AAAAAAAAAAAA-501"));
    EXPECT_EQ(first.pathForLocalTemp(), QStringLiteral("/home/alice/.Z_PM_W/UUID-1"));
    for (const PMDriveLayout *other : {&secondComputer, &secondUser}) {
        EXPECT_NE(first.pathForTavrinTemp(), other->pathForTavrinTemp());
        EXPECT_NE(first.drivePathForSyncItem(QStringLiteral("~/Music")), other->drivePathForSyncItem(QStringLiteral("~/Music")));
    }
    EXPECT_TRUE(first.pathForScanResults().endsWith(QStringLiteral("_syncscan")));
}

TEST(PMDriveLayout, PathsThatWouldLeaveTheDriveAreRefused)
{
    QTemporaryDir drive;
    QTemporaryDir outside;
    const PMDriveLayout l = layout(drive.path());
    EXPECT_FALSE(l.drivePathForSyncItem(QStringLiteral("~/../../etc")).has_value());
    EXPECT_FALSE(l.drivePathForSyncItem(QStringLiteral("/srv/../../etc/passwd")).has_value());
    EXPECT_FALSE(l.driveTempPathForSyncItem(QStringLiteral("~/./Music")).has_value());

    // A folder on the drive that is a link elsewhere: nothing may be written through it.
    QDir().mkpath(drive.filePath(QStringLiteral("alice_Studio")));
    ASSERT_TRUE(QFile::link(outside.path(), drive.filePath(QStringLiteral("alice_Studio/Music"))));
    EXPECT_FALSE(l.drivePathForSyncItem(QStringLiteral("~/Music/a.mp3")).has_value());
    EXPECT_TRUE(l.drivePathForSyncItem(QStringLiteral("~/Pictures/a.jpg")).has_value()) << "not yet existing is fine";
    EXPECT_FALSE(PMDriveLayout::staysInside(drive.path(), outside.path()));
}
