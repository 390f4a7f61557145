// Discovery against a real avahi-daemon on a private bus, restricted to loopback, with fake
// devices announced by avahi-publish.
#include "netstorage/PMBonjourDiscoveryManager.h"

#include "netstorage/PMNetServiceMapper.h"
#include "netstorage/PMReachability.h"
#include "support/AvahiRig.h"
#include "support/ScriptedShareService.h"
#include "support/TestEnvironment.h"

#include <QSignalSpy>

#include <QProcess>

#include <gtest/gtest.h>

#include <sched.h>

#include <memory>

namespace {

using namespace std::chrono_literals;

// The whole program runs in a network namespace of its own when it may: the rig's daemon then
// sees only this loopback and a veth pair that leads nowhere, which gives a second interface.
bool g_privateNetwork = false;
QString g_whyNoSecondInterface;

bool ip(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("ip"), arguments);
    if (!process.waitForFinished(10'000) || process.exitCode() != 0) {
        g_whyNoSecondInterface = QStringLiteral("ip ") + arguments.join(QLatin1Char(' ')) + QStringLiteral(": ")
            + QString::fromLocal8Bit(process.readAll()) + process.errorString();
        return false;
    }
    return true;
}

class PrivateNetwork : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (::unshare(CLONE_NEWNET) != 0) {
            g_whyNoSecondInterface = QStringLiteral("cannot make a network namespace (needs CAP_SYS_ADMIN)");
            return;
        }
        g_privateNetwork = ip({ "link", "set", "lo", "up" })
            && ip({ "link", "add", "pmrig0", "type", "veth", "peer", "name", "pmrig1" })
            && ip({ "addr", "add", "10.99.0.1/24", "dev", "pmrig0" }) && ip({ "link", "set", "pmrig1", "up" })
            && ip({ "link", "set", "pmrig0", "up" });
    }
};

const auto *const g_privateNetworkEnvironment = ::testing::AddGlobalTestEnvironment(new PrivateNetwork);

QStringList names(const QSignalSpy &spy)
{
    QStringList result;
    for (const QList<QVariant> &arguments : spy) {
        const auto service = arguments.first().value<PMNetServicePtr>();
        result.append(service ? service->serviceName() : QString());
    }
    result.sort();
    return result;
}

QStringList names(const QList<PMNetServicePtr> &services)
{
    QStringList result;
    for (const PMNetServicePtr &service : services)
        result.append(service->serviceName());
    result.sort();
    return result;
}

class DiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig = std::make_unique<testsupport::AvahiRig>();
        const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
        if (QByteArray(test->name()).contains("SeveralInterfaces")) {
            if (!g_privateNetwork)
                GTEST_SKIP() << "no second interface: " << g_whyNoSecondInterface.toStdString();
            rig->setInterfaces({ QStringLiteral("lo"), QStringLiteral("pmrig0") });
        }
        if (!rig->start()) {
            if (rig->lacksCapability())
                GTEST_SKIP() << rig->whyNot().toStdString();
            FAIL() << rig->whyNot().toStdString();
        }
        discovery = std::make_unique<PMBonjourDiscoveryManager>(&shares, &reachability);
        discovery->setResolveRetryDelay(100ms);
        appeared = std::make_unique<QSignalSpy>(discovery.get(), &PMBonjourDiscoveryManager::netServiceAppeared);
        disappeared = std::make_unique<QSignalSpy>(discovery.get(), &PMBonjourDiscoveryManager::netServiceDisappeared);
        rejected = std::make_unique<QSignalSpy>(discovery.get(), &PMBonjourDiscoveryManager::netServiceRejected);
    }

    void TearDown() override
    {
        discovery.reset();
        rig.reset();
    }

    bool rejectedName(const QString &name) const
    {
        for (const QList<QVariant> &arguments : *rejected)
            if (arguments.first().toString() == name)
                return true;
        return false;
    }

    testsupport::ScriptedShareService shares;
    PMLocalReachability reachability;
    std::unique_ptr<testsupport::AvahiRig> rig;
    std::unique_ptr<PMBonjourDiscoveryManager> discovery;
    std::unique_ptr<QSignalSpy> appeared;
    std::unique_ptr<QSignalSpy> disappeared;
    std::unique_ptr<QSignalSpy> rejected;
};

TEST_F(DiscoveryTest, AnnouncesSupportedDevicesOnlyWithTheirAddressAndRecord)
{
    ASSERT_TRUE(rig->publish(QStringLiteral("Model A"), { QStringLiteral("skyvaleModel=QXA1") }))
        << rig->whyNot().toStdString();
    ASSERT_TRUE(rig->publish(QStringLiteral("Model B"), { QStringLiteral("skyvaleModel=QXB1") }));
    ASSERT_TRUE(rig->publish(QStringLiteral("Model C"), { QStringLiteral("skyvaleModel=QXC1") }));
    ASSERT_TRUE(rig->publish(QStringLiteral("Firmware Exact"),
        { QStringLiteral("skyvaleSerial=S1"), QStringLiteral("skyvaleSSID=home"),
            QStringLiteral("skyvaleVersion=2.0.0.55") }));
    ASSERT_TRUE(rig->publish(QStringLiteral("Firmware Old"),
        { QStringLiteral("skyvaleSerial=S2"), QStringLiteral("skyvaleSSID=home"),
            QStringLiteral("skyvaleVersion=2.0.0.054") }));
    // An unsupported model is ignored even when its serial, SSID and firmware would do.
    ASSERT_TRUE(rig->publish(QStringLiteral("Model Z"),
        { QStringLiteral("skyvaleModel=QXZ9"), QStringLiteral("skyvaleSerial=S3"), QStringLiteral("skyvaleSSID=home"),
            QStringLiteral("skyvaleVersion=2.0.0.055") }));
    ASSERT_TRUE(rig->publishIPv6Only(QStringLiteral("Only IPv6"), { QStringLiteral("skyvaleModel=QXA1") }))
        << rig->whyNot().toStdString();

    discovery->startListening();
    const QStringList accepted = { "Firmware Exact", "Model A", "Model B", "Model C" };
    ASSERT_TRUE(testsupport::waitFor([&] { return appeared->count() >= accepted.size(); }, 30s))
        << names(*appeared).join(", ").toStdString();
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            return rejectedName(QStringLiteral("Firmware Old")) && rejectedName(QStringLiteral("Model Z"))
                && rejectedName(QStringLiteral("Only IPv6"));
        },
        30s));
    EXPECT_EQ(names(*appeared), accepted);
    EXPECT_EQ(names(discovery->identifiedServices()), accepted);

    for (const PMNetServicePtr &service : discovery->identifiedServices()) {
        EXPECT_EQ(service->ip4AddressString(), QStringLiteral("127.0.0.1")) << service->serviceName().toStdString();
        EXPECT_EQ(service->addressesDisplayString(), QStringLiteral("127.0.0.1"));
        EXPECT_EQ(service->connectionStatus(), PMNetServiceObject::Reachable);
        EXPECT_EQ(service->netService().type, QStringLiteral("_skyvale_info._tcp"));
    }
    const auto modelB = std::find_if(discovery->identifiedServices().cbegin(), discovery->identifiedServices().cend(),
        [](const PMNetServicePtr &service) { return service->serviceName() == QStringLiteral("Model B"); });
    ASSERT_NE(modelB, discovery->identifiedServices().cend());
    EXPECT_EQ((*modelB)->txDictionary().value(QStringLiteral("skyvaleModel")), QByteArray("QXB1"));
}

TEST_F(DiscoveryTest, AnnouncesADeviceGoingAwayOnceAndForgetsWithoutAnnouncingWhenStopped)
{
    ASSERT_TRUE(rig->publish(QStringLiteral("Leaving"), { QStringLiteral("skyvaleModel=QXA1") }));
    ASSERT_TRUE(rig->publish(QStringLiteral("Staying"), { QStringLiteral("skyvaleModel=QXC1") }));
    discovery->startListening();
    ASSERT_TRUE(testsupport::waitFor([&] { return appeared->count() == 2; }, 30s));

    rig->unpublish(QStringLiteral("Leaving"));
    ASSERT_TRUE(testsupport::waitFor([&] { return disappeared->count() >= 1; }, 30s));
    EXPECT_EQ(names(*disappeared), QStringList { QStringLiteral("Leaving") });
    const auto gone = disappeared->first().first().value<PMNetServicePtr>();
    EXPECT_TRUE(gone->isStopped());
    EXPECT_EQ(names(discovery->identifiedServices()), QStringList { QStringLiteral("Staying") });

    // Coming back makes a new announcement; stopping forgets without one.
    ASSERT_TRUE(rig->publish(QStringLiteral("Leaving"), { QStringLiteral("skyvaleModel=QXA1") }));
    ASSERT_TRUE(testsupport::waitFor([&] { return appeared->count() == 3; }, 30s));
    discovery->stopListening();
    EXPECT_FALSE(discovery->isListening());
    EXPECT_TRUE(discovery->identifiedServices().isEmpty());
    EXPECT_EQ(disappeared->count(), 1);
}

TEST_F(DiscoveryTest, ADeviceWithBothAddressFamiliesIsAnnouncedWithItsIPv4Address)
{
    // The IPv6 address is there first, the IPv4 one only once the service is being resolved.
    ASSERT_TRUE(rig->publishAddress(QStringLiteral("pm-dual.local"), QStringLiteral("::1")))
        << rig->whyNot().toStdString();
    ASSERT_TRUE(rig->publishOnHost(
        QStringLiteral("Dual"), QStringLiteral("pm-dual.local"), { QStringLiteral("skyvaleModel=QXC1") }));
    discovery->startListening();
    ASSERT_TRUE(testsupport::waitFor([&] { return discovery->reportCount(QStringLiteral("Dual")) == 1; }, 30s));
    ASSERT_TRUE(rig->publishAddress(QStringLiteral("pm-dual.local"), QStringLiteral("127.0.0.1")))
        << rig->whyNot().toStdString();
    ASSERT_TRUE(testsupport::waitFor([&] { return appeared->count() == 1 || rejected->count() == 1; }, 30s));
    ASSERT_EQ(appeared->count(), 1) << "dropped for its IPv6 address";
    EXPECT_EQ(appeared->first().first().value<PMNetServicePtr>()->ip4AddressString(), QStringLiteral("127.0.0.1"));
}

TEST_F(DiscoveryTest, ADeviceSeenOnSeveralInterfacesStaysUntilEveryReportIsWithdrawn)
{
    ASSERT_TRUE(rig->publish(QStringLiteral("Twice"), { QStringLiteral("skyvaleModel=QXA1") }));
    discovery->startListening();
    ASSERT_TRUE(testsupport::waitFor([&] { return discovery->reportCount(QStringLiteral("Twice")) == 2; }, 30s));
    ASSERT_TRUE(testsupport::waitFor([&] { return appeared->count() == 1; }, 30s));

    // The veth side loses its address: that interface's report is withdrawn, the loopback one stays.
    ASSERT_TRUE(ip({ "addr", "del", "10.99.0.1/24", "dev", "pmrig0" })) << g_whyNoSecondInterface.toStdString();
    ASSERT_TRUE(testsupport::waitFor([&] { return discovery->reportCount(QStringLiteral("Twice")) == 1; }, 30s));
    EXPECT_EQ(disappeared->count(), 0);
    EXPECT_EQ(names(discovery->identifiedServices()), QStringList { QStringLiteral("Twice") });

    rig->unpublish(QStringLiteral("Twice"));
    ASSERT_TRUE(testsupport::waitFor([&] { return disappeared->count() >= 1; }, 30s));
    EXPECT_EQ(discovery->reportCount(QStringLiteral("Twice")), 0);
    EXPECT_EQ(appeared->count(), 1);
    EXPECT_TRUE(discovery->identifiedServices().isEmpty());
    ip({ "addr", "add", "10.99.0.1/24", "dev", "pmrig0" });
    // Settled: the one disappearance stays the only one.
    ASSERT_TRUE(rig->publish(QStringLiteral("Marker"), { QStringLiteral("skyvaleModel=QXB1") }));
    ASSERT_TRUE(testsupport::waitFor([&] { return appeared->count() == 2; }, 30s));
    EXPECT_EQ(disappeared->count(), 1);
}

TEST_F(DiscoveryTest, WaitsForTheSystemBusAndTheDaemonWhenNeitherIsThereAtFirst)
{
    rig->stopDaemon();
    rig->stopBus();
    discovery->setReconnectDelay(100ms);
    discovery->startListening();
    EXPECT_FALSE(discovery->isBrowsing());
    ASSERT_TRUE(rig->startBus()) << rig->whyNot().toStdString();
    ASSERT_TRUE(rig->startDaemon()) << rig->whyNot().toStdString();
    ASSERT_TRUE(rig->publish(QStringLiteral("Patient"), { QStringLiteral("skyvaleModel=QXC1") }));
    ASSERT_TRUE(testsupport::waitFor([&] { return appeared->count() == 1; }, 30s));
}

TEST_F(DiscoveryTest, KeepsRunningWhileTheDaemonIsAwayAndResumesWhenItReturns)
{
    ASSERT_TRUE(rig->publish(QStringLiteral("Survivor"), { QStringLiteral("skyvaleModel=QXB1") }));
    discovery->startListening();
    ASSERT_TRUE(testsupport::waitFor([&] { return appeared->count() == 1; }, 30s));

    rig->stopDaemon();
    // Without the daemon nobody vouches for the device any more.
    ASSERT_TRUE(testsupport::waitFor([&] { return disappeared->count() == 1; }, 30s));
    EXPECT_TRUE(discovery->isListening());
    EXPECT_FALSE(discovery->isBrowsing());

    ASSERT_TRUE(rig->startDaemon()) << rig->whyNot().toStdString();
    // avahi-publish lost the daemon too; announce the device again.
    rig->unpublish(QStringLiteral("Survivor"));
    ASSERT_TRUE(rig->publish(QStringLiteral("Survivor"), { QStringLiteral("skyvaleModel=QXB1") }));
    ASSERT_TRUE(testsupport::waitFor([&] { return appeared->count() == 2; }, 30s));
    EXPECT_TRUE(discovery->isBrowsing());
    EXPECT_EQ(names(discovery->identifiedServices()), QStringList { QStringLiteral("Survivor") });
}

TEST_F(DiscoveryTest, StartsWithoutTheDaemonAndFindsDevicesOnceItRuns)
{
    rig->stopDaemon();
    discovery->startListening();
    EXPECT_TRUE(discovery->isListening());
    EXPECT_FALSE(discovery->isBrowsing());
    ASSERT_TRUE(rig->startDaemon()) << rig->whyNot().toStdString();
    ASSERT_TRUE(rig->publish(QStringLiteral("Late"), { QStringLiteral("skyvaleModel=QXA1") }));
    ASSERT_TRUE(testsupport::waitFor([&] { return appeared->count() == 1; }, 30s));
    EXPECT_EQ(names(*appeared), QStringList { QStringLiteral("Late") });
}

// Not discovery, but it needs the same private network: real address changes on an interface.
TEST(PrivateNetworkReachability, AddressChangesReachDevicesAndTheMappersDelay)
{
    if (!g_privateNetwork)
        GTEST_SKIP() << "no private network: " << g_whyNoSecondInterface.toStdString();
    PMLocalReachability reachability;
    ASSERT_TRUE(reachability.start());
    testsupport::ScriptedShareService shares;
    PMNetServiceMapper mapper(&shares);
    mapper.setNetworkChangeDelay(1h);
    ASSERT_TRUE(mapper.watchNetworkChanges());
    const QString deviceAddress = QStringLiteral("10.98.0.77");
    auto device = PMNetServicePtr::create(&shares, &reachability);
    device->setIp4Addresses({ deviceAddress }, deviceAddress);
    EXPECT_EQ(device->connectionStatus(), PMNetServiceObject::NotReachable);
    EXPECT_EQ(mapper.delay(), 0ms);

    ASSERT_TRUE(ip({ "addr", "add", "10.98.0.1/24", "dev", "pmrig1" })) << g_whyNoSecondInterface.toStdString();
    EXPECT_TRUE(testsupport::waitFor([&] { return device->connectionStatus() == PMNetServiceObject::Reachable; }));
    EXPECT_TRUE(testsupport::waitFor([&] { return mapper.delay() == 1h; }));

    QSignalSpy unreachable(device.get(), &PMNetServiceObject::becameUnreachable);
    ASSERT_TRUE(ip({ "addr", "del", "10.98.0.1/24", "dev", "pmrig1" }));
    EXPECT_TRUE(testsupport::waitFor([&] { return unreachable.count() == 1; }));
    EXPECT_EQ(device->connectionStatus(), PMNetServiceObject::NotReachable);
}

TEST(PMBonjourDiscoveryManager, ValidityNeedsAKnownModelOrSerialSsidAndExactlyTheMinimumFirmware)
{
    using D = PMBonjourDiscoveryManager;
    using Txt = QMap<QString, QByteArray>;
    for (const char *model : { "QXA1", "QXB1", "QXC1" })
        EXPECT_TRUE(D::isValidDevice(Txt { { D::kTxtKeyModel, model } })) << model;
    EXPECT_FALSE(D::isValidDevice(Txt { { D::kTxtKeyModel, "qxa1" } }));
    EXPECT_FALSE(D::isValidDevice(Txt { { D::kTxtKeyModel, "" } }));
    EXPECT_FALSE(D::isValidDevice(Txt { { D::kTxtKeyModel, "QXZ9" }, { D::kTxtKeySerial, "S" },
        { D::kTxtKeySSID, "home" }, { D::kTxtKeyVersion, "2.0.0.055" } }));

    const auto firmware = [](const char *version) {
        return Txt { { D::kTxtKeySerial, "S" }, { D::kTxtKeySSID, "home" }, { D::kTxtKeyVersion, version } };
    };
    EXPECT_TRUE(D::isValidDevice(firmware("2.0.0.055")));
    EXPECT_TRUE(D::isValidDevice(firmware("2.0.0.55")));
    EXPECT_FALSE(D::isValidDevice(firmware("2.0.0.056")));
    EXPECT_FALSE(D::isValidDevice(firmware("2.0.0.054")));
    EXPECT_FALSE(D::isValidDevice(firmware("")));
    EXPECT_FALSE(D::isValidDevice(Txt { { D::kTxtKeySerial, "S" }, { D::kTxtKeyVersion, "2.0.0.055" } }));
    EXPECT_FALSE(D::isValidDevice(Txt { { D::kTxtKeySSID, "home" }, { D::kTxtKeyVersion, "2.0.0.055" } }));
    EXPECT_FALSE(D::isValidDevice(Txt {}));
}

} // namespace
