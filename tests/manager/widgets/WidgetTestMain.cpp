// Test main for widget tests: the same private home as every other test process, but with a
// QApplication, which widgets need (painting, styles, icons, focus).
#include "support/TestEnvironment.h"

#include <QApplication>
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
    const QString runtime = home.path() + QStringLiteral("/.run");
    if (!QDir().mkpath(runtime)
        || !QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
        return 2;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    // Widgets render without a display; a caller may still choose another platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // A fixed style keeps rendered pixels the same whatever the desktop settings say.
    QApplication::setStyle(QStringLiteral("Fusion"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
