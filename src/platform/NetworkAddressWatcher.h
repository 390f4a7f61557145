// Tells when an IPv4 or IPv6 address of this computer is added or removed (a network joined or
// left, a lease renewed with another address), from the kernel's rtnetlink address groups.
//
//   platform::NetworkAddressWatcher watcher;
//   connect(&watcher, &NetworkAddressWatcher::addressesChanged, this, &Mapper::networkChanged);
//   if (!watcher.start()) ... // logged; address changes then go unnoticed
//
// Lives on the thread that created it and is driven by its event loop (a QSocketNotifier on
// the netlink socket). A burst of kernel messages read at once is reported by one signal.
#pragma once

#include "platform/UniqueFd.h"

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace platform {

class NetworkAddressWatcher : public QObject {
    Q_OBJECT

public:
    explicit NetworkAddressWatcher(QObject *parent = nullptr);
    ~NetworkAddressWatcher() override;

    // Opens the netlink socket; false (logged) when the kernel refuses it. Starting a running
    // watcher does nothing.
    bool start();
    void stop();
    bool isRunning() const { return m_socket.isValid(); }

Q_SIGNALS:
    void addressesChanged();

private:
    void readMessages();

    UniqueFd m_socket;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace platform
