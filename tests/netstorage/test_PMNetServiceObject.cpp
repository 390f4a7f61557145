#include "netstorage/PMNetServiceObject.h"

#include "support/ScriptedReachability.h"
#include "support/ScriptedShareService.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using namespace std::chrono_literals;

const QString kHost = QStringLiteral("192.168.5.20");

class PMNetServiceObjectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        reachability.setReachable(kHost, true);
        device = PMNetServicePtr::create(&shares, &reachability);
        device->setServiceName(QStringLiteral("Living Room"));
        // Short waits: tests must not sit out the real 90 s / 2 s.
        device->setListingTiming({ 60s, 10ms });
    }

    void watch() { device->setIp4Addresses({ kHost }, kHost); }

    testsupport::ScriptedShareService shares;
    testsupport::ScriptedReachability reachability;
    PMNetServicePtr device;
};

TEST_F(PMNetServiceObjectTest, StatusFollowsReachabilityOfTheChosenAddress)
{
    EXPECT_EQ(device->connectionStatus(), PMNetServiceObject::NotWatched);
    QSignalSpy unreachable(device.get(), &PMNetServiceObject::becameUnreachable);

    watch();
    EXPECT_EQ(device->connectionStatus(), PMNetServiceObject::Reachable);
    EXPECT_EQ(device->addressesDisplayString(), kHost);

    reachability.setReachable(kHost, false);
    EXPECT_EQ(device->connectionStatus(), PMNetServiceObject::NotReachable);
    ASSERT_EQ(unreachable.count(), 1);
    EXPECT_EQ(unreachable.first().first().value<PMNetServiceObject *>(), device.get());
    // Another change that leaves it unreachable is not news.
    reachability.setReachable(QStringLiteral("10.0.0.1"), true);
    EXPECT_EQ(unreachable.count(), 1);

    reachability.setReachable(kHost, true);
    EXPECT_EQ(device->connectionStatus(), PMNetServiceObject::Reachable);

    device->setIp4Addresses({}, QString());
    EXPECT_EQ(device->connectionStatus(), PMNetServiceObject::NotWatched);
    reachability.setReachable(kHost, false);
    EXPECT_EQ(device->connectionStatus(), PMNetServiceObject::NotWatched);
    EXPECT_EQ(unreachable.count(), 1);
}

TEST_F(PMNetServiceObjectTest, ListingAsksUntilTheDeviceNamesSharesAndSortsThem)
{
    watch();
    std::atomic<bool> done = false;
    bool listed = false;
    std::thread lister([&] {
        listed = device->updateSharesListSync(nullptr);
        done = true;
    });
    // The device does not answer at first; the listing keeps asking.
    ASSERT_TRUE(testsupport::waitFor([&] { return shares.listingCalls(kHost) >= 2; }));
    EXPECT_FALSE(done);
    shares.setShares(kHost, { QStringLiteral("music"), QStringLiteral("Backup"), QStringLiteral("archive") });
    ASSERT_TRUE(testsupport::waitFor([&] { return done.load(); }));
    lister.join();
    EXPECT_TRUE(listed);
    EXPECT_EQ(device->publicShares(), (QStringList { "Backup", "archive", "music" }));
}

TEST_F(PMNetServiceObjectTest, ListingEndsWithTheNoSharesErrorWhenUnreachableOrStopped)
{
    // Never watched: the device is not asked at all.
    PMShareServiceError error;
    EXPECT_FALSE(device->updateSharesListSync(&error));
    EXPECT_EQ(shares.listingCalls(kHost), 0);
    EXPECT_EQ(error.domain, QStringLiteral("com.corvane.shareservicesdomain"));
    EXPECT_EQ(error.code, 10001);
    EXPECT_TRUE(error.message.startsWith(QStringLiteral("No public shares were found.")));

    // Unreachable while the listing waits between two questions: it ends at once, long before
    // its time-out.
    device->setListingTiming({ 10min, 10min });
    watch();
    std::atomic<bool> done = false;
    PMShareServiceError listingError;
    std::thread lister([&] {
        device->updateSharesListSync(&listingError);
        done = true;
    });
    ASSERT_TRUE(testsupport::waitFor([&] { return shares.listingCalls(kHost) >= 1; }));
    reachability.setReachable(kHost, false);
    ASSERT_TRUE(testsupport::waitFor([&] { return done.load(); }));
    lister.join();
    EXPECT_EQ(listingError.code, 10001);
    EXPECT_EQ(shares.listingCalls(kHost), 1);

    // Stopped while waiting: the same.
    reachability.setReachable(kHost, true);
    done = false;
    std::thread stoppedLister([&] {
        device->updateSharesListSync(nullptr);
        done = true;
    });
    ASSERT_TRUE(testsupport::waitFor([&] { return shares.listingCalls(kHost) >= 2; }));
    device->stop();
    ASSERT_TRUE(testsupport::waitFor([&] { return done.load(); }));
    stoppedLister.join();
    EXPECT_TRUE(device->isStopped());
    EXPECT_EQ(device->connectionStatus(), PMNetServiceObject::NotWatched);
}

TEST_F(PMNetServiceObjectTest, ListingGivesUpAfterItsTimeOut)
{
    device->setListingTiming({ 50ms, 10ms });
    watch();
    shares.setShares(kHost, {}); // answers, but without disk shares
    PMShareServiceError error;
    EXPECT_FALSE(device->updateSharesListSync(&error));
    EXPECT_EQ(error.code, 10001);
    EXPECT_GE(shares.listingCalls(kHost), 1);
}

TEST_F(PMNetServiceObjectTest, MountsOnlySharesOfTheLastListingAndUnmountsThem)
{
    watch();
    shares.setShares(kHost, { QStringLiteral("music"), QStringLiteral("photos") });
    ASSERT_TRUE(device->updateSharesListSync(nullptr));

    PMShareServiceError error;
    EXPECT_FALSE(device->mountShareSync(QStringLiteral("secret"), &error));
    EXPECT_EQ(error.code, 10002);
    EXPECT_EQ(error.message, QStringLiteral("SAMBA share not found or invalid."));
    EXPECT_EQ(shares.mountCalls(), 0) << "the network was touched for a share nobody listed";

    ASSERT_TRUE(device->mountShareSync(QStringLiteral("music"), &error));
    ASSERT_TRUE(device->mountShareSync(QStringLiteral("photos"), &error));
    const QString musicPath = testsupport::ScriptedShareService::mountPathFor(kHost, QStringLiteral("music"));
    EXPECT_EQ(device->mountedShares().value(QStringLiteral("music")), musicPath);
    EXPECT_EQ(shares.networkAddress(musicPath), kHost + QStringLiteral("/music"));

    // A failed platform mount is false without an error object.
    shares.setShares(kHost, { QStringLiteral("music"), QStringLiteral("photos"), QStringLiteral("video") });
    ASSERT_TRUE(device->updateSharesListSync(nullptr));
    shares.setMountFails(kHost, QStringLiteral("video"));
    PMShareServiceError noError;
    EXPECT_FALSE(device->mountShareSync(QStringLiteral("video"), &noError));
    EXPECT_TRUE(noError.isNull());

    // One unmount fails: the others still happen and the whole answers false.
    shares.setUnmountFails(musicPath);
    EXPECT_FALSE(device->unmountAllSharesSync());
    EXPECT_EQ(shares.mountedPaths(), QStringList { musicPath });
    EXPECT_EQ(device->mountedShares().keys(), QStringList { QStringLiteral("music") });
    // Shares never mounted or not listed count as unmounted.
    EXPECT_TRUE(device->unmountShareSync(QStringLiteral("video")));
    EXPECT_TRUE(device->unmountShareSync(QStringLiteral("unknown")));

    // Stopped: no more mounts.
    device->stop();
    EXPECT_FALSE(device->mountShareSync(QStringLiteral("photos"), &error));
    EXPECT_EQ(error.code, 10002);
}

TEST_F(PMNetServiceObjectTest, ComparesByNameAndCopiesTheIdentityOnly)
{
    PMNetServiceObject unnamed(&shares, &reachability);
    PMNetServiceObject alsoUnnamed(&shares, &reachability);
    PMNetServiceObject lower(&shares, &reachability);
    lower.setServiceName(QStringLiteral("living room"));
    PMNetServiceObject other(&shares, &reachability);
    other.setServiceName(QStringLiteral("Office"));
    EXPECT_EQ(PMNetServiceObject::compare(unnamed, *device), -1);
    EXPECT_EQ(PMNetServiceObject::compare(*device, unnamed), 1);
    EXPECT_EQ(PMNetServiceObject::compare(unnamed, alsoUnnamed), 0);
    EXPECT_EQ(PMNetServiceObject::compare(lower, *device), 0);
    EXPECT_EQ(PMNetServiceObject::compare(*device, other), -1);
    EXPECT_EQ(PMNetServiceObject::compare(other, lower), 1);

    watch();
    device->setTxDictionary({ { QStringLiteral("skyvaleModel"), QByteArray("QXB1") } });
    device->setNetService(
        { QStringLiteral("Living Room"), QStringLiteral("_skyvale_info._tcp"), QStringLiteral("local"), 1, 0 });
    shares.setShares(kHost, { QStringLiteral("music") });
    ASSERT_TRUE(device->updateSharesListSync(nullptr));
    ASSERT_TRUE(device->mountShareSync(QStringLiteral("music"), nullptr));
    device->stop();

    const PMNetServicePtr twin = device->copy();
    EXPECT_EQ(twin->serviceName(), device->serviceName());
    EXPECT_EQ(twin->ip4AddressString(), kHost);
    EXPECT_EQ(twin->txDictionary(), device->txDictionary());
    EXPECT_TRUE(twin->netService().sameService(device->netService()));
    EXPECT_TRUE(twin->publicShares().isEmpty());
    EXPECT_TRUE(twin->mountedShares().isEmpty());
    EXPECT_FALSE(twin->isStopped());
    EXPECT_EQ(twin->connectionStatus(), PMNetServiceObject::Reachable);
}

TEST_F(PMNetServiceObjectTest, ServesHostMatchesEveryAddressWithItsPort)
{
    device->setIp4Addresses({ kHost, QStringLiteral("10.1.1.1") }, kHost);
    EXPECT_EQ(device->addressesDisplayString(), kHost + QStringLiteral(", 10.1.1.1"));
    EXPECT_TRUE(device->servesHost(QStringLiteral("10.1.1.1")));
    EXPECT_FALSE(device->servesHost(QStringLiteral("10.1.1.2")));
    EXPECT_EQ(device->shareHost(), kHost);
    device->setSmbPort(4455);
    EXPECT_EQ(device->shareHost(), kHost + QStringLiteral(":4455"));
    EXPECT_TRUE(device->servesHost(kHost + QStringLiteral(":4455")));
    EXPECT_FALSE(device->servesHost(kHost)) << "another server on the same machine";
}

} // namespace

TEST(PMNetServiceObjectLifetime, GoesOnItsOwnThreadWhenTheLastReferenceGoesElsewhere)
{
    testsupport::ScriptedShareService shares;
    testsupport::ScriptedReachability reachability;
    PMNetServicePtr device = PMNetServiceObject::create(&shares, &reachability);
    device->setIp4Addresses({ kHost }, kHost); // delivers reachability changes on this thread
    const QPointer<PMNetServiceObject> watched(device.get());

    std::thread worker([held = std::move(device)]() mutable { held.reset(); });
    worker.join();
    // A reachability change after the worker let go still reaches a whole object.
    reachability.setReachable(kHost, false);
    EXPECT_FALSE(watched.isNull());
    // The main loop deletes it; the test has none running, so it hands the deferred deletion over.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(watched.isNull());

    PMNetServicePtr local = PMNetServiceObject::create(&shares, &reachability);
    const QPointer<PMNetServiceObject> gone(local.get());
    local.reset();
    EXPECT_TRUE(gone.isNull()); // on its own thread: at once
}
