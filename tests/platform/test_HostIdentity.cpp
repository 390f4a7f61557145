#include "platform/HostIdentity.h"
#include "platform/HostIdentity_linux.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::HostIdentity;
using platform::LinuxHostIdentity;

namespace {

// A fake system root with the files the Linux identity reads.
class FakeRoot {
public:
    void addInterface(const QString &name, const QByteArray &address, bool physical)
    {
        testsupport::writeFile(path(QStringLiteral("sys/class/net/%1/address").arg(name)), address + '\n');
        if (physical)
            QDir().mkpath(path(QStringLiteral("sys/class/net/%1/device").arg(name)));
    }
    void setRoutes(const QByteArray &table) { testsupport::writeFile(path(QStringLiteral("proc/net/route")), table); }
    void setMachineId(const QByteArray &id) { testsupport::writeFile(path(QStringLiteral("etc/machine-id")), id); }
    void setMachineInfo(const QByteArray &text)
    {
        testsupport::writeFile(path(QStringLiteral("etc/machine-info")), text);
    }
    LinuxHostIdentity identity() const { return LinuxHostIdentity(m_dir.path()); }

private:
    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    QTemporaryDir m_dir;
};

const QByteArray kRouteHeader = "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\n";

} // namespace

TEST(HostIdentity, FormatsTheAddressWithAndWithoutColons)
{
    const QByteArray address = QByteArray::fromHex("001b638445e6");
    EXPECT_EQ(HostIdentity::formatMacAddress(address, true), QStringLiteral("00:1B:63:84:45:E6"));
    EXPECT_EQ(HostIdentity::formatMacAddress(address, false), QStringLiteral("001B638445E6"));
    EXPECT_TRUE(HostIdentity::formatMacAddress(QByteArray::fromHex("0011"), false).isEmpty());
}

TEST(HostIdentity, PrefersTheInterfaceOfTheDefaultRoute)
{
    FakeRoot root;
    root.addInterface(QStringLiteral("eth0"), "00:11:22:33:44:55", true);
    root.addInterface(QStringLiteral("wlan0"), "aa:bb:cc:dd:ee:ff", true);
    root.setRoutes(kRouteHeader + "eth0\t0000A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\n"
        + "wlan0\t00000000\t0100A8C0\t0003\t0\t0\t600\t00000000\n");
    EXPECT_EQ(
        HostIdentity::formatMacAddress(root.identity().primaryMacAddress(), false), QStringLiteral("AABBCCDDEEFF"));
}

TEST(HostIdentity, FallsBackToTheFirstPhysicalInterfaceByName)
{
    FakeRoot root;
    root.addInterface(QStringLiteral("lo"), "00:00:00:00:00:00", false);
    root.addInterface(QStringLiteral("docker0"), "02:42:ac:11:00:01", false);
    root.addInterface(QStringLiteral("enp2s0"), "00:00:00:00:00:00", true); // no address yet
    root.addInterface(QStringLiteral("enp3s0"), "10:20:30:40:50:60", true);
    root.addInterface(QStringLiteral("wlp4s0"), "70:80:90:a0:b0:c0", true);
    root.setRoutes(kRouteHeader); // no default route
    EXPECT_EQ(
        HostIdentity::formatMacAddress(root.identity().primaryMacAddress(), true), QStringLiteral("10:20:30:40:50:60"));
}

TEST(HostIdentity, UsesTheMachineIdWhenThereIsNoHardwareAddress)
{
    FakeRoot root;
    root.addInterface(QStringLiteral("lo"), "00:00:00:00:00:00", false);
    root.setMachineId("0a1b2c3d4e5f60718293a4b5c6d7e8f9\n");
    EXPECT_EQ(
        HostIdentity::formatMacAddress(root.identity().primaryMacAddress(), false), QStringLiteral("0A1B2C3D4E5F"));

    FakeRoot empty;
    EXPECT_TRUE(empty.identity().primaryMacAddress().isEmpty());
}

TEST(HostIdentity, MachineNameComesFromMachineInfoElseTheHostName)
{
    FakeRoot root;
    const LinuxHostIdentity plain = root.identity();
    EXPECT_EQ(plain.machineName(), plain.hostName());
    EXPECT_FALSE(plain.hostName().isEmpty());

    root.setMachineInfo("CHASSIS=laptop\nPRETTY_HOSTNAME=\"Alice's \\\"Work\\\" Laptop\"\n");
    EXPECT_EQ(root.identity().machineName(), QStringLiteral("Alice's \"Work\" Laptop"));
}

TEST(HostIdentity, ThisComputerHasAnIdentity)
{
    auto identity = HostIdentity::create();
    EXPECT_EQ(identity->primaryMacAddress().size(), 6) << "hardware address or machine id";
    EXPECT_FALSE(identity->userShortName().isEmpty());
}
