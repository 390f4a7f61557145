// Test main: a Qt application object on the main thread (for event loops and queued calls)
// and a private home folder for the whole test process.
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace testsupport {
extern QString g_testHome;
}

int main(int argc, char **argv)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/pellmere-test-home-XXXXXX"));
    if (!home.isValid())
        return 2;
    testsupport::g_testHome = home.path();
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/.config")));
    qputenv("XDG_STATE_HOME", QFile::encodeName(home.path() + QStringLiteral("/.local/state")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/.local/share")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.path() + QStringLiteral("/.cache")));
    // Locks and the agent's single-instance file live here; test processes running side by
    // side must not see each other's.
    const QString runtime = home.path() + QStringLiteral("/.run");
    if (!QDir().mkpath(runtime)
        || !QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
        return 2;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
