// The agent's bookkeeping of drives, in process, with a real drive: a drive reported twice
// keeps its one controller, a busy drive reported again gets the busy alert, the unmount
// approval follows the controller's state, and the same device mounted a second time gets
// no second controller.
#include "agent/app/PMApplicationController.h"
#include "agent/app/PMDriveKey.h"
#include "agent/settings/PMConfigurationFile.h"
#include "agent/settings/PMHostUserIdentity.h"
#include "support/DriveImage.h"
#include "support/ScriptedAlertPresenter.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using testsupport::DriveImage;

namespace {

TEST(PMApplicationControllerTest, KeepsOneControllerPerDriveAndGuardsBusyOnes)
{
    const QString why = DriveImage::unavailableReason(DriveImage::FileSystem::Ext4);
    if (!why.isEmpty())
        GTEST_SKIP() << "needs real ext4 drive images (root and loop devices): " << why.toStdString();
    QString error;
    auto drive = DriveImage::create(DriveImage::FileSystem::Ext4, 32, &error);
    ASSERT_TRUE(drive && drive->mount(false, &error)) << error.toStdString();
    QDir().mkpath(testsupport::testHome() + QStringLiteral("/Music"));
    testsupport::writeFile(testsupport::testHome() + QStringLiteral("/Music/one.mp3"), QByteArray(2000, 'a'));

    PMApplicationController &app = PMApplicationController::sharedInstance();
    auto scripted = std::make_unique<testsupport::ScriptedAlertPresenter>();
    testsupport::ScriptedAlertPresenter *alerts = scripted.get();
    app.setAlertPresenter(std::move(scripted));
    const QString mount = drive->mountPoint();
    const QString key = drive->loopDevice().mid(5);

    // A new drive: registered, not synced; reported again, the same controller answers.
    app.newDriveAppeared(mount, QStringLiteral("Acme"), QString(), key);
    PMSyncController *controller = app.syncControllerForMountPoint(mount);
    ASSERT_NE(controller, nullptr);
    EXPECT_EQ(app.controllerKeys(), QStringList { key });
    EXPECT_FALSE(controller->participateSyncState());
    app.newDriveAppeared(mount, QStringLiteral("Acme"), QString(), key);
    EXPECT_EQ(app.syncControllerForMountPoint(mount), controller);
    EXPECT_EQ(app.controllerKeys(), QStringList { key });
    EXPECT_TRUE(alerts->requests().isEmpty());
    EXPECT_TRUE(app.approveUnmount(mount).approved);

    // The same device mounted at a second place is not a second drive.
    QTemporaryDir second;
    ASSERT_TRUE(DriveImage::run(QStringLiteral("mount"), { QStringLiteral("--bind"), mount, second.path() }));
    app.newDriveAppeared(second.path(), QStringLiteral("Acme"), QString(), key);
    EXPECT_EQ(app.controllerKeys(), QStringList { key });
    EXPECT_EQ(app.syncControllerForMountPoint(second.path()), nullptr);
    ASSERT_TRUE(DriveImage::run(QStringLiteral("umount"), { second.path() }));

    // Busy: reported again, the user hears why nothing starts; an unmount is refused.
    controller->sync();
    ASSERT_TRUE(controller->busy());
    app.newDriveAppeared(mount, QStringLiteral("Acme"), QString(), key);
    const protocol::PMUnmountAnswer refused = app.approveUnmount(mount);
    ASSERT_FALSE(alerts->requests().isEmpty());
    EXPECT_EQ(alerts->requests().first().title, QStringLiteral("Cannot Start Sync."));
    EXPECT_EQ(alerts->requests().first().message,
        QStringLiteral("The drive \"%1\" is already involved in a sync operation.").arg(QDir(mount).dirName()));
    EXPECT_FALSE(refused.approved);
    EXPECT_EQ(refused.status, 0xF8DA0002u);
    EXPECT_EQ(refused.message, QStringLiteral("Sync In Progress"));
    ASSERT_TRUE(testsupport::waitFor([&] { return !controller->busy(); }, std::chrono::seconds(60)));
    EXPECT_TRUE(app.approveUnmount(mount).approved);

    // Gone: the controller goes with it.
    app.driveDisappearedWithKey(key);
    EXPECT_TRUE(app.controllerKeys().isEmpty());
    EXPECT_EQ(app.syncControllerForMountPoint(mount), nullptr);
    app.cleanUp();
}

} // namespace
