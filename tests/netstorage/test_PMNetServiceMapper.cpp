#include "netstorage/PMNetServiceMapper.h"

#include "support/ScriptedReachability.h"
#include "support/ScriptedShareService.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace std::chrono_literals;

const QString kHostA = QStringLiteral("192.168.5.20");
const QString kHostB = QStringLiteral("192.168.5.30");

QStringList paths(const QSignalSpy &spy)
{
    QStringList result;
    for (const QList<QVariant> &arguments : spy)
        result.append(arguments.at(0).toString());
    result.sort();
    return result;
}

class MapperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mapper = std::make_unique<PMNetServiceMapper>(&shares);
        mapper->setMountedVolumesSource([this] { return shares.mountedPaths(); });
        mapped = std::make_unique<QSignalSpy>(mapper.get(), &PMNetServiceMapper::netServiceMapped);
        unmapped = std::make_unique<QSignalSpy>(mapper.get(), &PMNetServiceMapper::netServiceUnmapped);
        failed = std::make_unique<QSignalSpy>(mapper.get(), &PMNetServiceMapper::netServiceFailedToListShares);
    }

    void TearDown() override { mapper.reset(); }

    PMNetServicePtr device(const QString &name, const QString &host)
    {
        reachability.setReachable(host, true);
        auto service = PMNetServicePtr::create(&shares, &reachability);
        service->setServiceName(name);
        service->setListingTiming({ 200ms, 10ms });
        service->setIp4Addresses({ host }, host);
        return service;
    }

    QString foreignMount(const QString &host, const QString &share)
    {
        const QString path = QStringLiteral("/media/smb/") + host + QLatin1Char('/') + share;
        shares.addForeignMount(path, host + QLatin1Char('/') + share);
        return path;
    }

    testsupport::ScriptedShareService shares;
    testsupport::ScriptedReachability reachability;
    std::unique_ptr<PMNetServiceMapper> mapper;
    std::unique_ptr<QSignalSpy> mapped;
    std::unique_ptr<QSignalSpy> unmapped;
    std::unique_ptr<QSignalSpy> failed;
};

TEST_F(MapperTest, MapsAMountedShareToTheDeviceServingItAndAnnouncesItOnce)
{
    shares.setShares(kHostA, { QStringLiteral("music") });
    shares.setShares(kHostB, { QStringLiteral("music"), QStringLiteral("photos") });
    const PMNetServicePtr a = device(QStringLiteral("A"), kHostA);
    const PMNetServicePtr b = device(QStringLiteral("B"), kHostB);
    mapper->netServiceAppeared(a);
    mapper->netServiceAppeared(b);
    ASSERT_TRUE(testsupport::waitFor([&] { return a->publicShares().size() == 1 && b->publicShares().size() == 2; }));

    const QString photos = foreignMount(kHostB, QStringLiteral("photos"));
    mapper->mapMountPoint(photos);
    mapper->mapMountPoint(photos);
    mapper->waitForQueuedWork();
    ASSERT_EQ(mapped->count(), 1);
    EXPECT_EQ(mapped->first().at(0).toString(), photos);
    EXPECT_EQ(mapped->first().at(1).value<PMNetServicePtr>(), b);
    EXPECT_EQ(mapper->mappedServices().value(photos), b);
    EXPECT_TRUE(mapper->isMappedSharePath(photos));

    // A share the device does not list, a host no device has, a folder that is no share.
    mapper->mapMountPoint(foreignMount(kHostA, QStringLiteral("photos")));
    mapper->mapMountPoint(foreignMount(QStringLiteral("10.9.9.9"), QStringLiteral("music")));
    mapper->mapMountPoint(QStringLiteral("/media/usb"));
    mapper->mapMountPoint(QString());
    mapper->waitForQueuedWork();
    EXPECT_EQ(mapped->count(), 1);
    EXPECT_EQ(mapper->mappedServices().keys(), QStringList { photos });
}

TEST_F(MapperTest, MatchesTheShareNameWithoutRegardToCase)
{
    // GVfs names the folder of a share listed as "Public" ".../share=public".
    shares.setShares(kHostA, { QStringLiteral("Public"), QStringLiteral("Photos") });
    const PMNetServicePtr a = device(QStringLiteral("A"), kHostA);
    mapper->netServiceAppeared(a);
    ASSERT_TRUE(testsupport::waitFor([&] { return a->publicShares().size() == 2; }));

    const QString lower = foreignMount(kHostA, QStringLiteral("public"));
    mapper->mapMountPoint(lower);
    mapper->waitForQueuedWork();
    ASSERT_EQ(mapped->count(), 1);
    EXPECT_EQ(mapped->first().at(0).toString(), lower);
    EXPECT_EQ(mapper->mappedServices().value(lower), a);

    // A device's shares mapped all at once (after mounting them) match the same way.
    const QString photos = foreignMount(kHostA, QStringLiteral("photos"));
    mapper->mountAllSharesOfNetService(a);
    ASSERT_TRUE(testsupport::waitFor([&] { return mapper->isMappedSharePath(photos); }));
    EXPECT_EQ(mapper->mappedServices().value(photos), a);
}

TEST_F(MapperTest, UnmapsByPathOrWhenTheDeviceGoesAway)
{
    shares.setShares(kHostA, { QStringLiteral("music"), QStringLiteral("photos") });
    const PMNetServicePtr a = device(QStringLiteral("A"), kHostA);
    mapper->netServiceAppeared(a);
    ASSERT_TRUE(testsupport::waitFor([&] { return a->publicShares().size() == 2; }));
    const QString music = foreignMount(kHostA, QStringLiteral("music"));
    const QString photos = foreignMount(kHostA, QStringLiteral("photos"));
    mapper->mapMountPoint(music);
    mapper->mapMountPoint(photos);
    mapper->waitForQueuedWork();
    ASSERT_EQ(mapped->count(), 2);

    mapper->unmapMountPoint(music);
    mapper->unmapMountPoint(music);
    mapper->unmapMountPoint(QStringLiteral("/media/never-mapped"));
    mapper->waitForQueuedWork();
    ASSERT_EQ(unmapped->count(), 1);
    EXPECT_EQ(unmapped->first().at(0).toString(), music);
    EXPECT_EQ(unmapped->first().at(1).value<PMNetServicePtr>(), a);

    mapper->netServiceDisappeared(a);
    ASSERT_EQ(unmapped->count(), 2);
    EXPECT_EQ(unmapped->at(1).at(0).toString(), photos);
    EXPECT_TRUE(unmapped->at(1).at(1).value<PMNetServicePtr>().isNull()) << "a gone device is not named";
    EXPECT_TRUE(a->isStopped());
    EXPECT_TRUE(mapper->mappedServices().isEmpty());
    EXPECT_TRUE(mapper->services().isEmpty());

    // Gone devices are not mapped again.
    mapper->mapMountPoint(photos);
    mapper->waitForQueuedWork();
    EXPECT_EQ(mapped->count(), 2);
}

TEST_F(MapperTest, WithoutAutoMountListsSharesOnDemandBeforeMapping)
{
    // The device does not answer when it appears...
    const PMNetServicePtr a = device(QStringLiteral("A"), kHostA);
    mapper->netServiceAppeared(a);
    ASSERT_TRUE(testsupport::waitFor([&] { return shares.listingCalls(kHostA) >= 1; }));
    const QString music = foreignMount(kHostA, QStringLiteral("music"));
    // ...but does by the time one of its shares is mounted by someone else.
    shares.setShares(kHostA, { QStringLiteral("music") });
    mapper->mapMountPoint(music);
    ASSERT_TRUE(testsupport::waitFor([&] { return mapped->count() >= 1; }));
    mapper->waitForQueuedWork();
    EXPECT_EQ(paths(*mapped), QStringList { music });
    EXPECT_EQ(shares.mountCalls(), 0) << "nothing is mounted without auto-mount";
}

TEST_F(MapperTest, AutoMountMountsEveryShareAndMapsThemOrAnnouncesTheListingFailure)
{
    mapper->setAutoMount(true);
    shares.setShares(kHostA, { QStringLiteral("music"), QStringLiteral("photos"), QStringLiteral("broken") });
    shares.setMountFails(kHostA, QStringLiteral("broken"));
    const PMNetServicePtr a = device(QStringLiteral("A"), kHostA);
    mapper->netServiceAppeared(a);
    const QString music = testsupport::ScriptedShareService::mountPathFor(kHostA, QStringLiteral("music"));
    const QString photos = testsupport::ScriptedShareService::mountPathFor(kHostA, QStringLiteral("photos"));
    ASSERT_TRUE(testsupport::waitFor([&] { return mapped->count() >= 2; }));
    mapper->waitForQueuedWork();
    EXPECT_EQ(paths(*mapped), (QStringList { music, photos }));
    EXPECT_EQ(shares.mountedPaths(), (QStringList { music, photos }));
    EXPECT_EQ(a->mountedShares().size(), 2);

    // A device that never names a share: announced as failed, with the device and the error.
    const PMNetServicePtr b = device(QStringLiteral("B"), kHostB);
    shares.setListingFails(kHostB);
    mapper->netServiceAppeared(b);
    ASSERT_TRUE(testsupport::waitFor([&] { return failed->count() == 1; }));
    const auto error = failed->first().at(0).value<PMShareServiceError>();
    EXPECT_EQ(error.code, PMShareServiceError::kNoPublicShares);
    EXPECT_EQ(error.domain, PMShareServiceError::kDomain);
    EXPECT_EQ(failed->first().at(1).value<PMNetServicePtr>(), b);
    EXPECT_EQ(mapped->count(), 2);
}

TEST_F(MapperTest, AutoMountWaitsTheNetworkChangeDelayAfterAChange)
{
    constexpr auto kDelay = 400ms;
    mapper->setAutoMount(true);
    mapper->setNetworkChangeDelay(kDelay);
    EXPECT_EQ(mapper->delay(), 0ms);

    mapper->networkConfigurationChanged();
    EXPECT_EQ(mapper->delay(), kDelay);
    shares.setShares(kHostA, { QStringLiteral("music") });
    QElapsedTimer sinceAppeared;
    sinceAppeared.start();
    mapper->netServiceAppeared(device(QStringLiteral("A"), kHostA));
    ASSERT_TRUE(testsupport::waitFor([&] { return shares.listingCalls(kHostA) >= 1; }));
    // A timer never fires early: asked sooner than the delay means it did not wait.
    EXPECT_GE(sinceAppeared.elapsed(), qint64(kDelay.count()));
    ASSERT_TRUE(testsupport::waitFor([&] { return mapped->count() == 1; }));

    // The delay ends by itself; a device appearing later is mounted at once.
    ASSERT_TRUE(testsupport::waitFor([&] { return mapper->delay() == 0ms; }));
    mapper->setNetworkChangeDelay(1h);
    shares.setShares(kHostB, { QStringLiteral("photos") });
    mapper->netServiceAppeared(device(QStringLiteral("B"), kHostB));
    ASSERT_TRUE(testsupport::waitFor([&] { return mapped->count() == 2; }));
}

} // namespace
