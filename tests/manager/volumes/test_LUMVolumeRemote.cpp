// Network shares in the manager's volume list, with a scripted SMB side and the share mapper's
// announcements made by the test: a share is listed once per path as a remote volume named
// after its device, with the share's name and capacity, and unmapping a path takes only the
// share listed there.
#include "manager/volumes/LUMVolumeListModel.h"
#include "manager/volumes/LUMVolumeMonitor.h"
#include "manager/volumes/LUMVolumeRemote.h"
#include "netstorage/FSNamesAndTags.h"
#include "netstorage/PMNetServiceMapper.h"
#include "platform/VolumeDescription.h"
#include "support/DriveImage.h"
#include "support/ScriptedReachability.h"
#include "support/ScriptedShareService.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kDenHost = QStringLiteral("192.168.7.20");
const QString kAtticHost = QStringLiteral("192.168.7.30");
const QRegularExpression kCapacity(QStringLiteral("^\\d+\\.\\d\\d [KMGT]B free of \\d+\\.\\d\\d [KMGT]B$"));

struct Row {
    QString name;
    QString path;
    QString partition;
    QString capacity;
    QString icon;
};

class RemoteVolumesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folders.isValid()); }
    void TearDown() override { qunsetenv("PELLMERE_VOLUME_ROOTS"); }

    PMNetServicePtr device(const QString &name, const QString &host, const QStringList &listed = {})
    {
        reachability.setReachable(host, true);
        shares.setShares(host, listed);
        auto service = PMNetServicePtr::create(&shares, &reachability);
        service->setServiceName(name);
        service->setIp4Addresses({ host }, host);
        if (!listed.isEmpty()) {
            EXPECT_TRUE(service->updateSharesListSync(nullptr));
        }
        return service;
    }

    // A folder standing for a share mounted from host/share.
    QString mountedShare(const QString &name, const QString &hostAndShare)
    {
        const QString path = QDir(folders.path()).filePath(name);
        EXPECT_TRUE(QDir().mkpath(path));
        shares.addForeignMount(path, hostAndShare);
        return path;
    }

    QList<Row> rows() const
    {
        QList<Row> all;
        for (int row = 0; row < model.rowCount(); ++row) {
            const QModelIndex index = model.index(row);
            all.append({ index.data(LUMVolumeListModel::NameRole).toString(),
                index.data(LUMVolumeListModel::PathRole).toString(),
                index.data(LUMVolumeListModel::PartitionRole).toString(),
                index.data(LUMVolumeListModel::CapacityTextRole).toString(),
                index.data(LUMVolumeListModel::IconNameRole).toString() });
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

    testsupport::ScriptedShareService shares;
    testsupport::ScriptedReachability reachability;
    // Before the monitor, which waits for its work when it goes.
    PMNetServiceMapper mapper { &shares };
    std::unique_ptr<platform::VolumeDescriber> describer = platform::VolumeDescriber::create();
    LUMVolumeMonitor monitor { *describer, FSNamesAndTags::sharedManager() };
    LUMVolumeListModel model { monitor };
    QTemporaryDir folders;
};

} // namespace

TEST_F(RemoteVolumesTest, AMatchTakesShareNameAndCapacityOnlyFromOneOfTheDevicesAddresses)
{
    const PMNetServicePtr den = device(QStringLiteral("Den"), kDenHost, { QStringLiteral("Music") });

    LUMVolumeRemote unmounted(den);
    EXPECT_EQ(unmounted.volumeName(), QStringLiteral("Den"));
    EXPECT_EQ(unmounted.capacityString(), QStringLiteral("Unknown")) << "no path, nothing to read";
    EXPECT_FALSE(unmounted.matchMountedPath(shares));
    EXPECT_EQ(unmounted.capacityString(), QStringLiteral("Unknown"));

    // GVfs names the share in lower case; the device's own spelling is shown.
    LUMVolumeRemote own(den);
    own.setVolumePathName(mountedShare(QStringLiteral("own"), kDenHost + QStringLiteral("/music")));
    EXPECT_EQ(own.capacityString(), QStringLiteral("Unknown")) << "not read before the match";
    ASSERT_TRUE(own.matchMountedPath(shares));
    EXPECT_EQ(own.mountedShare(), QStringLiteral("Music"));
    EXPECT_EQ(own.mountedPartitionString(), QStringLiteral("Music"));
    EXPECT_GT(own.totalBytesN(), 0);
    EXPECT_TRUE(kCapacity.match(own.capacityString()).hasMatch()) << own.capacityString().toStdString();
    EXPECT_EQ(own.volumeURL(), QUrl::fromLocalFile(own.volumePathName()));

    // The same share name, served by another address.
    LUMVolumeRemote foreign(den);
    foreign.setVolumePathName(mountedShare(QStringLiteral("foreign"), kAtticHost + QStringLiteral("/Music")));
    EXPECT_FALSE(foreign.matchMountedPath(shares));
    EXPECT_EQ(foreign.mountedShare(), QString());
    EXPECT_EQ(foreign.capacityString(), QStringLiteral("Unknown"));
}

TEST_F(RemoteVolumesTest, AShareMappedTwiceIsListedOnceAndUnmappingRemovesOnlyThatPath)
{
    monitor.followShareMapper(&mapper, &shares);
    QSignalSpy updates(&monitor, &LUMVolumeMonitor::triggerUpdate);
    const PMNetServicePtr den = device(QStringLiteral("Den"), kDenHost);
    const PMNetServicePtr attic = device(QStringLiteral("Attic"), kAtticHost);
    const QString music = mountedShare(QStringLiteral("music"), kDenHost + QStringLiteral("/Music"));
    const QString photos = mountedShare(QStringLiteral("photos"), kAtticHost + QStringLiteral("/Photos"));

    Q_EMIT mapper.netServiceMapped(music, den);
    Q_EMIT mapper.netServiceMapped(music, den);
    Q_EMIT mapper.netServiceMapped(photos, attic);
    // The list changes in the order of the announcements: once the last is in, so is the second.
    ASSERT_TRUE(testsupport::waitFor([&] { return paths().contains(photos); }));
    const QList<Row> listed = rows();
    ASSERT_EQ(listed.size(), 2) << pathLine();
    EXPECT_EQ(listed.at(0).name, QStringLiteral("Attic")) << "sorted by name";
    EXPECT_EQ(listed.at(0).partition, QStringLiteral("Photos"));
    EXPECT_EQ(listed.at(1).name, QStringLiteral("Den"));
    EXPECT_EQ(listed.at(1).path, music);
    EXPECT_EQ(listed.at(1).partition, QStringLiteral("Music"));
    EXPECT_EQ(listed.at(1).icon, LUMVolumeRemote::kIconName);
    EXPECT_TRUE(kCapacity.match(listed.at(1).capacity).hasMatch()) << listed.at(1).capacity.toStdString();
    EXPECT_TRUE(monitor.volumes().at(1)->isMounted());
    EXPECT_EQ(updates.size(), 2);

    // Unmapped because the device went away: the service is null.
    Q_EMIT mapper.netServiceUnmapped(music, PMNetServicePtr());
    ASSERT_TRUE(testsupport::waitFor([&] { return !paths().contains(music); }));
    EXPECT_EQ(pathLine(), photos.toStdString());
    EXPECT_EQ(updates.size(), 3);
}

TEST_F(RemoteVolumesTest, AShareAtALocalDrivesPathIsNotListedAgainAndItsUnmappingLeavesTheDrive)
{
    QString whyNot;
    auto drive = testsupport::DriveImage::create(testsupport::DriveImage::FileSystem::Ext4, 16, &whyNot);
    if (!drive || !drive->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    qputenv("PELLMERE_VOLUME_ROOTS", QFile::encodeName(QFileInfo(drive->mountPoint()).path()));
    monitor.followShareMapper(&mapper, &shares);
    monitor.start();
    ASSERT_EQ(pathLine(), drive->mountPoint().toStdString());
    const PMNetServicePtr den = device(QStringLiteral("Den"), kDenHost);
    shares.addForeignMount(drive->mountPoint(), kDenHost + QStringLiteral("/Music"));
    const QString photos = mountedShare(QStringLiteral("photos"), kDenHost + QStringLiteral("/Photos"));

    Q_EMIT mapper.netServiceMapped(drive->mountPoint(), den);
    Q_EMIT mapper.netServiceMapped(photos, den);
    ASSERT_TRUE(testsupport::waitFor([&] { return paths().contains(photos); }));
    EXPECT_EQ(paths().count(drive->mountPoint()), 1) << pathLine();
    EXPECT_EQ(rows().at(paths().indexOf(drive->mountPoint())).partition, QString()) << "still the local drive";

    Q_EMIT mapper.netServiceUnmapped(drive->mountPoint(), den);
    Q_EMIT mapper.netServiceUnmapped(photos, den);
    ASSERT_TRUE(testsupport::waitFor([&] { return !paths().contains(photos); }));
    EXPECT_EQ(pathLine(), drive->mountPoint().toStdString());
}
