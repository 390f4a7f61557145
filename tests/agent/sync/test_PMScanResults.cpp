#include "agent/sync/PMScanResults.h"
#include "agent/sync/PMTrueDeleteRecord.h"

#include "platform/PropertyList.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QTemporaryDir>

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
