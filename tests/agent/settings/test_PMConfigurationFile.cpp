#include "agent/log/PMLogController.h"
#include "agent/settings/PMConfigurationFile.h"
#include "platform/PMCorvaneUtilities.h"
#include "platform/PlatformPaths.h"
#include "platform/PropertyList.h"

#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <atomic>
#include <thread>

using platform::PlatformPaths;

namespace {

const QString kAlice = QStringLiteral("0A1B2C3D4E5F-501");
const QString kBob = QStringLiteral("0A1B2C3D4E5F-502");
const QString kCarol = QStringLiteral("112233445566-501");

class ConfigurationFileTest : public ::testing::Test {
protected:
    QString drive() const { return m_drive.path(); }
    QString configPath() const { return m_drive.filePath(PMConfigurationFile::kFileName); }
    std::unique_ptr<PMConfigurationFile> open(
        const QString &user = kAlice, int type = PMConfigurationFile::kSyncTypePerUser) const
    {
        return std::make_unique<PMConfigurationFile>(drive(), type, user);
    }
    QVariantMap onDisk() const { return platform::PropertyList::readFile(configPath()).value_or(QVariant()).toMap(); }
    void writeConfig(const QVariantMap &config) const
    {
        ASSERT_TRUE(platform::PropertyList::writeFile(configPath(), config));
    }
    static QVariantMap ptopEntry(const QVariantMap &config, const QString &user)
    {
        return config.value(PMConfigurationFile::kPtopListKey).toMap().value(user).toMap();
    }
    static QString logText() { return PMLogController::sharedInstance().contents(); }
    // The copies set aside of files replaced without being understood.
    QStringList keptCopies() const
    {
        return QDir(drive()).entryList(
            { PMConfigurationFile::kFileName + QStringLiteral(".corrupt-*") }, QDir::Files | QDir::Hidden);
    }

    QTemporaryDir m_drive;
};

// A current file shared by two users of one computer and a user of another computer, with a
// key this version does not know.
QVariantMap sharedDriveConfig()
{
    QVariantMap ptop { { kBob,
                           QVariantMap { { QStringLiteral("sync-path"), QStringLiteral("Bob's Mac") },
                               { QStringLiteral("items-to-sync"), QVariantList { QStringLiteral("~/Music") } } } },
        { kCarol,
            QVariantMap { { QStringLiteral("sync-path"), QStringLiteral("Carol's Mac") },
                { QStringLiteral("items-to-sync"), QVariantList { QStringLiteral("/data") } } } } };
    return { { QStringLiteral("config-version"), 3 }, { QStringLiteral("sync-type"), QStringLiteral("ptop") },
        { QStringLiteral("ptop-list"), ptop }, { QStringLiteral("sync-user-list"), QVariantList { kBob, kCarol } },
        { QStringLiteral("future-key"), QVariantMap { { QStringLiteral("x"), 1 } } },
        { kBob, QVariantMap { { QStringLiteral("local-participate-in-sync"), true } } },
        { kCarol,
            QVariantMap { { QStringLiteral("local-participate-in-sync"), false },
                { QStringLiteral("local-sync-movies"), false } } } };
}

} // namespace

TEST_F(ConfigurationFileTest, ADriveWithoutTheFileGetsNothingWrittenUntilAChange)
{
    auto config = open();
    EXPECT_FALSE(config->hasSyncConfiguration());
    EXPECT_FALSE(config->hasOldSyncFormat());
    EXPECT_FALSE(config->syncItemList().has_value());
    EXPECT_TRUE(config->isSyncMoviesEnabledForUser());
    EXPECT_FALSE(QFileInfo::exists(configPath())) << "reading must not create the file";

    ASSERT_TRUE(config->setSyncItemList(QStringList { QStringLiteral("~/Movies"), QStringLiteral("/srv/media") }));
    EXPECT_TRUE(config->hasSyncConfiguration());
    const QVariantMap stored = onDisk();
    EXPECT_EQ(stored.value(QStringLiteral("config-version")).toInt(), 3);
    EXPECT_EQ(stored.value(QStringLiteral("sync-type")).toString(), QStringLiteral("ptop"));
    const QVariantMap entry = ptopEntry(stored, kAlice);
    EXPECT_EQ(entry.value(QStringLiteral("items-to-sync")).toStringList(),
        (QStringList { QStringLiteral("~/Movies"), QStringLiteral("/srv/media") }));
    EXPECT_EQ(entry.value(QStringLiteral("sync-path")).toString(), PMCorvaneUtilities::stringWithMachineName());
    EXPECT_TRUE(testsupport::readFile(configPath()).startsWith("<?xml")) << "the file is an XML property list";
    struct stat info { };
    ASSERT_EQ(::stat(QFile::encodeName(configPath()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666u);

    auto reread = open();
    EXPECT_TRUE(reread->hasSyncConfiguration());
    EXPECT_EQ(reread->syncItemList(), (QStringList { QStringLiteral("~/Movies"), QStringLiteral("/srv/media") }));
    EXPECT_EQ(reread->syncTargetPath(),
        QDir(PMCorvaneUtilities::stringWithHostname()).filePath(PMCorvaneUtilities::stringWithMachineName()));
}

TEST_F(ConfigurationFileTest, TheOldFormatIsReadAndConvertedToCopyToCopy)
{
    const QString uuid = QStringLiteral("5C1A-UUID");
    const QString localTemp = PlatformPaths::homeDirectory() + QStringLiteral("/.Z_PM_W/") + uuid;
    const QString globalTemp = drive() + QStringLiteral("/Pellmere/.Z_PM_W/") + uuid;
    testsupport::writeFile(localTemp + QStringLiteral("/leftover"), "x");
    testsupport::writeFile(globalTemp + QStringLiteral("/leftover"), "x");
    writeConfig({ { QStringLiteral("config-version"), 2 }, { QStringLiteral("tavrin-uuid"), uuid },
        { QStringLiteral("tavrin-items-to-sync"), QVariantList { QStringLiteral("~/Music"), QStringLiteral("/x") } } });

    auto config = open();
    EXPECT_TRUE(config->hasOldSyncFormat());
    EXPECT_FALSE(config->hasSyncConfiguration());
    EXPECT_EQ(config->oldSyncItemList(), (QStringList { QStringLiteral("~/Music"), QStringLiteral("/x") }));

    EXPECT_TRUE(config->convertOldSync());
    EXPECT_FALSE(config->hasOldSyncFormat());
    const QVariantMap stored = onDisk();
    EXPECT_EQ(stored.value(QStringLiteral("config-version")).toInt(), 3);
    EXPECT_EQ(stored.value(QStringLiteral("sync-type")).toString(), QStringLiteral("ctoc"));
    EXPECT_EQ(stored.value(QStringLiteral("items-to-sync")).toStringList(),
        (QStringList { QStringLiteral("~/Music"), QStringLiteral("/x") }));
    EXPECT_FALSE(stored.contains(QStringLiteral("tavrin-items-to-sync")));
    EXPECT_FALSE(QFileInfo::exists(localTemp));
    EXPECT_FALSE(QFileInfo::exists(globalTemp));

    EXPECT_TRUE(keptCopies().isEmpty()) << "a converted file needs no copy";

    auto copyToCopy = open(kAlice, PMConfigurationFile::kSyncTypeCopyToCopy);
    EXPECT_TRUE(copyToCopy->hasSyncConfiguration());
    EXPECT_EQ(copyToCopy->syncItemList(), (QStringList { QStringLiteral("~/Music"), QStringLiteral("/x") }));
}

TEST_F(ConfigurationFileTest, AnOldFileWithoutVersionNamingAPathAsUuidDeletesNothingOutside)
{
    const QString victim = PlatformPaths::homeDirectory() + QStringLiteral("/keep-me");
    testsupport::writeFile(victim + QStringLiteral("/file"), "x");
    writeConfig({ { QStringLiteral("tavrin-uuid"), QStringLiteral("../keep-me") },
        { QStringLiteral("tavrin-items-to-sync"), QVariantList() } });
    auto config = open();
    ASSERT_TRUE(config->hasOldSyncFormat()) << "a file without a version is the old format";
    EXPECT_TRUE(config->convertOldSync());
    EXPECT_TRUE(QFileInfo::exists(victim + QStringLiteral("/file")));
}

TEST_F(ConfigurationFileTest, AnOldFilesTemporaryFolderBehindALinkOnTheDriveIsLeftAlone)
{
    // The drive's folder of the old layout leads into the computer's home, where a folder
    // happens to carry the name the old file gives as its uuid.
    QTemporaryDir computer;
    testsupport::writeFile(computer.filePath(QStringLiteral(".Z_PM_W/Documents/report.txt")), "the user's report");
    ASSERT_TRUE(QFile::link(computer.path(), drive() + QStringLiteral("/Pellmere")));
    writeConfig(
        { { QStringLiteral("config-version"), 2 }, { QStringLiteral("tavrin-uuid"), QStringLiteral("Documents") },
            { QStringLiteral("tavrin-items-to-sync"), QVariantList { QStringLiteral("~/Music") } } });

    auto config = open();
    ASSERT_TRUE(config->hasOldSyncFormat());
    EXPECT_TRUE(config->convertOldSync());
    EXPECT_EQ(testsupport::readFile(computer.filePath(QStringLiteral(".Z_PM_W/Documents/report.txt"))),
        QByteArray("the user's report"));
    EXPECT_TRUE(QFileInfo(drive() + QStringLiteral("/Pellmere")).isSymLink());
}

TEST_F(ConfigurationFileTest, PerUserConfigurationNeedsAnEntryForThisUser)
{
    writeConfig(sharedDriveConfig());
    EXPECT_FALSE(open(kAlice)->hasSyncConfiguration());
    EXPECT_FALSE(open(kAlice)->syncItemList().has_value());
    EXPECT_TRUE(open(kBob)->hasSyncConfiguration());
    EXPECT_EQ(open(kBob)->syncItemList(), QStringList { QStringLiteral("~/Music") });
    EXPECT_TRUE(open(kAlice, PMConfigurationFile::kSyncTypeCopyToCopy)->hasSyncConfiguration());
    EXPECT_EQ(
        open(kAlice, PMConfigurationFile::kSyncTypeCopyToCopy)->configSyncUserList(), (QStringList { kBob, kCarol }));
    EXPECT_EQ(open(kAlice)->syncTargetPath(), PMCorvaneUtilities::stringWithHostname());
    EXPECT_EQ(open(kBob)->syncTargetPath(),
        QDir(PMCorvaneUtilities::stringWithHostname()).filePath(QStringLiteral("Bob's Mac")));
}

TEST_F(ConfigurationFileTest, RemovingTheListRemovesOnlyThisUsersEntry)
{
    writeConfig(sharedDriveConfig());
    auto bob = open(kBob);
    ASSERT_TRUE(bob->setSyncItemList(std::nullopt));
    EXPECT_FALSE(bob->hasSyncConfiguration());
    const QVariantMap stored = onDisk();
    const QVariantMap ptop = stored.value(QStringLiteral("ptop-list")).toMap();
    EXPECT_FALSE(ptop.contains(kBob));
    EXPECT_TRUE(ptop.contains(kCarol));
    EXPECT_TRUE(stored.contains(kBob)) << "the settings stay; only the list entry goes";
}

TEST_F(ConfigurationFileTest, AbsentPerUserKeysReadAsTheirDefaultsAndSettersNeverCreateTheUser)
{
    writeConfig({ { QStringLiteral("config-version"), 3 }, { QStringLiteral("sync-type"), QStringLiteral("ptop") },
        { QStringLiteral("ptop-list"), QVariantMap() }, { kAlice, QVariantMap() } });
    auto config = open();
    EXPECT_TRUE(config->isSyncMoviesEnabledForUser());
    EXPECT_TRUE(config->isSyncMusicEnabledForUser());
    EXPECT_TRUE(config->isSyncPicturesEnabledForUser());
    EXPECT_FALSE(config->isSyncDocumentsEnabledForUser());
    EXPECT_FALSE(config->isParticipatingEnabledForUser());
    EXPECT_FALSE(config->isContinuousEnabledForUser());
    EXPECT_FALSE(config->isQuietEnabledForUser());
    EXPECT_EQ(config->getSyncDeviceFilterForUser(), 0);
    EXPECT_EQ(config->getSyncMediaDeviceTargetForUser(), 0);
    EXPECT_FALSE(config->lastSyncDateForUser().isValid());
    EXPECT_TRUE(config->hasUserSeenDevice());

    const QDateTime when(QDate(2013, 3, 3), QTime(10, 4, 5), QTimeZone::utc());
    config->setSyncMoviesEnabledForUser(false);
    config->setSyncDocumentsEnabledForUser(true);
    config->setSyncDeviceFilterForUser(5);
    config->setLastSyncDateForUser(when);
    auto reread = open();
    EXPECT_FALSE(reread->isSyncMoviesEnabledForUser());
    EXPECT_TRUE(reread->isSyncDocumentsEnabledForUser());
    EXPECT_EQ(reread->getSyncDeviceFilterForUser(), 5);
    EXPECT_EQ(reread->lastSyncDateForUser(), when);
    EXPECT_EQ(reread->computerNameForUniqueHostID(kAlice), PMCorvaneUtilities::stringWithMachineName());

    auto bob = open(kBob);
    EXPECT_FALSE(bob->hasUserSeenDevice());
    bob->setSyncMoviesEnabledForUser(false);
    bob->setParticipatingEnabledForUser(true);
    EXPECT_FALSE(onDisk().contains(kBob)) << "setters must not create another user's settings";
    EXPECT_TRUE(bob->isSyncMoviesEnabledForUser());
    EXPECT_FALSE(bob->isSyncMoviesEnabledForUniqueHostID(kAlice)) << "other users are read with the same keys";
}

TEST_F(ConfigurationFileTest, AddingAndRemovingTheUserKeepsTheListInOrderOfFirstSetup)
{
    writeConfig(sharedDriveConfig());
    auto alice = open(kAlice);
    ASSERT_TRUE(alice->addUserToList());
    ASSERT_TRUE(alice->addUserToList());
    QVariantMap stored = onDisk();
    EXPECT_EQ(stored.value(QStringLiteral("sync-user-list")).toStringList(), (QStringList { kBob, kCarol, kAlice }));
    const QVariantMap settings = stored.value(kAlice).toMap();
    EXPECT_TRUE(settings.value(QStringLiteral("local-sync-documents")).toBool()) << "first setup turns documents on";
    EXPECT_EQ(settings.value(QStringLiteral("local-sync-devicefilters")).toInt(), 1);
    EXPECT_EQ(settings.value(QStringLiteral("sync-user-list")).toStringList(), (QStringList { kBob, kCarol, kAlice }));
    EXPECT_EQ(
        settings.value(QStringLiteral("sync-computer-name")).toString(), PMCorvaneUtilities::stringWithMachineName());

    ASSERT_TRUE(alice->setSyncItemList(QStringList { QStringLiteral("~/Pictures") }));
    ASSERT_TRUE(alice->removeUserFromList());
    stored = onDisk();
    EXPECT_EQ(stored.value(QStringLiteral("sync-user-list")).toStringList(), (QStringList { kBob, kCarol }));
    EXPECT_FALSE(stored.contains(kAlice));
    EXPECT_FALSE(ptopEntry(stored, kAlice).contains(QStringLiteral("items-to-sync")));
    EXPECT_TRUE(stored.contains(kBob));
}

TEST_F(ConfigurationFileTest, WhatOtherComputersWroteSurvivesOurWrites)
{
    writeConfig(sharedDriveConfig());
    auto alice = open(kAlice);
    ASSERT_TRUE(alice->addUserToList());
    ASSERT_TRUE(alice->setSyncItemList(QStringList { QStringLiteral("~/Movies") }));
    const QVariantMap stored = onDisk();
    EXPECT_EQ(stored.value(QStringLiteral("future-key")), sharedDriveConfig().value(QStringLiteral("future-key")));
    EXPECT_EQ(stored.value(kCarol), sharedDriveConfig().value(kCarol));
    EXPECT_EQ(ptopEntry(stored, kCarol), ptopEntry(sharedDriveConfig(), kCarol));
    EXPECT_EQ(ptopEntry(stored, kAlice).value(QStringLiteral("items-to-sync")).toStringList(),
        QStringList { QStringLiteral("~/Movies") });
}

TEST_F(ConfigurationFileTest, TwoComputersWritingTheSameDriveKeepEachOthersChanges)
{
    // Both objects are open at once, as on a network share mounted by two computers.
    auto alice = open(kAlice);
    auto carol = open(kCarol);
    ASSERT_TRUE(alice->addUserToList());
    ASSERT_TRUE(carol->addUserToList());
    ASSERT_TRUE(alice->setSyncItemList(QStringList { QStringLiteral("~/Movies") }));
    ASSERT_TRUE(carol->setSyncItemList(QStringList { QStringLiteral("/photos") }));
    ASSERT_TRUE(alice->setSyncMoviesEnabledForUser(false));

    const QVariantMap stored = onDisk();
    EXPECT_EQ(stored.value(QStringLiteral("sync-user-list")).toStringList(), (QStringList { kAlice, kCarol }));
    EXPECT_EQ(ptopEntry(stored, kAlice).value(QStringLiteral("items-to-sync")).toStringList(),
        QStringList { QStringLiteral("~/Movies") });
    EXPECT_EQ(ptopEntry(stored, kCarol).value(QStringLiteral("items-to-sync")).toStringList(),
        QStringList { QStringLiteral("/photos") });
    EXPECT_FALSE(stored.value(kAlice).toMap().value(QStringLiteral("local-sync-movies")).toBool());
    EXPECT_TRUE(stored.value(kCarol).toMap().value(QStringLiteral("local-sync-movies")).toBool());
    EXPECT_TRUE(alice->hasSyncConfiguration());
    EXPECT_EQ(alice->configSyncUserList(), (QStringList { kAlice, kCarol })) << "the merged file is what we now hold";
}

TEST_F(ConfigurationFileTest, UnreadableFilesAreLoggedAndNeverOverwrittenByReading)
{
    struct Case {
        const char *name;
        QByteArray bytes;
        const char *logged;
    };
    const QByteArray valid = platform::PropertyList::serialize(sharedDriveConfig(), platform::PlistFormat::Xml);
    const std::vector<Case> cases = {
        { "truncated XML", valid.left(valid.size() / 2), "appears to be corrupt" },
        { "array at the root", platform::PropertyList::serialize(QVariantList { 1, 2 }, platform::PlistFormat::Xml),
            "appears to be corrupt" },
        { "empty file", QByteArray(), "Unable to read configuration file" },
        { "too large", QByteArray(PMConfigurationFile::kMaxFileBytes + 1, ' '), "Unable to read configuration file" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::writeFile(configPath(), c.bytes);
        const qsizetype logged = logText().size();
        auto config = open(kBob);
        EXPECT_FALSE(config->hasSyncConfiguration());
        EXPECT_FALSE(config->syncConfigDictionary().has_value());
        EXPECT_TRUE(logText().mid(logged).contains(QString::fromLatin1(c.logged)));
        EXPECT_FALSE(config->setSyncMoviesEnabledForUser(false));
        EXPECT_FALSE(config->setSyncItemList(QStringList { QStringLiteral("~/x") }));
        EXPECT_EQ(testsupport::readFile(configPath()), c.bytes) << "nothing was loaded, so nothing is written";
    }
}

TEST_F(ConfigurationFileTest, ADirectoryALinkOrAPipeAtThePathIsNeitherReadNorWrittenThrough)
{
    ASSERT_TRUE(QDir().mkpath(configPath()));
    const qsizetype logged = logText().size();
    auto config = open();
    EXPECT_FALSE(config->hasSyncConfiguration());
    EXPECT_TRUE(logText().mid(logged).contains(QStringLiteral("A directory exists where the configuration file")));
    EXPECT_FALSE(config->writeConfigFile());
    EXPECT_TRUE(QFileInfo(configPath()).isDir());
    ASSERT_TRUE(QDir(configPath()).removeRecursively());

    QTemporaryDir outside;
    const QString target = outside.filePath(QStringLiteral("user-file"));
    const QByteArray original = platform::PropertyList::serialize(sharedDriveConfig(), platform::PlistFormat::Xml);
    testsupport::writeFile(target, original);
    ASSERT_TRUE(QFile::link(target, configPath()));
    auto linked = open(kBob);
    EXPECT_FALSE(linked->hasSyncConfiguration()) << "a link on a drive may lead anywhere; it is not followed";
    EXPECT_FALSE(linked->createDefaultSyncSet());
    EXPECT_EQ(testsupport::readFile(target), original);
    ASSERT_TRUE(QFile::remove(configPath()));

    ASSERT_EQ(::mkfifo(QFile::encodeName(configPath()).constData(), 0600), 0);
    auto piped = open(); // would block for ever if the pipe were opened for reading
    EXPECT_FALSE(piped->hasSyncConfiguration());
}

TEST_F(ConfigurationFileTest, RemovingTheConfigurationDeletesTrueDeleteRecordsOnThisVolumeOnly)
{
    writeConfig(sharedDriveConfig());
    testsupport::writeFile(drive() + QStringLiteral("/a/.d$f.song.mp3"), "r");
    testsupport::writeFile(drive() + QStringLiteral("/a/b/c/.d$d.Album"), "r");
    testsupport::writeFile(drive() + QStringLiteral("/a/.d$d.folder/inner/file"), "r");
    testsupport::writeFile(drive() + QStringLiteral("/a/song.mp3"), "keep");
    testsupport::writeFile(drive() + QStringLiteral("/a/x.d$f.not-a-prefix"), "keep");
    QTemporaryDir outside;
    testsupport::writeFile(outside.filePath(QStringLiteral(".d$f.outside")), "keep");
    ASSERT_TRUE(QFile::link(outside.path(), drive() + QStringLiteral("/a/link-out")));

    auto bob = open(kBob);
    ASSERT_TRUE(bob->hasSyncConfiguration());
    EXPECT_TRUE(bob->removeSyncConfiguration());
    EXPECT_FALSE(bob->hasSyncConfiguration());
    EXPECT_FALSE(QFileInfo::exists(configPath()));
    EXPECT_FALSE(QFileInfo::exists(drive() + QStringLiteral("/a/.d$f.song.mp3")));
    EXPECT_FALSE(QFileInfo::exists(drive() + QStringLiteral("/a/b/c/.d$d.Album")));
    EXPECT_FALSE(QFileInfo::exists(drive() + QStringLiteral("/a/.d$d.folder")));
    EXPECT_TRUE(QFileInfo::exists(drive() + QStringLiteral("/a/song.mp3")));
    EXPECT_TRUE(QFileInfo::exists(drive() + QStringLiteral("/a/x.d$f.not-a-prefix")));
    EXPECT_TRUE(QFileInfo::exists(outside.filePath(QStringLiteral(".d$f.outside"))))
        << "the walk must not follow a link off the volume";
}

TEST_F(ConfigurationFileTest, ComputerQueriesMatchIdentitiesByTheirComputerPart)
{
    writeConfig(sharedDriveConfig());
    auto config = open(kAlice, PMConfigurationFile::kSyncTypeCopyToCopy);
    EXPECT_TRUE(config->computerWithUniqueIDHasSyncEnabledForDevice(QStringLiteral("0A1B2C3D4E5F"), QString()));
    EXPECT_FALSE(config->computerWithUniqueIDHasSyncEnabledForDevice(QStringLiteral("112233445566"), QString()));
    EXPECT_FALSE(config->computerWithUniqueIDHasSyncEnabledForDevice(QString(), QString()));

    config->removeUsersOfComputerWithUniqueID(QString());
    EXPECT_EQ(config->syncConfigDictionary()->size(), sharedDriveConfig().size())
        << "an empty identity removes nothing";
    config->removeUsersOfComputerWithUniqueID(QStringLiteral("0A1B2C3D4E5F"));
    const QVariantMap left = *config->syncConfigDictionary();
    EXPECT_FALSE(left.contains(kBob));
    EXPECT_TRUE(left.contains(kCarol));
    EXPECT_EQ(onDisk(), sharedDriveConfig()) << "the removal is not written by itself";
    ASSERT_TRUE(config->writeConfigFile());
    EXPECT_FALSE(onDisk().contains(kBob));
}

TEST_F(ConfigurationFileTest, TheDefaultSetHoldsTheMediaFoldersAndLibrariesOutsideThem)
{
    const QString music = PlatformPaths::userFolder(platform::UserFolder::Music);
    const QString pictures = PlatformPaths::userFolder(platform::UserFolder::Pictures);
    const QString prefs = PlatformPaths::preferencesDirectory();
    const QString libraryFile = music + QStringLiteral("/iTunes Music Library.xml");
    const QString iPhotoPrefs = prefs + QStringLiteral("/com.apple.iPhoto.plist");
    const QString boothPrefs = prefs + QStringLiteral("/com.apple.PhotoBooth.plist");
    const QStringList mediaFolders { PlatformPaths::abbreviateWithTilde(
                                         PlatformPaths::userFolder(platform::UserFolder::Movies)),
        PlatformPaths::abbreviateWithTilde(music), PlatformPaths::abbreviateWithTilde(pictures) };

    auto config = open();
    EXPECT_TRUE(config->createDefaultSyncSet());
    EXPECT_EQ(config->syncItemList(), mediaFolders) << "no library files: just the three folders";
    EXPECT_TRUE(mediaFolders.at(0).startsWith(QStringLiteral("~/")));

    QDir().mkpath(music);
    QDir().mkpath(prefs);
    const QString externalMusic = PlatformPaths::homeDirectory() + QStringLiteral("/External Music");
    ASSERT_TRUE(platform::PropertyList::writeFile(libraryFile,
        QVariantMap { { QStringLiteral("Music Folder"), QUrl::fromLocalFile(externalMusic).toString() } }));
    ASSERT_TRUE(platform::PropertyList::writeFile(
        iPhotoPrefs, QVariantMap { { QStringLiteral("LibraryPath"), QStringLiteral("/srv/iPhoto Library") } }));
    ASSERT_TRUE(platform::PropertyList::writeFile(boothPrefs,
        QVariantMap { { QStringLiteral("LibraryPath"), QString(pictures + QStringLiteral("/Photo Booth")) } }));

    auto again = open(kBob);
    EXPECT_TRUE(again->createDefaultSyncSet());
    const QStringList expected
        = mediaFolders + QStringList { QStringLiteral("~/External Music"), QStringLiteral("/srv/iPhoto Library") };
    EXPECT_EQ(again->syncItemList(), expected);
    EXPECT_TRUE(PMConfigurationFile::getPhotoBoothLibraryPath().isEmpty()) << "inside Pictures: already covered";
    QFile::remove(libraryFile);
    QFile::remove(iPhotoPrefs);
    QFile::remove(boothPrefs);
}

TEST_F(ConfigurationFileTest, NothingIsWrittenIntoTheBareFolderADriveLeftBehind)
{
    // A small file system of its own stands for the drive; detaching it leaves the folder of
    // the file system below, as a lazy unmount of a pulled drive does.
    const QByteArray mountPoint = QFile::encodeName(drive());
    if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=1m") != 0) {
        // Only a missing privilege is a reason to skip; any other refusal is a fault.
        if (errno == EPERM)
            GTEST_SKIP() << "cannot mount a tmpfs (needs root): " << std::strerror(errno);
        FAIL() << "cannot mount a tmpfs although privileged: " << std::strerror(errno);
    }
    auto config = open();
    ASSERT_TRUE(config->addUserToList());
    ASSERT_TRUE(config->setSyncItemList(QStringList { QStringLiteral("~/Music") }));
    EXPECT_TRUE(QFileInfo::exists(configPath()));
    ASSERT_EQ(::umount2(mountPoint.constData(), MNT_DETACH), 0) << std::strerror(errno);
    ASSERT_FALSE(QFileInfo::exists(configPath())) << "the file went with the drive";

    EXPECT_FALSE(config->setLastSyncDateForUser(QDateTime::currentDateTimeUtc()));
    EXPECT_FALSE(config->setSyncItemList(QStringList { QStringLiteral("~/Movies") }));
    EXPECT_FALSE(QFileInfo::exists(configPath()));
    EXPECT_TRUE(QDir(drive()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
    EXPECT_TRUE(
        logText().contains(QStringLiteral("Unable to write configuration file to \"%1\": the drive is no longer there.")
                               .arg(configPath())));

    // An object made for the folder as it is now writes there as usual.
    auto fresh = open();
    EXPECT_TRUE(fresh->addUserToList());
    EXPECT_TRUE(QFileInfo::exists(configPath()));
}

TEST_F(ConfigurationFileTest, TwoThreadsChangingAndReadingOneObjectSeeWholeValues)
{
    auto config = open();
    ASSERT_TRUE(config->addUserToList());
    const QStringList listA { QStringLiteral("~/A1"), QStringLiteral("~/A2"), QStringLiteral("~/A3") };
    const QStringList listB { QStringLiteral("/b") };
    std::atomic<bool> torn { false };
    constexpr int kRounds = 150;

    std::thread worker([&] {
        for (int i = 0; i < kRounds; ++i) {
            config->setSyncItemList(i % 2 ? listA : listB);
            config->setSyncMoviesEnabledForUser(i % 2);
        }
    });
    for (int i = 0; i < kRounds; ++i) {
        config->setSyncDeviceFilterForUser(i);
        const auto list = config->syncItemList();
        if (list && *list != listA && *list != listB)
            torn = true;
        const auto snapshot = config->syncConfigDictionary();
        if (!snapshot || snapshot->value(QStringLiteral("config-version")).toInt() != 3)
            torn = true;
        config->isSyncMoviesEnabledForUser();
    }
    worker.join();

    EXPECT_FALSE(torn.load());
    EXPECT_EQ(config->syncItemList(), listA);
    const QVariantMap stored = onDisk();
    EXPECT_EQ(stored, *config->syncConfigDictionary()) << "the last write holds the last state";
    EXPECT_EQ(stored.value(kAlice).toMap().value(QStringLiteral("local-sync-devicefilters")).toInt(), kRounds - 1);
    EXPECT_TRUE(stored.value(kAlice).toMap().value(QStringLiteral("local-sync-movies")).toBool());
}

TEST_F(ConfigurationFileTest, ACorruptFileIsKeptBesideTheNewOneBeforeItIsReplaced)
{
    const QByteArray valid = platform::PropertyList::serialize(sharedDriveConfig(), platform::PlistFormat::Xml);
    const QByteArray corrupt = valid.left(valid.size() / 2);
    testsupport::writeFile(configPath(), corrupt);
    auto config = open(kAlice);
    ASSERT_TRUE(config->addUserToList()) << "registering on a drive starts a new file";

    const QStringList kept = QDir(drive()).entryList(
        { PMConfigurationFile::kFileName + QStringLiteral(".corrupt-*") }, QDir::Files | QDir::Hidden);
    ASSERT_EQ(kept.size(), 1) << "another computer's settings can still be recovered";
    EXPECT_EQ(testsupport::readFile(QDir(drive()).filePath(kept.first())), corrupt);
    EXPECT_TRUE(onDisk().value(PMConfigurationFile::kUserListKey).toList().contains(kAlice));

    ASSERT_TRUE(config->setSyncMoviesEnabledForUser(false));
    EXPECT_EQ(
        QDir(drive())
            .entryList({ PMConfigurationFile::kFileName + QStringLiteral(".corrupt-*") }, QDir::Files | QDir::Hidden)
            .size(),
        1)
        << "our own file is never taken for a corrupt one";
}

TEST_F(ConfigurationFileTest, AFileWhoseVersionIsNotANumberIsKeptAsideBeforeItIsReplaced)
{
    const std::vector<std::pair<const char *, QVariant>> versions = {
        { "string", QStringLiteral("3") },
        { "boolean", true },
        { "dictionary", QVariantMap { { QStringLiteral("major"), 3 } } },
    };
    for (const auto &[name, version] : versions) {
        SCOPED_TRACE(name);
        QVariantMap contents = sharedDriveConfig();
        contents.insert(PMConfigurationFile::kVersionKey, version);
        const QByteArray original = platform::PropertyList::serialize(contents, platform::PlistFormat::Xml);
        testsupport::writeFile(configPath(), original);
        const qsizetype logged = logText().size();

        auto config = open(kAlice);
        EXPECT_FALSE(config->hasSyncConfiguration());
        EXPECT_FALSE(config->hasOldSyncFormat()) << "it is not of the old format either";
        EXPECT_FALSE(config->isParticipatingEnabledForUniqueHostID(kBob)) << "nothing of it is believed";
        EXPECT_TRUE(logText().mid(logged).contains(QStringLiteral("appears to be corrupt")));
        EXPECT_EQ(testsupport::readFile(configPath()), original) << "reading changes nothing";

        ASSERT_TRUE(config->addUserToList());
        const QStringList kept = keptCopies();
        ASSERT_EQ(kept.size(), 1) << "the other computers' settings can still be recovered";
        EXPECT_EQ(testsupport::readFile(QDir(drive()).filePath(kept.first())), original);
        EXPECT_EQ(onDisk().value(PMConfigurationFile::kVersionKey).toInt(), PMConfigurationFile::kCurrentVersion);
        EXPECT_TRUE(onDisk().contains(kAlice));
        for (const QString &file : kept)
            ASSERT_TRUE(QFile::remove(QDir(drive()).filePath(file)));
    }
}

TEST_F(ConfigurationFileTest, AnOldFileReplacedWithoutItsConversionIsKeptAside)
{
    const QVariantMap old { { QStringLiteral("config-version"), 2 },
        { QStringLiteral("tavrin-items-to-sync"), QVariantList { QStringLiteral("/shared/music") } } };
    writeConfig(old);
    const QByteArray original = testsupport::readFile(configPath());
    auto config = open(kAlice);
    ASSERT_TRUE(config->hasOldSyncFormat());
    ASSERT_TRUE(config->addUserToList()) << "a fresh file, not the conversion";
    const QStringList kept = keptCopies();
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(testsupport::readFile(QDir(drive()).filePath(kept.first())), original);
}

namespace {

// Takes every block the drive has left, so that no further byte can be written.
bool fillToTheBrim(const QString &mountPoint)
{
    const QByteArray chunk(64 * 1024, 'f');
    for (int file = 0; file < 2; ++file) {
        // A second file takes what the first one's reservations gave back when it was flushed.
        const QByteArray path = QFile::encodeName(mountPoint + QStringLiteral("/filler-%1").arg(file));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        std::size_t size = std::size_t(chunk.size());
        while (size > 0) {
            if (::write(fd, chunk.constData(), size) < 0) {
                if (errno != ENOSPC) {
                    ::close(fd);
                    return false;
                }
                size /= 2;
            }
        }
        ::fsync(fd);
        ::close(fd);
    }
    struct statvfs info { };
    return ::statvfs(QFile::encodeName(mountPoint).constData(), &info) == 0 && info.f_bavail == 0;
}

} // namespace

TEST(ConfigurationFileOnDrive, AFullDriveKeepsTheOldFileWholeAndTheWriteFails)
{
    QString whyNot;
    auto drive = testsupport::DriveImage::create(testsupport::DriveImage::FileSystem::Ext4, 16, &whyNot);
    if (!drive || !drive->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    const QString root = drive->mountPoint();
    const QString path = QDir(root).filePath(PMConfigurationFile::kFileName);
    ASSERT_TRUE(platform::PropertyList::writeFile(path, sharedDriveConfig()));
    PMConfigurationFile config(root, PMConfigurationFile::kSyncTypePerUser, kAlice);
    ASSERT_TRUE(config.addUserToList());
    const QByteArray original = testsupport::readFile(path);
    const QStringList before = QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    ASSERT_TRUE(fillToTheBrim(root));
    const qsizetype logged = PMLogController::sharedInstance().contents().size();
    const QDateTime synced = QDateTime::currentDateTimeUtc();
    EXPECT_FALSE(config.setLastSyncDateForUser(synced));
    EXPECT_FALSE(config.setSyncItemList(QStringList { QStringLiteral("~/Movies") }));

    EXPECT_EQ(testsupport::readFile(path), original) << "the old settings, everybody's, are as they were";
    QStringList after = QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    after.removeAll(QStringLiteral("filler-0"));
    after.removeAll(QStringLiteral("filler-1"));
    EXPECT_EQ(after, before) << "no temporary file is left behind";
    const QString full
        = QStringLiteral("Not enough free space on \"%1\" to save its sync settings.").arg(QFileInfo(root).fileName());
    EXPECT_TRUE(PMLogController::sharedInstance().contents().mid(logged).contains(full));
    EXPECT_EQ(config.lastWriteError(), full);

    // With room again, the next write carries what could not be written and keeps the rest.
    ASSERT_TRUE(QFile::remove(QDir(root).filePath(QStringLiteral("filler-0"))));
    ASSERT_TRUE(config.writeConfigFile());
    EXPECT_TRUE(config.lastWriteError().isEmpty());
    PMConfigurationFile reread(root, PMConfigurationFile::kSyncTypePerUser, kAlice);
    EXPECT_EQ(reread.lastSyncDateForUser().toSecsSinceEpoch(), synced.toSecsSinceEpoch());
    EXPECT_EQ(reread.syncItemList(), QStringList { QStringLiteral("~/Movies") });
    EXPECT_TRUE(reread.isParticipatingEnabledForUniqueHostID(kBob));
    EXPECT_FALSE(reread.isSyncMoviesEnabledForUniqueHostID(kCarol));
}
