// How often the drive's configuration file is rewritten: settings equal to what the object
// holds leave the file alone, and a batch of changes lands in one write that still merges
// with what another computer wrote meanwhile. Real files in a temporary folder; a rewrite
// shows as a new inode (the file is replaced by rename), so no internal counter is trusted.
#include "agent/log/PMLogController.h"
#include "agent/settings/PMConfigurationBatch.h"
#include "agent/settings/PMConfigurationFile.h"
#include "platform/PropertyList.h"

#include "support/TestEnvironment.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const QString kAlice = QStringLiteral("0A1B2C3D4E5F-501");
const QString kCarol = QStringLiteral("112233445566-501");

// What identifies one version of the file on disk.
struct FileVersion {
    ino_t inode = 0;
    timespec modified {};
    QByteArray bytes;

    bool operator==(const FileVersion &other) const
    {
        return inode == other.inode && modified.tv_sec == other.modified.tv_sec
            && modified.tv_nsec == other.modified.tv_nsec && bytes == other.bytes;
    }
};

class ConfigurationWritesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_drive.isValid()); }

    QString configPath() const { return m_drive.filePath(PMConfigurationFile::kFileName); }
    std::unique_ptr<PMConfigurationFile> open(const QString &user = kAlice) const
    {
        return std::make_unique<PMConfigurationFile>(m_drive.path(), PMConfigurationFile::kSyncTypePerUser, user);
    }
    FileVersion version() const
    {
        struct stat info { };
        EXPECT_EQ(::stat(QFile::encodeName(configPath()).constData(), &info), 0);
        return { info.st_ino, info.st_mtim, testsupport::readFile(configPath()) };
    }
    QVariantMap onDisk() const { return platform::PropertyList::readFile(configPath()).value_or(QVariant()).toMap(); }
    QVariantMap aliceOnDisk() const { return onDisk().value(kAlice).toMap(); }
    static QStringList itemsOf(const QVariantMap &config, const QString &user)
    {
        return config.value(PMConfigurationFile::kPtopListKey)
            .toMap()
            .value(user)
            .toMap()
            .value(PMConfigurationFile::kItemsToSyncKey)
            .toStringList();
    }

    // Alice set up as a sync run leaves her: registered, taking part, a list, a filter and a
    // last sync time, all written.
    void setUpAlice() const
    {
        auto config = open();
        ASSERT_TRUE(config->addUserToList());
        ASSERT_TRUE(config->setParticipatingEnabledForUser(true));
        ASSERT_TRUE(config->setSyncItemList(kItems));
        ASSERT_TRUE(config->setSyncMoviesEnabledForUser(false));
        ASSERT_TRUE(config->setSyncDeviceFilterForUser(3));
        ASSERT_TRUE(config->setLastSyncDateForUser(kWhen));
    }

    const QStringList kItems { QStringLiteral("~/Music"), QStringLiteral("/srv/photos") };
    const QDateTime kWhen { QDate(2024, 5, 6), QTime(7, 8, 9), QTimeZone::utc() };
    QTemporaryDir m_drive;
};

} // namespace

TEST_F(ConfigurationWritesTest, SettingWhatTheFileAlreadyHoldsLeavesItUntouched)
{
    setUpAlice();
    const FileVersion before = version();

    // A later run on the same drive asks for the same settings again, one by one.
    auto config = open();
    EXPECT_TRUE(config->addUserToList());
    EXPECT_TRUE(config->setParticipatingEnabledForUser(true));
    EXPECT_TRUE(config->setSyncItemList(kItems));
    EXPECT_TRUE(config->setSyncMoviesEnabledForUser(false));
    EXPECT_TRUE(config->setSyncMusicEnabledForUser(true));
    EXPECT_TRUE(config->setSyncDeviceFilterForUser(3)) << "read back as a 64-bit number, still the same value";
    EXPECT_TRUE(config->setLastSyncDateForUser(kWhen));
    config->updateComputerName();
    EXPECT_TRUE(config->setQuietEnabledForUser(false)) << "absent reads as NO, but it is not in the file";
    EXPECT_FALSE(version() == before) << "a key the file lacks is a change";
    const FileVersion afterQuiet = version();
    EXPECT_TRUE(config->setQuietEnabledForUser(false));
    EXPECT_TRUE(version() == afterQuiet);

    // A real change is written at once, as before.
    EXPECT_TRUE(config->setSyncMoviesEnabledForUser(true));
    EXPECT_FALSE(version() == afterQuiet);
    EXPECT_TRUE(aliceOnDisk().value(PMConfigurationFile::kMoviesKey).toBool());
}

TEST_F(ConfigurationWritesTest, ABatchWritesAllItsChangesOnceAtItsEnd)
{
    setUpAlice();
    const FileVersion before = version();
    auto config = open();
    {
        PMConfigurationBatch batch(*config);
        EXPECT_TRUE(config->setSyncItemList(QStringList { QStringLiteral("~/Movies") }));
        EXPECT_TRUE(config->setSyncDeviceFilterForUser(0));
        EXPECT_TRUE(config->setContinuousEnabledForUser(true));
        EXPECT_TRUE(config->writeConfigFile());
        EXPECT_TRUE(version() == before) << "nothing reaches the drive before the batch ends";
        EXPECT_EQ(config->getSyncDeviceFilterForUser(), 0) << "the object answers with the batch's values";
        EXPECT_TRUE(batch.commit());
        EXPECT_TRUE(batch.commit()) << "a second commit answers the same and writes nothing more";
    }
    const QVariantMap stored = onDisk();
    EXPECT_EQ(itemsOf(stored, kAlice), QStringList { QStringLiteral("~/Movies") });
    EXPECT_EQ(stored.value(kAlice).toMap().value(PMConfigurationFile::kDeviceFilterKey).toInt(), 0);
    EXPECT_TRUE(stored.value(kAlice).toMap().value(PMConfigurationFile::kContinuousKey).toBool());
    EXPECT_EQ(stored.value(kAlice).toMap().value(PMConfigurationFile::kLastSyncTimeKey).toDateTime(), kWhen);

    // A batch that changes nothing writes nothing; one with writeConfigFile() inside always writes.
    const FileVersion written = version();
    {
        PMConfigurationBatch batch(*config);
        config->addUserToList();
        config->setSyncItemList(QStringList { QStringLiteral("~/Movies") });
        EXPECT_TRUE(batch.commit());
    }
    EXPECT_TRUE(version() == written);
    {
        PMConfigurationBatch batch(*config);
        config->writeConfigFile();
    } // the destructor commits
    EXPECT_FALSE(version() == written);
}

TEST_F(ConfigurationWritesTest, NestedBatchesWriteOnceWhenTheOutermostEnds)
{
    setUpAlice();
    auto config = open();
    const FileVersion before = version();
    PMConfigurationBatch outer(*config);
    {
        PMConfigurationBatch inner(*config);
        config->setSyncMusicEnabledForUser(false);
        EXPECT_TRUE(inner.commit());
    }
    EXPECT_TRUE(version() == before);
    EXPECT_TRUE(outer.commit());
    EXPECT_FALSE(aliceOnDisk().value(PMConfigurationFile::kMusicKey).toBool());
}

TEST_F(ConfigurationWritesTest, ABatchWhoseWriteFailsSaysSoAndItsChangesAreWrittenLater)
{
    setUpAlice();
    auto config = open();
    // Something the file must never be written through stands at its path: a link.
    QTemporaryDir outside;
    const QString target = outside.filePath(QStringLiteral("elsewhere"));
    testsupport::writeFile(target, "not ours");
    ASSERT_TRUE(QFile::remove(configPath()));
    ASSERT_TRUE(QFile::link(target, configPath()));

    const qsizetype logged = PMLogController::sharedInstance().contents().size();
    {
        PMConfigurationBatch batch(*config);
        EXPECT_TRUE(config->setSyncMoviesEnabledForUser(true));
        EXPECT_TRUE(config->setSyncItemList(QStringList { QStringLiteral("~/Pictures") }));
        EXPECT_FALSE(batch.commit());
    }
    EXPECT_EQ(testsupport::readFile(target), QByteArray("not ours"));
    EXPECT_TRUE(PMLogController::sharedInstance().contents().mid(logged).contains(
        QStringLiteral("Unable to write configuration file to \"%1\".").arg(configPath())));

    // Once the path is free again, even a setting that changes nothing in memory writes what
    // is still owed to the drive.
    ASSERT_TRUE(QFile::remove(configPath()));
    EXPECT_TRUE(config->setSyncMoviesEnabledForUser(true));
    EXPECT_TRUE(aliceOnDisk().value(PMConfigurationFile::kMoviesKey).toBool());
    EXPECT_EQ(itemsOf(onDisk(), kAlice), QStringList { QStringLiteral("~/Pictures") });
}

TEST_F(ConfigurationWritesTest, WhatAnotherComputerWroteDuringOurBatchIsKept)
{
    setUpAlice();
    auto alice = open(kAlice);
    // Another computer writes the shared drive's file after we read it.
    auto carol = open(kCarol);
    ASSERT_TRUE(carol->addUserToList());
    ASSERT_TRUE(carol->setSyncItemList(QStringList { QStringLiteral("/photos") }));
    ASSERT_TRUE(carol->setSyncMoviesEnabledForUser(false));

    {
        PMConfigurationBatch batch(*alice);
        alice->addUserToList();
        alice->setSyncItemList(QStringList { QStringLiteral("~/Documents") });
        alice->setSyncDocumentsEnabledForUser(true);
        ASSERT_TRUE(batch.commit());
    }
    const QVariantMap stored = onDisk();
    EXPECT_EQ(stored.value(PMConfigurationFile::kUserListKey).toStringList(), (QStringList { kAlice, kCarol }));
    EXPECT_EQ(itemsOf(stored, kCarol), QStringList { QStringLiteral("/photos") });
    EXPECT_FALSE(stored.value(kCarol).toMap().value(PMConfigurationFile::kMoviesKey).toBool());
    EXPECT_EQ(itemsOf(stored, kAlice), QStringList { QStringLiteral("~/Documents") });
    EXPECT_TRUE(stored.value(kAlice).toMap().value(PMConfigurationFile::kDocumentsKey).toBool());
    EXPECT_EQ(stored.value(kAlice).toMap().value(PMConfigurationFile::kDeviceFilterKey).toInt(), 3)
        << "our earlier settings stay";
}

TEST_F(ConfigurationWritesTest, TheDefaultSetOfAFreshDriveIsWrittenWithTheBatch)
{
    auto config = open();
    {
        PMConfigurationBatch batch(*config);
        EXPECT_TRUE(config->addUserToList());
        EXPECT_TRUE(config->createDefaultSyncSet()) << "the write to come reports for itself";
        EXPECT_FALSE(QFile::exists(configPath()));
        EXPECT_TRUE(batch.commit());
    }
    ASSERT_TRUE(QFile::exists(configPath()));
    EXPECT_FALSE(itemsOf(onDisk(), kAlice).isEmpty());
    EXPECT_TRUE(open()->hasSyncConfiguration());
}
