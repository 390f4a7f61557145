#include "PrivateSessionBus.h"

#include "support/TestEnvironment.h"

#include <QStandardPaths>

#include <gtest/gtest.h>

#include <atomic>

namespace testsupport {

PrivateSessionBus::PrivateSessionBus()
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) {
        m_error = QStringLiteral("dbus-daemon is not installed");
        return;
    }
    m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
    m_daemon.start(daemon,
        { QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
            QStringLiteral("--print-address=1") });
    // dbus-daemon is installed: from here on a bus that does not come up is a fault, and the
    // test that wanted it fails even if it then skips.
    if (!m_daemon.waitForStarted()) {
        m_error = QStringLiteral("dbus-daemon did not start: ") + m_daemon.errorString();
        ADD_FAILURE() << m_error.toStdString();
        return;
    }
    const bool printed = waitFor([this] { return m_daemon.canReadLine() || m_daemon.state() == QProcess::NotRunning; });
    if (!printed || !m_daemon.canReadLine()) {
        m_error = QStringLiteral("dbus-daemon printed no address: ")
            + QString::fromLocal8Bit(m_daemon.readAllStandardError());
        ADD_FAILURE() << m_error.toStdString();
        return;
    }
    m_address = QString::fromLocal8Bit(m_daemon.readLine()).trimmed();
}

PrivateSessionBus::~PrivateSessionBus()
{
    for (const QString &name : std::as_const(m_connectionNames))
        QDBusConnection::disconnectFromBus(name);
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(10000)) {
            m_daemon.kill();
            m_daemon.waitForFinished();
        }
    }
}

QDBusConnection PrivateSessionBus::connect()
{
    static std::atomic<int> counter = 0;
    const QString name = QStringLiteral("pellmere-test-bus-%1").arg(++counter);
    m_connectionNames << name;
    return QDBusConnection::connectToBus(m_address, name);
}

} // namespace testsupport
