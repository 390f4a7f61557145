#include "netstorage/PMShareMountWatcher.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// A plain folder stands in for GVfs's FUSE mount: the watcher only reads its folder names.
class PMShareMountWatcherTest : public ::testing::Test {
protected:
    QString share(const QString &name) const
    {
        return m_gvfs.path() + QStringLiteral("/smb-share:server=127.0.0.1,share=") + name;
    }
    // Waits until a check has read the folder after now (the checks run every two seconds).
    bool waitForACheck(QSignalSpy &spy, qsizetype count) const
    {
        return testsupport::waitFor([&] { return spy.count() >= count; }, 10s);
    }

    QTemporaryDir m_gvfs;
};

TEST_F(PMShareMountWatcherTest, SharesShownAndGoneAreToldOnce)
{
    const QString music = share(QStringLiteral("music"));
    ASSERT_TRUE(QDir().mkpath(music));
    ASSERT_TRUE(QDir().mkpath(m_gvfs.path() + QStringLiteral("/not-a-share")));
    PMShareMountWatcher watcher(m_gvfs.path());
    QSignalSpy mounted(&watcher, &PMShareMountWatcher::shareMounted);
    QSignalSpy unmounted(&watcher, &PMShareMountWatcher::shareUnmounted);
    watcher.start();
    ASSERT_TRUE(waitForACheck(mounted, 1));
    EXPECT_EQ(mounted.takeFirst().at(0).toString(), music);

    ASSERT_TRUE(QDir(music).removeRecursively());
    ASSERT_TRUE(waitForACheck(unmounted, 1));
    EXPECT_EQ(unmounted.takeFirst().at(0).toString(), music);
    // Later checks repeat nothing.
    QTest::qWait(2500);
    EXPECT_TRUE(mounted.isEmpty());
    EXPECT_TRUE(unmounted.isEmpty());
}

// A share mounted and unmounted between two checks was never shown to one, yet whoever asked
// mountedVolumes() meanwhile may have mapped it: its going away is still told. One still there
// is announced by the next check, never as gone.
TEST_F(PMShareMountWatcherTest, ASharePassingBetweenTwoChecksIsToldGoneIfItWasFound)
{
    // A share there from the start tells when the first check is done.
    ASSERT_TRUE(QDir().mkpath(share(QStringLiteral("first"))));
    PMShareMountWatcher watcher(m_gvfs.path());
    QSignalSpy mounted(&watcher, &PMShareMountWatcher::shareMounted);
    QSignalSpy unmounted(&watcher, &PMShareMountWatcher::shareUnmounted);
    watcher.start();
    ASSERT_TRUE(waitForACheck(mounted, 1));
    mounted.clear();

    const QString brief = share(QStringLiteral("brief"));
    const QString stays = share(QStringLiteral("stays"));
    ASSERT_TRUE(QDir().mkpath(brief) && QDir().mkpath(stays));
    const QStringList found = watcher.mountedVolumes();
    EXPECT_TRUE(found.contains(brief) && found.contains(stays));
    ASSERT_TRUE(QDir(brief).removeRecursively());

    ASSERT_TRUE(waitForACheck(unmounted, 1));
    ASSERT_TRUE(waitForACheck(mounted, 1));
    EXPECT_EQ(unmounted.takeFirst().at(0).toString(), brief);
    EXPECT_EQ(mounted.takeFirst().at(0).toString(), stays);
    QTest::qWait(2500);
    EXPECT_TRUE(unmounted.isEmpty());
    EXPECT_TRUE(mounted.isEmpty());
}

} // namespace
