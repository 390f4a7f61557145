// A session bus of the test's own: a dbus-daemon started for the fixture and stopped with
// it, so tests never see or disturb the user's bus. connect() opens named connections to it,
// each a separate bus client (a separate "process" as far as the bus can tell).
#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QStringList>

namespace testsupport {

class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus &) = delete;
    PrivateSessionBus &operator=(const PrivateSessionBus &) = delete;

    bool isRunning() const { return !m_address.isEmpty(); }
    QString address() const { return m_address; }
    QString error() const { return m_error; }

    // A new connection to the private bus (connected unless the bus failed to start).
    QDBusConnection connect();

private:
    QProcess m_daemon;
    QString m_address;
    QString m_error;
    QStringList m_connectionNames;
};

} // namespace testsupport
