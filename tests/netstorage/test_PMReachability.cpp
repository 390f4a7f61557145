#include "netstorage/PMReachability.h"

#include <gtest/gtest.h>

namespace {

PMLocalSubnet subnet(const char *address, const char *netmask)
{
    return { QHostAddress(QString::fromLatin1(address)).toIPv4Address(),
        QHostAddress(QString::fromLatin1(netmask)).toIPv4Address() };
}

bool reachable(const char *address, const QList<PMLocalSubnet> &subnets)
{
    return PMLocalReachability::isReachableThrough(QHostAddress(QString::fromLatin1(address)), subnets);
}

TEST(PMReachability, AnAddressIsDirectWhenInsideTheSubnetOfAnInterface)
{
    const QList<PMLocalSubnet> subnets = { subnet("192.168.1.7", "255.255.255.0"), subnet("10.20.0.1", "255.255.0.0") };
    EXPECT_TRUE(reachable("192.168.1.20", subnets));
    EXPECT_TRUE(reachable("192.168.1.255", subnets));
    EXPECT_TRUE(reachable("10.20.200.3", subnets));
    EXPECT_FALSE(reachable("192.168.2.20", subnets));
    EXPECT_FALSE(reachable("10.21.0.1", subnets));
    EXPECT_FALSE(reachable("8.8.8.8", subnets));
    // A point-to-point /32 holds only its own address.
    EXPECT_TRUE(reachable("172.16.0.5", { subnet("172.16.0.5", "255.255.255.255") }));
    EXPECT_FALSE(reachable("172.16.0.6", { subnet("172.16.0.5", "255.255.255.255") }));
}

TEST(PMReachability, LoopbackIsAlwaysDirectAndOtherFamiliesNever)
{
    EXPECT_TRUE(reachable("127.0.0.1", {}));
    EXPECT_TRUE(reachable("127.3.4.5", {}));
    EXPECT_FALSE(reachable("::1", { subnet("0.0.0.0", "0.0.0.0") }));
    EXPECT_FALSE(reachable("fe80::1", { subnet("192.168.1.7", "255.255.255.0") }));
    EXPECT_FALSE(PMLocalReachability::isReachableThrough(QHostAddress(), { subnet("0.0.0.0", "0.0.0.0") }));
}

TEST(PMReachability, ThisComputersInterfacesAnswerForLoopbackAndTheirOwnAddresses)
{
    PMLocalReachability reachability;
    EXPECT_TRUE(reachability.isReachable(QHostAddress(QStringLiteral("127.0.0.1"))));
    const QList<PMLocalSubnet> subnets = PMLocalReachability::currentSubnets();
    ASSERT_FALSE(subnets.isEmpty()) << "no interface with an IPv4 address is up (not even loopback)";
    for (const PMLocalSubnet &own : subnets)
        EXPECT_TRUE(reachability.isReachable(QHostAddress(own.address)));
    // 192.0.2.0/24 is reserved for documentation: no real interface lies in it.
    const QHostAddress documentation(QStringLiteral("192.0.2.77"));
    bool onAnInterface = false;
    for (const PMLocalSubnet &own : subnets)
        onAnInterface = onAnInterface || (own.address & own.netmask) == (documentation.toIPv4Address() & own.netmask);
    EXPECT_EQ(reachability.isReachable(documentation), onAnInterface);
}

} // namespace
