// The agent's handling of network shares, in process, with a scripted SMB side and network:
// a share the mapper maps becomes a drive of its own (keyed by its path, a network device,
// with the share's identity), its device turning unreachable reaches the drive's controller,
// the device going away takes the drive with it, and a device whose shares cannot be listed
// gets the connection-error alert whose Retry lists them again.
#include "agent/app/PMApplicationController.h"
#include "agent/app/PMNetworkStorage.h"
#include "netstorage/PMNetServiceMapper.h"
#include "support/ScriptedAlertPresenter.h"
#include "support/ScriptedReachability.h"
#include "support/ScriptedShareService.h"
#include "support/TestEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

const QString kHostA = QStringLiteral("192.168.5.20");
const QString kHostB = QStringLiteral("192.168.5.30");

class NetworkDrivesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto scripted = std::make_unique<testsupport::ScriptedAlertPresenter>();
        alerts = scripted.get();
        app.setAlertPresenter(std::move(scripted));
        auto owned = std::make_unique<PMNetworkStorage>(&shares, &reachability, PMNetworkStorage::Options {});
        storage = owned.get();
        app.attachNetworkStorage(std::move(owned));
    }

    void TearDown() override { app.attachNetworkStorage(nullptr); }

    PMNetServicePtr device(const QString &name, const QString &host)
    {
        reachability.setReachable(host, true);
        auto service = PMNetServicePtr::create(&shares, &reachability);
        service->setServiceName(name);
        service->setListingTiming({ 200ms, 10ms });
        service->setIp4Addresses({ host }, host);
        return service;
    }

    testsupport::ScriptedShareService shares;
    testsupport::ScriptedReachability reachability;
    PMApplicationController &app = PMApplicationController::sharedInstance();
    testsupport::ScriptedAlertPresenter *alerts = nullptr;
    PMNetworkStorage *storage = nullptr;
};

TEST_F(NetworkDrivesTest, AMappedShareIsADriveUntilItsDeviceGoesAndHearsWhenItIsUnreachable)
{
    shares.setShares(kHostA, { QStringLiteral("Music") });
    const PMNetServicePtr a = device(QStringLiteral("Den"), kHostA);
    storage->mapper().netServiceAppeared(a);
    ASSERT_TRUE(testsupport::waitFor([&] { return a->mountedShares().size() == 1; }));

    // The share as GVfs shows it: a folder of its own, the share's name in lower case.
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    shares.addForeignMount(folder.path(), kHostA + QStringLiteral("/music"));
    EXPECT_EQ(app.syncControllerForMountPoint(folder.path()), nullptr) << "not a drive before it is mapped";
    storage->mapper().mapMountPoint(folder.path());
    ASSERT_TRUE(testsupport::waitFor([&] { return app.syncControllerForMountPoint(folder.path()) != nullptr; }));
    PMSyncController *controller = app.syncControllerForMountPoint(folder.path());
    EXPECT_EQ(app.controllerKeys(), QStringList { folder.path() });
    EXPECT_TRUE(controller->isNetworkDevice());
    EXPECT_EQ(controller->deviceUUIDString(), QStringLiteral("smb-share:Den/music"));
    EXPECT_EQ(controller->deviceUUIDString(),
        PMNetworkStorage::shareIdentity(QStringLiteral("Den"), QStringLiteral("Music")));
    EXPECT_TRUE(controller->isValidDevice()) << "the mapper vouches for the share";
    EXPECT_TRUE(controller->networkDeviceReachable());

    reachability.setReachable(kHostA, false);
    EXPECT_TRUE(testsupport::waitFor([&] { return !controller->networkDeviceReachable(); }));

    storage->mapper().netServiceDisappeared(a);
    EXPECT_TRUE(testsupport::waitFor([&] { return app.syncControllerForMountPoint(folder.path()) == nullptr; }));
    EXPECT_TRUE(app.controllerKeys().isEmpty());
    EXPECT_TRUE(alerts->requests().isEmpty());
}

TEST_F(NetworkDrivesTest, ADeviceWithoutSharesGetsTheConnectionAlertWhoseRetryListsAgain)
{
    shares.setListingFails(kHostB);
    alerts->appendAnswer(platform::AlertAnswer::Cancel); // "Retry"
    storage->mapper().netServiceAppeared(device(QStringLiteral("Attic"), kHostB));
    ASSERT_TRUE(testsupport::waitFor([&] { return alerts->requests().size() >= 1; }));
    EXPECT_EQ(alerts->requests().first().title, QStringLiteral("There was an error connecting to Attic"));
    EXPECT_EQ(alerts->requests().first().cancelLabel, QStringLiteral("Retry"));

    // The device was listed once when it appeared: only Retry lists it again, which fails
    // again and tells the user again.
    ASSERT_TRUE(testsupport::waitFor([&] { return alerts->requests().size() == 2; }));
    EXPECT_EQ(alerts->requests().at(1).title, QStringLiteral("There was an error connecting to Attic"));
}

} // namespace
