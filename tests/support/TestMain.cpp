// Test main: a Qt application object on the main thread (for event loops and queued calls)
// and a private home folder for the whole test process. Built a second time with
// PELLMERE_TEST_WIDGETS for the window tests, whose application object is a QApplication.
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#ifdef PELLMERE_TEST_WIDGETS
#include <QApplication>
#endif
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
#ifdef PELLMERE_TEST_WIDGETS
    // Window tests: a widgets application, on the offscreen platform unless told otherwise.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // A fixed style keeps rendered pixels the same whatever the desktop settings say.
    QApplication::setStyle(QStringLiteral("Fusion"));
#else
    QCoreApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
