#include "agent/sync/PMScanResults.h"
#include "agent/sync/PMTrueDeleteRecord.h"

#include "platform/PropertyList.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

PMScanEntry entry(const QString &localPath, quint8 type = PMScanEntry::kTypeNew)
{
    PMScanEntry e;
    e.type = type;
    e.action = PMScanEntry::kActionCopyToDrive;
    e.localPath = localPath;
    e.tavrinPath = QStringLiteral("/drive") + localPath;
    e.localSize = 42;
    e.localModDate = QDateTime(QDate(2013, 3, 3), QTime(1, 2, 3), Qt::UTC);
    return e;
}

} // namespace

TEST(PMScanResults, EntriesAreKeyedByTheirRecordingOrder)
{
    PMScanResults results;
    EXPECT_FALSE(results.toDictionary().contains(PMScanResults::kNumEntriesKey)) << "absent until the first entry";
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(results.addEntryToScanResults(entry(QStringLiteral("/a/%1").arg(i))));
    const QVariantMap shown = results.toDictionary();
    EXPECT_EQ(shown.value(PMScanResults::kNumEntriesKey).toInt(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(shown.value(QString::number(i)).toMap().value(PMScanEntry::kLocalPathKey).toString(),
                  QStringLiteral("/a/%1").arg(i));

    const QVariantMap first = shown.value(QStringLiteral("0")).toMap();
    EXPECT_EQ(first.value(PMScanEntry::kEntryTypeKey).toUInt(), 1u);
    EXPECT_EQ(first.value(PMScanEntry::kActionKey).toUInt(), 1u);
    EXPECT_EQ(first.value(PMScanEntry::kEnabledKey), QVariant(true));
    EXPECT_EQ(first.value(PMScanEntry::kLocalSizeKey).toLongLong(), 42);
    EXPECT_FALSE(first.contains(PMScanEntry::kTavrinSizeKey)) << "absent values are left out";

    const PMScanResults back = PMScanResults::fromDictionary(shown);
    ASSERT_EQ(back.size(), 3);
    EXPECT_EQ(back.at(2).tavrinPath, QStringLiteral("/drive/a/2"));
    EXPECT_EQ(back.at(0).localModDate, entry(QString()).localModDate);
}

TEST(PMScanResults, ReplacingFindsTheFirstEntryForALocalPath)
{
    PMScanResults results;
    results.addEntryToScanResults(entry(QStringLiteral("/x")));
    results.addEntryToScanResults(entry(QStringLiteral("/y")));
    PMScanEntry replacement = entry(QStringLiteral("/y"), PMScanEntry::kTypeConflict);
    replacement.enabled = false;
    EXPECT_TRUE(results.replaceEntryFromScanResultsForLocalPath(QStringLiteral("/y"), replacement));
    EXPECT_EQ(results.at(1).type, PMScanEntry::kTypeConflict);
    EXPECT_FALSE(results.at(1).enabled);
    EXPECT_FALSE(results.replaceEntryFromScanResultsForLocalPath(QStringLiteral("/z"), replacement));
    EXPECT_TRUE(results.clearScanResults());
    EXPECT_TRUE(results.isEmpty());
}

TEST(PMScanResults, EntriesComeBackAsTheyWereAdded)
{
    // Paths of every shape the keyed form may bring, sharing folders and names or not, and
    // fields absent, zero, invalid or set.
    std::vector<PMScanEntry> added;
    PMScanEntry full = entry(QStringLiteral("/home/a/Music/x.mp3"), PMScanEntry::kTypeConflict);
    full.tavrinPath = QStringLiteral("/media/d/.tmp/Music/x.mp3");
    full.enabled = false;
    full.tavrinModDate = QDateTime(QDate(1904, 1, 1), QTime(0, 0), Qt::UTC);
    full.backupDate = QDateTime(QDate(2031, 7, 9), QTime(23, 59, 58, 999), Qt::UTC);
    full.localSize = 0;
    full.tavrinSize = qint64(5) << 40;
    full.driveCopyToKeep = QStringLiteral("/media/d/Music/x.mp3");
    added.push_back(full);
    PMScanEntry sameFolder = entry(QStringLiteral("/home/a/Music/y.mp3"));
    sameFolder.tavrinPath = QStringLiteral("/media/d/.tmp/Music/other name.mp3");
    sameFolder.trueDelete = QStringLiteral("/media/d/Music/.d$f.y.mp3");
    added.push_back(sameFolder);
    PMScanEntry bare;
    bare.type = PMScanEntry::kTypeDelete;
    bare.action = PMScanEntry::kActionDeleteOnDrive;
    bare.tavrinPath = QStringLiteral("relative");
    bare.localModDate = QDateTime();
    added.push_back(bare);
    PMScanEntry folders = entry(QStringLiteral("/"));
    folders.tavrinPath = QStringLiteral("/media/d/Music/");
    folders.localModDate = QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6), QTimeZone(3600));
    added.push_back(folders);
    added.push_back(entry(QStringLiteral("/home/a/Music/x.mp3")));

    PMScanResults results;
    for (const PMScanEntry &e : added)
        results.addEntryToScanResults(e);
    ASSERT_EQ(results.size(), qsizetype(added.size()));
    const PMScanResults copy = results;
    qsizetype index = 0;
    for (const PMScanEntry &back : copy) {
        const PMScanEntry &was = added[size_t(index)];
        SCOPED_TRACE(index);
        EXPECT_EQ(back.toDictionary(), was.toDictionary());
        EXPECT_EQ(back.localPath, was.localPath);
        EXPECT_EQ(back.tavrinPath, was.tavrinPath);
        EXPECT_EQ(back.localModDate.has_value(), was.localModDate.has_value());
        EXPECT_EQ(back.localModDate.has_value() && back.localModDate->isValid(),
            was.localModDate.has_value() && was.localModDate->isValid());
        EXPECT_EQ(back.tavrinModDate, was.tavrinModDate);
        EXPECT_EQ(back.backupDate, was.backupDate);
        EXPECT_EQ(back.localSize, was.localSize);
        EXPECT_EQ(back.tavrinSize, was.tavrinSize);
        EXPECT_EQ(back.trueDelete, was.trueDelete);
        EXPECT_EQ(back.driveCopyToKeep, was.driveCopyToKeep);
        EXPECT_EQ(back.enabled, was.enabled);
        ++index;
    }
    EXPECT_EQ(index, results.size());

    // An edit replaces one entry and leaves its neighbours as they were.
    PMScanEntry edited = results.at(1);
    edited.enabled = false;
    edited.localPath = QStringLiteral("/elsewhere/z.mp3");
    edited.trueDelete.clear();
    results.setEntryAt(1, edited);
    EXPECT_EQ(results.at(1).toDictionary(), edited.toDictionary());
    EXPECT_EQ(results.at(0).toDictionary(), full.toDictionary());
    EXPECT_EQ(results.at(2).toDictionary(), bare.toDictionary());
    EXPECT_TRUE(results.replaceEntryFromScanResultsForLocalPath(QStringLiteral("/elsewhere/z.mp3"), bare));
    EXPECT_EQ(results.at(1).type, PMScanEntry::kTypeDelete);
    EXPECT_FALSE(results.replaceEntryFromScanResultsForLocalPath(QStringLiteral("/home/a/Music/"), bare))
        << "a folder's path is not the path of an entry inside it";
    EXPECT_EQ(copy.at(1).toDictionary(), sameFolder.toDictionary()) << "a copy is not changed by edits";
}

TEST(PMTrueDeleteRecord, RecordsListTheOtherComputerUsers)
{
    QTemporaryDir dir;
    const QString record = PMTrueDeleteRecord::recordPathForItem(dir.filePath(QStringLiteral("song.mp3")), false);
    EXPECT_EQ(record, dir.filePath(QStringLiteral(".d$f.song.mp3")));
    EXPECT_EQ(PMTrueDeleteRecord::recordPathForItem(dir.filePath(QStringLiteral("Album")), true),
              dir.filePath(QStringLiteral(".d$d.Album")));
    EXPECT_TRUE(PMTrueDeleteRecord::isRecordName(QStringLiteral(".d$d.Album")));
    EXPECT_FALSE(PMTrueDeleteRecord::isRecordName(QStringLiteral("d$d.Album")));

    const QStringList users = {QStringLiteral("A-1"), QStringLiteral("B-2"), QStringLiteral("C-3")};
    ASSERT_TRUE(PMTrueDeleteRecord::createTrueDeleteFileAtPath(record, users, QStringLiteral("A-1")));
    EXPECT_EQ(PMTrueDeleteRecord::trueDeleteComputerIDsFromFile(record),
              (QStringList{QStringLiteral("B-2"), QStringLiteral("C-3")}));
    // The on-drive format other computers read.
    const auto raw = platform::PropertyList::readFile(record);
    ASSERT_TRUE(raw.has_value());
    EXPECT_EQ(raw->toMap().value(QStringLiteral("uniqueComputerIDS")).toStringList().size(), 2);

    PMTrueDeleteRecord::removeComputerIDFromTrueDeleteFile(QStringLiteral("B-2"), record);
    EXPECT_EQ(PMTrueDeleteRecord::trueDeleteComputerIDsFromFile(record), QStringList{QStringLiteral("C-3")});
    PMTrueDeleteRecord::removeComputerIDFromTrueDeleteFile(QStringLiteral("C-3"), record);
    EXPECT_FALSE(QFile::exists(record)) << "a record nobody needs is removed";
}

TEST(PMTrueDeleteRecord, ADriveOfOneUserNeverGetsARecord)
{
    QTemporaryDir dir;
    const QString record = dir.filePath(QStringLiteral(".d$f.a"));
    testsupport::writeFile(record, "stale");
    EXPECT_TRUE(PMTrueDeleteRecord::createTrueDeleteFileAtPath(record, {QStringLiteral("A-1")}, QStringLiteral("A-1")));
    EXPECT_FALSE(QFile::exists(record));
    EXPECT_FALSE(PMTrueDeleteRecord::createTrueDeleteFileAtPath(record, {}, QStringLiteral("A-1")));
    EXPECT_FALSE(PMTrueDeleteRecord::createTrueDeleteFileAtPath(record, {QStringLiteral("B-2")}, QString()));

    testsupport::writeFile(record, "not a property list");
    EXPECT_FALSE(PMTrueDeleteRecord::trueDeleteComputerIDsFromFile(record).has_value());
    PMTrueDeleteRecord::removeComputerIDFromTrueDeleteFile(QStringLiteral("A-1"), record);
    EXPECT_FALSE(QFile::exists(record)) << "an unreadable record is removed";
}
