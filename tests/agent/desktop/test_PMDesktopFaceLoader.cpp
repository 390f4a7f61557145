// Choosing and loading the desktop face: which environments count as a display, the plugin
// beside the executable, and a missing or foreign plugin leaving the agent headless with the
// reason. And the activity records reaching the face's tray from a worker thread.
#include "agent/app/PMActivityNotifier.h"
#include "agent/app/PMDesktopFace.h"
#include "agent/app/PMDesktopFaceLoader.h"
#include "agent/desktop/PMWidgetsDesktopFace.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(DesktopFaceLoader, ADisplayIsANonEmptyWaylandOrX11DisplayName)
{
    QProcessEnvironment environment;
    EXPECT_FALSE(PMDesktopFaceLoader::hasDisplay(environment));
    environment.insert(QStringLiteral("DISPLAY"), QString());
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QString());
    EXPECT_FALSE(PMDesktopFaceLoader::hasDisplay(environment)) << "empty names are no display";
    environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":0"));
    EXPECT_TRUE(PMDesktopFaceLoader::hasDisplay(environment));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-0"));
    EXPECT_TRUE(PMDesktopFaceLoader::hasDisplay(environment));
}

TEST(DesktopFaceLoader, ThePluginIsLookedForBesideTheRunningExecutable)
{
    const QString path = PMDesktopFaceLoader::pluginPath();
    EXPECT_EQ(QFileInfo(path).absolutePath(), QCoreApplication::applicationDirPath());
    EXPECT_EQ(QFileInfo(path).fileName(), QStringLiteral("pellmere-desktop.so"));
}

TEST(DesktopFaceLoader, AMissingOrForeignPluginLeavesTheAgentHeadlessWithTheReason)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString why;
    EXPECT_EQ(PMDesktopFaceLoader::load(dir.filePath(QStringLiteral("pellmere-desktop.so")), &why), nullptr);
    EXPECT_TRUE(why.contains(QStringLiteral("no desktop plugin"))) << why.toStdString();

    // A file that is no plugin of ours.
    const QString bogus = dir.filePath(QStringLiteral("bogus.so"));
    testsupport::writeFile(bogus, QByteArray("not a shared object"));
    why.clear();
    EXPECT_EQ(PMDesktopFaceLoader::load(bogus, &why), nullptr);
    EXPECT_TRUE(why.contains(QStringLiteral("cannot load the desktop plugin"))) << why.toStdString();
}

TEST(DesktopFaceActivity, RecordsSentFromAWorkerReachTheTrayOnTheMainThread)
{
    PMActivityNotifier notifier(nullptr, {});
    PMWidgetsDesktopFace face;
    QObject context;
    QObject::connect(&notifier, &PMActivityNotifier::activityReported, &context,
        [&face](const QVariantMap &progress) { face.showActivity(progress); });
    const QVariantMap record { { QStringLiteral("activePath"), QStringLiteral("/media/u/Stick") },
        { QStringLiteral("syncIsBusy"), 1 }, { QStringLiteral("syncActivityType"), 2 },
        { QStringLiteral("syncSize"), 400 }, { QStringLiteral("syncCopied"), 100 } };
    std::thread worker([&] { notifier.sendActivityNotification(true, record); });
    worker.join();
    ASSERT_TRUE(testsupport::waitFor([&] { return face.activity().state() == PMTrayActivity::State::Syncing; }));
    EXPECT_EQ(face.activity().toolTip(), QStringLiteral("Pellmere: syncing \"Stick\" (25%)"));
    // Nothing busy and not forced: no record, nothing changes.
    notifier.sendActivityNotification(false, QVariantMap());
    QCoreApplication::processEvents();
    EXPECT_EQ(face.activity().state(), PMTrayActivity::State::Syncing);
}

} // namespace
