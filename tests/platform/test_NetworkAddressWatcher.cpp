// Runs in a network namespace of its own (a separate test program for that reason), so that
// adding and removing addresses touches no interface of the machine.
#include "platform/NetworkAddressWatcher.h"

#include "support/TestEnvironment.h"

#include <QProcess>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <sched.h>

namespace {

bool g_isolated = false;
QString g_whyNotIsolated;

class NetworkNamespace : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (::unshare(CLONE_NEWNET) != 0) {
            g_whyNotIsolated = QStringLiteral("cannot make a network namespace (needs CAP_SYS_ADMIN): ")
                + QString::fromLocal8Bit(strerror(errno));
            return;
        }
        g_isolated = true;
    }
};

const auto *const g_namespace = ::testing::AddGlobalTestEnvironment(new NetworkNamespace);

// Runs `ip` in this process's network namespace.
bool ip(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("ip"), arguments);
    if (!process.waitForFinished(10'000) || process.exitCode() != 0) {
        ADD_FAILURE() << "ip " << arguments.join(QLatin1Char(' ')).toStdString() << ": "
                      << process.readAll().toStdString();
        return false;
    }
    return true;
}

class NetworkAddressWatcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!g_isolated)
            GTEST_SKIP() << g_whyNotIsolated.toStdString();
        ASSERT_TRUE(ip({ QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up") }));
    }
};

TEST_F(NetworkAddressWatcherTest, ReportsAddedAndRemovedAddressesOfBothFamilies)
{
    platform::NetworkAddressWatcher watcher;
    ASSERT_TRUE(watcher.start());
    EXPECT_TRUE(watcher.isRunning());
    QSignalSpy changes(&watcher, &platform::NetworkAddressWatcher::addressesChanged);

    ASSERT_TRUE(ip({ "addr", "add", "10.77.0.1/24", "dev", "lo" }));
    EXPECT_TRUE(testsupport::waitFor([&] { return changes.count() >= 1; }));

    changes.clear();
    ASSERT_TRUE(ip({ "addr", "del", "10.77.0.1/24", "dev", "lo" }));
    EXPECT_TRUE(testsupport::waitFor([&] { return changes.count() >= 1; }));

    changes.clear();
    ASSERT_TRUE(ip({ "-6", "addr", "add", "fd00:77::1/64", "dev", "lo" }));
    EXPECT_TRUE(testsupport::waitFor([&] { return changes.count() >= 1; }));
    ASSERT_TRUE(ip({ "-6", "addr", "del", "fd00:77::1/64", "dev", "lo" }));
}

TEST_F(NetworkAddressWatcherTest, ReportsNothingFromWhileItWasStopped)
{
    platform::NetworkAddressWatcher watcher;
    ASSERT_TRUE(watcher.start());
    QSignalSpy changes(&watcher, &platform::NetworkAddressWatcher::addressesChanged);

    ASSERT_TRUE(ip({ "addr", "add", "10.78.0.1/24", "dev", "lo" }));
    ASSERT_TRUE(testsupport::waitFor([&] { return changes.count() >= 1; }));
    const int afterAddress = int(changes.count());

    watcher.stop();
    EXPECT_FALSE(watcher.isRunning());
    ASSERT_TRUE(ip({ "addr", "del", "10.78.0.1/24", "dev", "lo" }));
    // Restarted, it reports what happens from then on, never what happened while stopped.
    ASSERT_TRUE(watcher.start());
    ASSERT_TRUE(ip({ "addr", "add", "10.78.0.2/24", "dev", "lo" }));
    ASSERT_TRUE(testsupport::waitFor([&] { return changes.count() > afterAddress; }));
    EXPECT_EQ(changes.count(), afterAddress + 1);
}

} // namespace
