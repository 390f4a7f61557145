// Whether a network device can be talked to directly, and when that may have changed. An
// IPv4 address counts as reachable when it lies in the subnet of a local interface that is up
// (so no router stands between us and the device), or when it is a loopback address.
//
//   PMLocalReachability reachability;      // this computer's interfaces
//   reachability.start();                  // watch address changes
//   bool direct = reachability.isReachable(QHostAddress("192.168.1.20"));
//   connect(&reachability, &PMReachability::changed, ...); // ask again
//
// isReachable may be called from any thread; changed() is emitted on the thread the object
// lives on (the main thread).
#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>

#include <memory>

namespace platform {
class NetworkAddressWatcher;
}

class PMReachability : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    virtual bool isReachable(const QHostAddress &address) const = 0;

Q_SIGNALS:
    // Interfaces or addresses changed: every answer may be different now.
    void changed();
};

// One IPv4 subnet of an interface that is up.
struct PMLocalSubnet {
    quint32 address = 0; // host order
    quint32 netmask = 0; // host order
};

class PMLocalReachability : public PMReachability {
    Q_OBJECT

public:
    explicit PMLocalReachability(QObject *parent = nullptr);
    ~PMLocalReachability() override;

    // Starts watching address changes (rtnetlink); false (logged) when that is not possible,
    // in which case answers are still right but changes go unannounced.
    bool start();

    bool isReachable(const QHostAddress &address) const override;

    // The IPv4 subnets of the interfaces that are up now (getifaddrs).
    static QList<PMLocalSubnet> currentSubnets();
    // The rule itself: loopback, or inside one of subnets.
    static bool isReachableThrough(const QHostAddress &address, const QList<PMLocalSubnet> &subnets);

private:
    std::unique_ptr<platform::NetworkAddressWatcher> m_watcher;
};
