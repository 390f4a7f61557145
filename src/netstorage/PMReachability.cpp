#include "netstorage/PMReachability.h"

#include "platform/NetworkAddressWatcher.h"

#include <QLoggingCategory>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

Q_LOGGING_CATEGORY(lcReachability, "pellmere.netstorage.reachability")

PMLocalReachability::PMLocalReachability(QObject *parent)
    : PMReachability(parent)
    , m_watcher(std::make_unique<platform::NetworkAddressWatcher>())
{
    connect(m_watcher.get(), &platform::NetworkAddressWatcher::addressesChanged, this, &PMReachability::changed);
}

PMLocalReachability::~PMLocalReachability() = default;

bool PMLocalReachability::start()
{
    return m_watcher->start();
}

bool PMLocalReachability::isReachable(const QHostAddress &address) const
{
    return isReachableThrough(address, currentSubnets());
}

QList<PMLocalSubnet> PMLocalReachability::currentSubnets()
{
    QList<PMLocalSubnet> subnets;
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0) {
        qCWarning(lcReachability) << "cannot read the interface addresses";
        return subnets;
    }
    const std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owner(list, &::freeifaddrs);
    for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (!(entry->ifa_flags & IFF_UP) || !entry->ifa_addr || !entry->ifa_netmask)
            continue;
        if (entry->ifa_addr->sa_family != AF_INET || entry->ifa_netmask->sa_family != AF_INET)
            continue;
        PMLocalSubnet subnet;
        subnet.address = ntohl(reinterpret_cast<const sockaddr_in *>(entry->ifa_addr)->sin_addr.s_addr);
        subnet.netmask = ntohl(reinterpret_cast<const sockaddr_in *>(entry->ifa_netmask)->sin_addr.s_addr);
        subnets.append(subnet);
    }
    return subnets;
}

bool PMLocalReachability::isReachableThrough(const QHostAddress &address, const QList<PMLocalSubnet> &subnets)
{
    if (address.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    if (address.isLoopback())
        return true;
    const quint32 ip = address.toIPv4Address();
    for (const PMLocalSubnet &subnet : subnets) {
        if ((ip & subnet.netmask) == (subnet.address & subnet.netmask))
            return true;
    }
    return false;
}
