// The manager's volume list on real drives: images formatted with real file systems, mounted
// below a private volume root (PELLMERE_VOLUME_ROOTS), watched through the real mount table.
// The list is read through the window's model, as the window reads it.
#include "manager/volumes/LUMVolumeBase.h"
#include "manager/volumes/LUMVolumeListModel.h"
#include "manager/volumes/LUMVolumeMonitor.h"
#include "netstorage/FSNamesAndTags.h"
#include "platform/VolumeDescription.h"
#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using testsupport::DriveImage;
using FileSystem = testsupport::DriveImage::FileSystem;

namespace {

struct Row {
    QString name;
    QString path;
    QString fsName;
    QString capacity;
    double percent = -1;
};

class LUMVolumeMonitorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(extraRoot.isValid()); }
    void TearDown() override { qunsetenv("PELLMERE_VOLUME_ROOTS"); }

    // A mounted drive; a drive under a volume root when underRoot. Null (test skipped or
    // failed, as DriveImage says) when it cannot be made here.
    DriveImage *mountDrive(FileSystem fileSystem, bool readOnly = false, bool underRoot = true)
    {
        QString whyNot;
        auto drive = DriveImage::create(fileSystem, fileSystem == FileSystem::Ntfs ? 32 : 16, &whyNot);
        if (!drive || !drive->mount(readOnly, &whyNot)) {
            skipped = whyNot;
            return nullptr;
        }
        if (underRoot)
            roots << QFileInfo(drive->mountPoint()).path();
        qputenv("PELLMERE_VOLUME_ROOTS", QFile::encodeName(roots.join(QLatin1Char(':'))));
        drives.push_back(std::move(drive));
        return drives.back().get();
    }

    QList<Row> rows() const
    {
        QList<Row> all;
        for (int row = 0; row < model.rowCount(); ++row) {
            const QModelIndex index = model.index(row);
            all.append({ index.data(LUMVolumeListModel::NameRole).toString(),
                index.data(LUMVolumeListModel::PathRole).toString(),
                index.data(LUMVolumeListModel::FsNameRole).toString(),
                index.data(LUMVolumeListModel::CapacityTextRole).toString(),
                index.data(LUMVolumeListModel::PercentInUseRole).toDouble() });
        }
        return all;
    }

    QStringList paths() const
    {
        QStringList all;
        for (const Row &row : rows())
            all << row.path;
        return all;
    }
    // The paths in one string, which reads well in a failure.
    std::string pathLine() const { return paths().join(QLatin1Char(' ')).toStdString(); }

    bool listed(const QString &path) const { return paths().contains(path); }

    std::unique_ptr<platform::VolumeDescriber> describer = platform::VolumeDescriber::create();
    LUMVolumeMonitor monitor { *describer, FSNamesAndTags::sharedManager() };
    LUMVolumeListModel model { monitor };
    std::vector<std::unique_ptr<DriveImage>> drives;
    QStringList roots;
    QTemporaryDir extraRoot;
    QString skipped;
};

#define MOUNT_OR_SKIP(var, ...)                                                                                        \
    DriveImage *var = mountDrive(__VA_ARGS__);                                                                         \
    if (!var)                                                                                                          \
    GTEST_SKIP() << skipped.toStdString()

bool mountCommand(const QStringList &arguments)
{
    QString output;
    const bool ok = DriveImage::run(QStringLiteral("mount"), arguments, &output);
    if (!ok)
        ADD_FAILURE() << "mount " << arguments.join(QLatin1Char(' ')).toStdString() << ": " << output.toStdString();
    return ok;
}

} // namespace

TEST_F(LUMVolumeMonitorTest, ListsWritableExt4ExFatAndNtfsDrivesWithTheirFileSystemAndCapacity)
{
    MOUNT_OR_SKIP(ext4, FileSystem::Ext4);
    MOUNT_OR_SKIP(exfat, FileSystem::ExFat);
    MOUNT_OR_SKIP(ntfs, FileSystem::Ntfs);
    monitor.start();

    const QHash<QString, QString> expectedFsName = { { ext4->mountPoint(), QStringLiteral("Linux ext4") },
        { exfat->mountPoint(), QStringLiteral("ExFAT") }, { ntfs->mountPoint(), QStringLiteral("NTFS") } };
    const QRegularExpression capacity(QStringLiteral("^(\\d+\\.\\d\\d) MB free of (\\d+\\.\\d\\d) MB$"));
    const QList<Row> all = rows();
    ASSERT_EQ(all.size(), 3) << pathLine();
    for (const Row &row : all) {
        SCOPED_TRACE(row.path.toStdString());
        ASSERT_TRUE(expectedFsName.contains(row.path));
        EXPECT_EQ(row.fsName, expectedFsName.value(row.path));
        EXPECT_EQ(row.name, QStringLiteral("mnt")) << "unlabelled: the mount folder's name";
        const QRegularExpressionMatch match = capacity.match(row.capacity);
        ASSERT_TRUE(match.hasMatch()) << row.capacity.toStdString();
        const double freeMB = match.captured(1).toDouble();
        const double totalMB = match.captured(2).toDouble();
        EXPECT_GT(totalMB, 8.0);
        EXPECT_LE(totalMB, 32.0);
        EXPECT_LE(freeMB, totalMB);
        EXPECT_GE(row.percent, 0.0);
        EXPECT_LT(row.percent, 100.0);
    }

    // Filling a drive shows in its capacity and share in use at the next question.
    const double before = rows().at(paths().indexOf(ext4->mountPoint())).percent;
    testsupport::writeFile(ext4->mountPoint() + QStringLiteral("/fill.bin"), QByteArray(6 * 1024 * 1024, 'x'));
    ::sync();
    EXPECT_GT(rows().at(paths().indexOf(ext4->mountPoint())).percent, before + 20.0);
}

TEST_F(LUMVolumeMonitorTest, ReadOnlyVirtualAndSystemMountsAreNeverListed)
{
    ASSERT_TRUE(monitor.start());
    MOUNT_OR_SKIP(readOnly, FileSystem::Ext4, true);
    MOUNT_OR_SKIP(system, FileSystem::Ext4, false, false);
    const QString ramDisk = extraRoot.path() + QStringLiteral("/RAM");
    ASSERT_TRUE(QDir().mkpath(ramDisk));
    roots << extraRoot.path();
    qputenv("PELLMERE_VOLUME_ROOTS", QFile::encodeName(roots.join(QLatin1Char(':'))));
    ASSERT_TRUE(mountCommand({ QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("none"), ramDisk }));
    const auto unmountRam = qScopeGuard([&] { DriveImage::run(QStringLiteral("umount"), { ramDisk }); });
    // Mounted last, so when it is listed the others have been looked at.
    MOUNT_OR_SKIP(writable, FileSystem::Ext4);

    ASSERT_TRUE(testsupport::waitFor([&] { return listed(writable->mountPoint()); }));
    EXPECT_EQ(pathLine(), writable->mountPoint().toStdString());
    EXPECT_FALSE(listed(readOnly->mountPoint()));
    EXPECT_FALSE(listed(system->mountPoint()));
    EXPECT_FALSE(listed(ramDisk));
}

TEST_F(LUMVolumeMonitorTest, AMovedVolumeIsRemovedAndAddedBackAtItsPlaceByName)
{
    MOUNT_OR_SKIP(moving, FileSystem::Ext4);
    MOUNT_OR_SKIP(staying, FileSystem::Ext4);
    roots << extraRoot.path();
    qputenv("PELLMERE_VOLUME_ROOTS", QFile::encodeName(roots.join(QLatin1Char(':'))));
    ASSERT_TRUE(monitor.start());
    ASSERT_EQ(model.rowCount(), 2);

    const QString home = moving->mountPoint();
    const QString alpha = extraRoot.path() + QStringLiteral("/Alpha");
    const QString zulu = extraRoot.path() + QStringLiteral("/zulu");
    ASSERT_TRUE(QDir().mkpath(alpha) && QDir().mkpath(zulu));
    QString where = home;
    // The drive's own clean-up unmounts it at its first mount point.
    const auto moveHome = qScopeGuard([&] {
        if (where != home)
            DriveImage::run(QStringLiteral("mount"), { QStringLiteral("--move"), where, home });
    });
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    ASSERT_TRUE(mountCommand({ QStringLiteral("--move"), home, alpha }));
    where = alpha;
    ASSERT_TRUE(testsupport::waitFor([&] { return listed(alpha); }));
    EXPECT_EQ(removed.size(), 1);
    EXPECT_EQ(inserted.size(), 1);
    EXPECT_EQ(pathLine(), QString(alpha + QLatin1Char(' ') + staying->mountPoint()).toStdString())
        << "\"Alpha\" sorts before \"mnt\"";
    EXPECT_EQ(rows().first().name, QStringLiteral("Alpha"));

    ASSERT_TRUE(mountCommand({ QStringLiteral("--move"), alpha, zulu }));
    where = zulu;
    ASSERT_TRUE(testsupport::waitFor([&] { return listed(zulu); }));
    EXPECT_EQ(pathLine(), QString(staying->mountPoint() + QLatin1Char(' ') + zulu).toStdString())
        << "\"zulu\" sorts after \"mnt\"";
    EXPECT_EQ(removed.size(), 2);
    EXPECT_EQ(inserted.size(), 2);
}

TEST_F(LUMVolumeMonitorTest, ARemountedVolumeLeavesTheListWhileItCannotBeWrittenAndComesBack)
{
    MOUNT_OR_SKIP(drive, FileSystem::Ext4);
    ASSERT_TRUE(monitor.start());
    ASSERT_EQ(pathLine(), drive->mountPoint().toStdString());

    QString whyNot;
    ASSERT_TRUE(drive->remountReadOnly(&whyNot)) << whyNot.toStdString();
    EXPECT_TRUE(testsupport::waitFor([&] { return model.rowCount() == 0; })) << "read-only now";
    ASSERT_TRUE(mountCommand({ QStringLiteral("-o"), QStringLiteral("remount,rw"), drive->mountPoint() }));
    EXPECT_TRUE(testsupport::waitFor([&] { return listed(drive->mountPoint()); })) << "writable again";

    ASSERT_TRUE(drive->unmount());
    EXPECT_TRUE(testsupport::waitFor([&] { return model.rowCount() == 0; })) << "unmounted";
    ASSERT_TRUE(drive->mount(false, &whyNot)) << whyNot.toStdString();
    EXPECT_TRUE(testsupport::waitFor([&] { return listed(drive->mountPoint()); })) << "mounted again";
    EXPECT_EQ(model.rowCount(), 1);
}
