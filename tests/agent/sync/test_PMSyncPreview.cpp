// The sync preview: the row wrapper's texts and click rules, and the table model over a
// job's scan results that writes the user's choices back into them.
#include "agent/sync/PMPreviewSyncEntry.h"
#include "agent/sync/PMPreviewTableDataSource.h"
#include "agent/sync/PMPreviewTextTable.h"
#include "agent/sync/PMScanResults.h"
#include "platform/FileNameCodec.h"
#include "platform/PlatformPaths.h"

#include <QDateTime>

#include <gtest/gtest.h>

namespace {

const QString kEnabled = PMScanEntry::kEnabledKey;
const QString kLocalInfo = PMPreviewSyncEntry::kLocalFileInfoKey;
const QString kDriveInfo = PMPreviewSyncEntry::kTavrinFileInfoKey;

QString sizeText(qint64 size)
{
    return PMPreviewSyncEntry::formattedFileInfoFor(size, std::nullopt);
}

PMScanEntry scanEntry(quint8 type, quint8 action, const QString &localPath, const QString &tavrinPath = QString())
{
    PMScanEntry entry;
    entry.type = type;
    entry.action = action;
    entry.localPath = localPath;
    entry.tavrinPath = tavrinPath;
    return entry;
}

PMPreviewSyncEntry previewOf(quint8 type, quint8 action)
{
    return PMPreviewSyncEntry(scanEntry(type, action, QStringLiteral("/home/a/Music/x.mp3")).toDictionary());
}

TEST(PreviewFileInfo, SizesUseTheTableDivisors)
{
    EXPECT_EQ(sizeText(0), QStringLiteral("0 bytes"));
    EXPECT_EQ(sizeText(1023), QStringLiteral("1023 bytes"));
    EXPECT_EQ(sizeText(1024), QStringLiteral("1 KB"));
    EXPECT_EQ(sizeText(1023999), QStringLiteral("999 KB"));
    EXPECT_EQ(sizeText(1024000), QStringLiteral("1 MB"));
    EXPECT_EQ(sizeText(1023999999), QStringLiteral("999 MB"));
    EXPECT_EQ(sizeText(1024000000), QStringLiteral("1 GB"));
    EXPECT_EQ(sizeText(5LL * 1024000000 + 1), QStringLiteral("5 GB"));
    EXPECT_EQ(PMPreviewSyncEntry::formattedFileInfoFor(std::nullopt, std::nullopt), QString());
}

TEST(PreviewFileInfo, DateComesBeforeSize)
{
    const QDateTime date = QDateTime::fromSecsSinceEpoch(1300000000, Qt::UTC);
    const QString dateOnly = PMPreviewSyncEntry::formattedFileInfoFor(std::nullopt, date);
    ASSERT_FALSE(dateOnly.isEmpty());
    EXPECT_NE(dateOnly, PMPreviewSyncEntry::formattedFileInfoFor(std::nullopt, date.addDays(40)));
    EXPECT_EQ(PMPreviewSyncEntry::formattedFileInfoFor(2048, date), dateOnly + QStringLiteral(" 2 KB"));
}

TEST(PreviewEntry, DerivedProperties)
{
    PMScanEntry scan = scanEntry(PMScanEntry::kTypeOverwrite, PMScanEntry::kActionCopyToDrive,
        QStringLiteral("/tmp/T/~/Music/song.mp3"), QStringLiteral("/media/d/user_c/Music/song.mp3"));
    scan.localSize = 2048;
    scan.tavrinSize = 1023;
    PMPreviewSyncEntry entry(scan.toDictionary(), QStringLiteral("/tmp/T"));

    EXPECT_EQ(entry.valueForKey(PMPreviewSyncEntry::kFileNameKey).toString(), QStringLiteral("song.mp3"));
    EXPECT_EQ(entry.localDisplayPath(), platform::PlatformPaths::homeDirectory() + QStringLiteral("/Music/song.mp3"));
    EXPECT_EQ(entry.valueForKey(kLocalInfo).toString(), QStringLiteral("2 KB"));
    EXPECT_EQ(entry.valueForKey(kDriveInfo).toString(), QStringLiteral("1023 bytes"));
    EXPECT_EQ(entry.valueForKey(PMScanEntry::kLocalPathKey).toString(), scan.localPath);
    EXPECT_FALSE(entry.valueForKey(QStringLiteral("noSuchKey")).isValid());

    entry.setLocalTempPath(QStringLiteral("/elsewhere"));
    EXPECT_EQ(entry.localDisplayPath(), scan.localPath);

    // Only the drive side known: the name comes from there; neither: no name at all.
    EXPECT_EQ(
        PMPreviewSyncEntry(scanEntry(4, 4, QString(), QStringLiteral("/media/d/u/old.txt")).toDictionary()).fileName(),
        QStringLiteral("old.txt"));
    EXPECT_TRUE(PMPreviewSyncEntry(scanEntry(1, 1, QString()).toDictionary()).fileName().isNull());
    EXPECT_FALSE(PMPreviewSyncEntry(scanEntry(1, 1, QString()).toDictionary())
                     .valueForKey(PMPreviewSyncEntry::kFileNameKey)
                     .isValid());
}

TEST(PreviewEntry, TypeTextsAndDeletedSides)
{
    const QStringList expected = { QString(), QStringLiteral("New"), QStringLiteral("Overwrite"),
        QStringLiteral("Conflict"), QStringLiteral("Delete"), QStringLiteral("Delete"), QStringLiteral("Delete"),
        QStringLiteral("New"), QString() };
    for (quint8 type = 0; type < expected.size(); ++type)
        EXPECT_EQ(previewOf(type, 1).syncEntryTypeString(), expected[type]) << int(type);

    EXPECT_EQ(previewOf(4, PMScanEntry::kActionDeleteLocal).tavrinFileInfo(), QStringLiteral("DELETED"));
    EXPECT_NE(previewOf(4, PMScanEntry::kActionDeleteLocal).localFileInfo(), QStringLiteral("DELETED"));
    EXPECT_EQ(previewOf(4, PMScanEntry::kActionDeleteOnDrive).localFileInfo(), QStringLiteral("DELETED"));
    EXPECT_NE(previewOf(4, PMScanEntry::kActionDeleteOnDrive).tavrinFileInfo(), QStringLiteral("DELETED"));
}

TEST(PreviewEntry, ClicksChooseTheWinningSideOfOverwritesAndConflicts)
{
    for (const quint8 type : { PMScanEntry::kTypeOverwrite, PMScanEntry::kTypeConflict }) {
        PMPreviewSyncEntry entry = previewOf(type, PMScanEntry::kActionCopyToDrive);
        EXPECT_FALSE(entry.clickedColumnWithIdentifier(kLocalInfo)); // already the winner
        EXPECT_EQ(entry.actionToPerform(), uint(PMScanEntry::kActionCopyToDrive));
        EXPECT_TRUE(entry.clickedColumnWithIdentifier(kDriveInfo));
        EXPECT_EQ(entry.actionToPerform(), uint(PMScanEntry::kActionDriveIsNewer));
        EXPECT_FALSE(entry.clickedColumnWithIdentifier(kDriveInfo));
        EXPECT_TRUE(entry.clickedColumnWithIdentifier(kLocalInfo));
        EXPECT_EQ(entry.actionToPerform(), uint(PMScanEntry::kActionCopyToDrive));
        EXPECT_FALSE(entry.clickedColumnWithIdentifier(PMPreviewSyncEntry::kFileNameKey));
    }
    for (const quint8 type : { PMScanEntry::kTypeNew, PMScanEntry::kTypeDelete, PMScanEntry::kTypeNewReplacing }) {
        PMPreviewSyncEntry entry = previewOf(type, PMScanEntry::kActionCopyToDrive);
        EXPECT_FALSE(entry.clickedColumnWithIdentifier(kDriveInfo)) << int(type);
        EXPECT_FALSE(entry.clickedColumnWithIdentifier(kLocalInfo)) << int(type);
        EXPECT_EQ(entry.actionToPerform(), uint(PMScanEntry::kActionCopyToDrive));
    }
}

TEST(PreviewEntry, EnabledColumnToggles)
{
    PMPreviewSyncEntry entry(QVariantMap { { PMScanEntry::kEntryTypeKey, 1u } });
    EXPECT_FALSE(entry.syncActionEnabled()); // absent counts as off, so the first click switches it on
    EXPECT_TRUE(entry.clickedColumnWithIdentifier(kEnabled));
    EXPECT_TRUE(entry.syncActionEnabled());
    EXPECT_TRUE(entry.clickedColumnWithIdentifier(kEnabled));
    EXPECT_FALSE(entry.syncActionEnabled());
}

TEST(PreviewEntry, HighlightMarksTheWinningSide)
{
    struct Case {
        quint8 action;
        bool local;
        bool drive;
    };
    for (const Case c :
        { Case { PMScanEntry::kActionCopyToDrive, true, false }, Case { PMScanEntry::kActionDriveIsNewer, false, true },
            Case { PMScanEntry::kActionDeleteOnDrive, true, false },
            Case { PMScanEntry::kActionDeleteLocal, false, true } }) {
        const PMPreviewSyncEntry entry = previewOf(PMScanEntry::kTypeConflict, c.action);
        EXPECT_EQ(entry.shouldHighlightColumnWithID(kLocalInfo), c.local) << int(c.action);
        EXPECT_EQ(entry.shouldHighlightColumnWithID(kDriveInfo), c.drive) << int(c.action);
        EXPECT_FALSE(entry.shouldHighlightColumnWithID(PMPreviewSyncEntry::kFileNameKey));
    }
    const PMPreviewSyncEntry noAction = previewOf(PMScanEntry::kTypeNew, PMScanEntry::kActionNone);
    EXPECT_FALSE(noAction.shouldHighlightColumnWithID(kLocalInfo));
    EXPECT_FALSE(noAction.shouldHighlightColumnWithID(kDriveInfo));
}

class PreviewTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        results.setLocalTempPath(QStringLiteral("/tmp/T"));
        results.addEntryToScanResults(scanEntry(
            PMScanEntry::kTypeNew, PMScanEntry::kActionCopyToDrive, QStringLiteral("/tmp/T/~/Music/new.mp3")));
        results.addEntryToScanResults(scanEntry(PMScanEntry::kTypeConflict, PMScanEntry::kActionCopyToDrive,
            QStringLiteral("/tmp/T/~/Music/both.mp3"), QStringLiteral("/media/d/u/Music/both.mp3")));
        results.addEntryToScanResults(scanEntry(PMScanEntry::kTypeDelete, PMScanEntry::kActionDeleteLocal, QString(),
            QStringLiteral("/media/d/u/Music/old.mp3")));
        QObject::connect(&model, &QAbstractItemModel::dataChanged, [this] { ++changes; });
    }

    int column(const QString &identifier) const { return int(model.columnIdentifiers().indexOf(identifier)); }

    PMScanResults results;
    PMPreviewTableDataSource model { &results };
    int changes = 0;
};

TEST_F(PreviewTable, ShowsOneRowPerEntry)
{
    ASSERT_EQ(model.rowCount(), 3);
    ASSERT_EQ(model.columnCount(), 5);
    EXPECT_EQ(
        model.data(model.index(0, column(PMPreviewSyncEntry::kFileNameKey))).toString(), QStringLiteral("new.mp3"));
    EXPECT_EQ(
        model.data(model.index(2, column(PMPreviewSyncEntry::kFileNameKey))).toString(), QStringLiteral("old.mp3"));
    EXPECT_EQ(model.data(model.index(1, column(PMPreviewSyncEntry::kEntryTypeStringKey))).toString(),
        QStringLiteral("Conflict"));
    EXPECT_EQ(model.data(model.index(2, column(kDriveInfo))).toString(), QStringLiteral("DELETED"));
    EXPECT_EQ(model.data(model.index(0, column(kEnabled)), Qt::CheckStateRole).toInt(), int(Qt::Checked));
    EXPECT_TRUE(model.data(model.index(1, column(kLocalInfo)), PMPreviewTableDataSource::HighlightRole).toBool());
    EXPECT_FALSE(model.data(model.index(1, column(kDriveInfo)), PMPreviewTableDataSource::HighlightRole).toBool());
    EXPECT_TRUE(model.shouldHighlightColumnWithID(kDriveInfo, 2));
    EXPECT_EQ(
        model.objectAtRow(1).value(PMScanEntry::kLocalPathKey).toString(), QStringLiteral("/tmp/T/~/Music/both.mp3"));
    EXPECT_TRUE(model.objectAtRow(3).isEmpty());

    for (int c = 0; c < model.columnCount(); ++c) {
        const Qt::ItemFlags flags = model.flags(model.index(0, c));
        EXPECT_FALSE(flags & Qt::ItemIsSelectable);
        EXPECT_FALSE(flags & Qt::ItemIsEditable);
    }
}

TEST_F(PreviewTable, ClicksAreWrittenIntoTheScanResults)
{
    // The local side of a conflict that already copies to the drive: nothing changes.
    EXPECT_FALSE(model.tableSingleAction(model.index(1, column(kLocalInfo))));
    EXPECT_EQ(results.at(1).action, PMScanEntry::kActionCopyToDrive);
    EXPECT_EQ(changes, 0);

    EXPECT_TRUE(model.tableSingleAction(model.index(1, column(kDriveInfo))));
    EXPECT_EQ(results.at(1).action, PMScanEntry::kActionDriveIsNewer);
    EXPECT_EQ(results.at(1).tavrinPath, QStringLiteral("/media/d/u/Music/both.mp3"));
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(model.data(model.index(1, column(kDriveInfo)), PMPreviewTableDataSource::HighlightRole).toBool());

    // A new file ignores clicks on the information columns; its check box switches it off.
    EXPECT_FALSE(model.tableSingleAction(model.index(0, column(kDriveInfo))));
    EXPECT_TRUE(model.tableSingleAction(model.index(0, column(kEnabled))));
    EXPECT_FALSE(results.at(0).enabled);
    EXPECT_EQ(results.at(0).action, PMScanEntry::kActionCopyToDrive);

    EXPECT_FALSE(model.tableSingleAction(QModelIndex()));
    EXPECT_EQ(results.size(), 3);
}

TEST_F(PreviewTable, StorageCanBeEditedEmptiedAndDetached)
{
    EXPECT_TRUE(model.setData(model.index(2, column(kEnabled)), false));
    EXPECT_FALSE(results.at(2).enabled);

    model.deleteAllRows();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(results.size(), 0);
    EXPECT_EQ(results.localTempPath(), QStringLiteral("/tmp/T"));

    model.setDataStorage(nullptr);
    EXPECT_EQ(model.numberOfRows(), -1);
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_FALSE(model.tableSingleAction(model.index(0, 0)));
}

TEST_F(PreviewTable, RendersAsTextColumns)
{
    PMPreviewTableDataSource narrow(
        &results, { kEnabled, PMPreviewSyncEntry::kEntryTypeStringKey, PMPreviewSyncEntry::kFileNameKey, kDriveInfo });
    EXPECT_TRUE(narrow.tableSingleAction(narrow.index(0, 0)));
    EXPECT_EQ(PMPreviewTextTable::render(narrow),
        QStringLiteral("Sync  Type      Name      On the drive\n"
                       "[ ]   New       new.mp3\n"
                       "[x]   Conflict  both.mp3\n"
                       "[x]   Delete    old.mp3   DELETED *\n"));

    // A name that is not UTF-8 keeps its bytes readable instead of collapsing into U+FFFD.
    PMScanResults odd;
    odd.setLocalTempPath(QStringLiteral("/tmp/T"));
    odd.addEntryToScanResults(scanEntry(PMScanEntry::kTypeNew, PMScanEntry::kActionCopyToDrive,
        QStringLiteral("/tmp/T/~/Music/") + platform::FileNameCodec::decode("caf\xe9.mp3")));
    PMPreviewTableDataSource oddTable(&odd, { PMPreviewSyncEntry::kFileNameKey });
    EXPECT_EQ(PMPreviewTextTable::render(oddTable), QStringLiteral("Name\ncaf\\xE9.mp3\n"));
}

} // namespace
