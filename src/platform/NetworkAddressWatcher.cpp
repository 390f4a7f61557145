#include "platform/NetworkAddressWatcher.h"

#include <QLoggingCategory>
#include <QSocketNotifier>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

Q_LOGGING_CATEGORY(lcAddressWatcher, "pellmere.platform.network")

namespace platform {

NetworkAddressWatcher::NetworkAddressWatcher(QObject *parent)
    : QObject(parent)
{
}

NetworkAddressWatcher::~NetworkAddressWatcher() = default;

bool NetworkAddressWatcher::start()
{
    if (isRunning())
        return true;
    UniqueFd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!fd.isValid()) {
        qCWarning(lcAddressWatcher) << "cannot open a route netlink socket:" << std::strerror(errno);
        return false;
    }
    sockaddr_nl local = {};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
    if (::bind(fd.get(), reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        qCWarning(lcAddressWatcher) << "cannot join the address groups of route netlink:" << std::strerror(errno);
        return false;
    }
    m_socket = std::move(fd);
    m_notifier = std::make_unique<QSocketNotifier>(m_socket.get(), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &NetworkAddressWatcher::readMessages);
    return true;
}

void NetworkAddressWatcher::stop()
{
    m_notifier.reset();
    m_socket.reset();
}

void NetworkAddressWatcher::readMessages()
{
    bool changed = false;
    alignas(nlmsghdr) char buffer[8192];
    for (;;) {
        const ssize_t got = ::recv(m_socket.get(), buffer, sizeof buffer, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            // ENOBUFS: the kernel dropped messages; something changed, we cannot say what.
            if (errno == ENOBUFS)
                changed = true;
            else if (errno != EAGAIN && errno != EWOULDBLOCK)
                qCWarning(lcAddressWatcher) << "reading route netlink failed:" << std::strerror(errno);
            break;
        }
        int remaining = static_cast<int>(got);
        for (auto *header = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(header, remaining);
             header = NLMSG_NEXT(header, remaining)) {
            if (header->nlmsg_type == RTM_NEWADDR || header->nlmsg_type == RTM_DELADDR)
                changed = true;
        }
    }
    if (changed)
        Q_EMIT addressesChanged();
}

} // namespace platform
