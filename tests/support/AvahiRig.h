// A private DNS-SD world for tests: its own system bus (dbus-daemon with a config and socket
// of its own, which libavahi-client finds through DBUS_SYSTEM_BUS_ADDRESS), an avahi-daemon
// that uses the loopback interface only and publishes nothing of this computer, and
// avahi-publish processes announcing fake devices.
//
//   testsupport::AvahiRig rig;
//   if (!rig.start()) GTEST_SKIP() << rig.whyNot();
//   rig.publish(QStringLiteral("Living Room"), { QStringLiteral("skyvaleModel=QXA1") });
//
// Every process it starts dies with the test process (PR_SET_PDEATHSIG) and is stopped by
// the destructor. avahi-daemon keeps its pid file and socket at fixed places, so one rig runs
// at a time on the machine: start() waits for a lock file held by any other.
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <vector>

class QProcess;

namespace testsupport {

class AvahiRig {
public:
    AvahiRig();
    ~AvahiRig();
    AvahiRig(const AvahiRig &) = delete;
    AvahiRig &operator=(const AvahiRig &) = delete;

    // Starts the bus and the daemon. False with whyNot() set when a program is missing or the
    // daemon cannot run here.
    bool start();
    QString whyNot() const { return m_whyNot; }
    // Whether the machine lacks a program of the rig (skip), as opposed to a failure (fail).
    bool lacksCapability() const { return m_lacksCapability; }

    // The interfaces the daemon may use; loopback unless set before start().
    void setInterfaces(const QStringList &interfaces) { m_interfaces = interfaces; }

    // Stops and starts only the system bus (stop the daemon first).
    void stopBus();
    bool startBus();
    // Stops and starts only the Avahi daemon, as a restart by the system would.
    void stopDaemon();
    bool startDaemon();

    // Announces a device service of the given name and TXT entries ("key=value") on the
    // loopback address; waits until Avahi established it.
    bool publish(const QString &name, const QStringList &txt);
    // The same for a device whose host has only an IPv6 address.
    bool publishIPv6Only(const QString &name, const QStringList &txt);
    // Announces an address record for host ("name.local"), and a device service on that host.
    bool publishAddress(const QString &host, const QString &address);
    bool publishOnHost(const QString &name, const QString &host, const QStringList &txt);
    // Withdraws a service announced by publish().
    void unpublish(const QString &name);

    static inline const QString kServiceType = QStringLiteral("_skyvale_info._tcp");

private:
    std::unique_ptr<QProcess> launch(const QString &program, const QStringList &arguments);
    bool waitForOutput(QProcess &process, const QByteArray &marker, QString *seen);
    static void stopProcess(std::unique_ptr<QProcess> &process);
    static QString busSocket();

    QTemporaryDir m_dir;
    int m_lockFd = -1;
    bool m_locked = false;
    QByteArray m_savedBusAddress;
    bool m_hadBusAddress = false;
    QStringList m_interfaces { QStringLiteral("lo") };
    QString m_whyNot;
    bool m_lacksCapability = false;
    std::unique_ptr<QProcess> m_bus;
    std::unique_ptr<QProcess> m_daemon;
    std::map<QString, std::unique_ptr<QProcess>> m_published; // by service name
    std::vector<std::unique_ptr<QProcess>> m_addressPublishers;
};

} // namespace testsupport
