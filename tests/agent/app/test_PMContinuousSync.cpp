// Continuous sync in the agent: which folders are watched for which drives, how changes are
// collected until they have been quiet, and how the collected roots reach the drives' jobs;
// finally the whole path from a real folder change over a private session bus to a job.
#include "../../protocol/PrivateSessionBus.h"
#include "../sync/SyncTestDoubles.h"
#include "agent/app/PMContinuousSync.h"
#include "agent/settings/PMHostUserIdentity.h"
#include "platform/PlatformPaths.h"
#include "protocol/PMNotificationEmitter.h"
#include "protocol/PMNotificationSubscriber.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using synctest::PhaseScript;
using synctest::RecordingOwner;
using synctest::ScriptedPhases;

namespace {

// A drive folder with its controller, running scripted job phases.
struct Drive {
    QTemporaryDir folder;
    PhaseScript script;
    std::unique_ptr<PMSyncController> controller;

    Drive(RecordingOwner &owner, const QStringList &syncList, bool continuous, bool participate = true)
    {
        controller = std::make_unique<PMSyncController>(folder.path(), QString(), QString(),
            PMHostUserIdentity::uniqueHostUserId(), &owner,
            [this](PMSyncController &c) { return std::make_unique<ScriptedPhases>(script, c); });
        PMConfigurationFile &config = controller->deviceConfig();
        EXPECT_TRUE(config.addUserToList() && config.setParticipatingEnabledForUser(participate)
            && config.setContinuousEnabledForUser(continuous) && config.setSyncItemList(syncList));
    }
};

class PMContinuousSyncTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *name : { "Music", "Pictures", "Movies" })
            QDir().mkpath(home(QString::fromLatin1(name)));
    }

    static QString home(const QString &name) { return testsupport::testHome() + QLatin1Char('/') + name; }

    std::unique_ptr<PMContinuousSync> makeContinuousSync(std::vector<Drive *> drives)
    {
        auto continuous = std::make_unique<PMContinuousSync>(
            [drives] {
                std::vector<PMSyncController *> controllers;
                for (Drive *drive : drives)
                    controllers.push_back(drive->controller.get());
                return controllers;
            },
            [this](const QString &root, PMContinuousSync::ChangeCallback onChange) {
                m_watched.append(root);
                m_report.insert(root, std::move(onChange));
                return std::make_unique<QObject>();
            },
            nullptr, nullptr);
        continuous->setQuietPeriod(60000); // fired by hand where a test needs it
        return continuous;
    }

    // What a watcher on root reports when something below it changed (in folders, when it
    // can tell).
    void changeIn(const QString &root, const QStringList &folders = {}) { m_report.value(root)(root, folders); }

    RecordingOwner m_owner;
    QStringList m_watched;
    QHash<QString, PMContinuousSync::ChangeCallback> m_report;
};

TEST_F(PMContinuousSyncTest, WatchesEachFolderOnceForDrivesThatTakePartContinuously)
{
    Drive a(m_owner, { QStringLiteral("~/Music"), QStringLiteral("~/Pictures") }, true);
    Drive b(m_owner, { QStringLiteral("~/Music"), QStringLiteral("~/Movies") }, true);
    Drive notContinuous(m_owner, { QStringLiteral("~/Documents") }, false);
    Drive notParticipating(m_owner, { QStringLiteral("~/Downloads") }, true, false);
    auto continuous = makeContinuousSync({ &a, &b, &notContinuous, &notParticipating });

    continuous->updateContinuousSyncSettings();
    const QStringList expected { home(QStringLiteral("Music")), home(QStringLiteral("Pictures")),
        home(QStringLiteral("Movies")) };
    EXPECT_EQ(continuous->watchedRoots(), expected);
    EXPECT_EQ(m_watched, expected);

    // Rebuilt from scratch each time; with no continuous drive left nothing is watched.
    b.controller->setContinuousSyncState(false);
    a.controller->setContinuousSyncState(false);
    m_watched.clear();
    continuous->updateContinuousSyncSettings();
    EXPECT_TRUE(continuous->watchedRoots().isEmpty());
    EXPECT_TRUE(m_watched.isEmpty());
}

TEST_F(PMContinuousSyncTest, ChangesAreCollectedUntilQuietThenEveryContinuousDriveGetsThemAll)
{
    Drive a(m_owner, { QStringLiteral("~/Music"), QStringLiteral("~/Pictures") }, true);
    Drive b(m_owner, { QStringLiteral("~/Music") }, true);
    Drive off(m_owner, { QStringLiteral("~/Music") }, false);
    auto continuous = makeContinuousSync({ &a, &b, &off });
    continuous->updateContinuousSyncSettings();

    changeIn(home(QStringLiteral("Music")));
    changeIn(home(QStringLiteral("Pictures")));
    changeIn(home(QStringLiteral("Music")));
    EXPECT_TRUE(continuous->isTimerRunning());
    EXPECT_EQ(continuous->queuedItems().size(), 3);
    EXPECT_EQ(a.script.count(QStringLiteral("items:")), 0);

    continuous->continuousSyncTimerFired();
    EXPECT_TRUE(continuous->queuedItems().isEmpty());
    // Each drive walks each changed root once, and only those roots.
    const QString both
        = QStringList { home(QStringLiteral("Music")), home(QStringLiteral("Pictures")) }.join(QLatin1Char(','));
    ASSERT_TRUE(testsupport::waitFor([&] { return a.script.count(QStringLiteral("items:")) == 1; }));
    ASSERT_TRUE(testsupport::waitFor([&] { return b.script.count(QStringLiteral("items:")) == 1; }));
    EXPECT_TRUE(a.script.snapshot().contains(QStringLiteral("items:") + both));
    EXPECT_TRUE(b.script.snapshot().contains(QStringLiteral("items:") + both));
    EXPECT_EQ(off.script.count(QStringLiteral("items:")), 0);

    // Nothing queued: the timer firing again does nothing.
    continuous->continuousSyncTimerFired();
    EXPECT_EQ(a.script.count(QStringLiteral("items:")), 1);
}

TEST_F(PMContinuousSyncTest, AJobWalksOnlyTheFoldersWhereChangesHappened)
{
    Drive a(m_owner, { QStringLiteral("~/Music"), QStringLiteral("~/Pictures") }, true);
    auto continuous = makeContinuousSync({ &a });
    continuous->updateContinuousSyncSettings();
    const QString music = home(QStringLiteral("Music"));
    const QString pictures = home(QStringLiteral("Pictures"));

    changeIn(music, { music + QStringLiteral("/A"), music + QStringLiteral("/B/C") });
    changeIn(music, { music + QStringLiteral("/A") });
    // A watcher that cannot tell where: the whole root.
    changeIn(pictures, { pictures });
    continuous->continuousSyncTimerFired();
    ASSERT_TRUE(testsupport::waitFor([&] { return a.script.count(QStringLiteral("items:")) == 1; }));
    const QStringList walked { music + QStringLiteral("/A"), music + QStringLiteral("/B/C"), pictures };
    EXPECT_EQ(a.script.snapshot().filter(QStringLiteral("items:")).first(),
        QStringLiteral("items:") + walked.join(QLatin1Char(',')));

    // What was walked is forgotten: the next change starts afresh.
    changeIn(music, { music + QStringLiteral("/D") });
    continuous->continuousSyncTimerFired();
    ASSERT_TRUE(testsupport::waitFor([&] { return a.script.count(QStringLiteral("items:")) == 2; }));
    EXPECT_EQ(a.script.snapshot().filter(QStringLiteral("items:")).last(),
        QStringLiteral("items:") + music + QStringLiteral("/D"));
}

TEST_F(PMContinuousSyncTest, AChangeDuringARunningJobLeadsToOneFurtherJob)
{
    Drive a(m_owner, { QStringLiteral("~/Music") }, true);
    auto continuous = makeContinuousSync({ &a });
    continuous->updateContinuousSyncSettings();
    {
        std::lock_guard lock(a.script.mutex);
        a.script.holdItems = true;
    }
    changeIn(home(QStringLiteral("Music")));
    continuous->continuousSyncTimerFired();
    ASSERT_TRUE(testsupport::waitFor([&] { return a.script.waiting(); }));

    changeIn(home(QStringLiteral("Music")));
    EXPECT_EQ(continuous->queuedItems(), QStringList { home(QStringLiteral("Music")) });
    continuous->continuousSyncTimerFired();
    a.script.release();
    ASSERT_TRUE(testsupport::waitFor([&] { return a.script.count(QStringLiteral("report:")) == 2; }));
    EXPECT_EQ(a.script.count(QStringLiteral("items:")), 2);
}

TEST_F(PMContinuousSyncTest, RootsHandedBackAreQueuedOnlyWhenTheyStillExist)
{
    Drive a(m_owner, { QStringLiteral("~/Music") }, true);
    auto continuous = makeContinuousSync({ &a });
    continuous->mainThreadAddContinuousSyncItems(
        { home(QStringLiteral("Music")), home(QStringLiteral("Gone")), home(QStringLiteral("Pictures")) });
    EXPECT_EQ(
        continuous->queuedItems(), (QStringList { home(QStringLiteral("Music")), home(QStringLiteral("Pictures")) }));
    // They wait for the next change; they do not start a sync by themselves.
    EXPECT_FALSE(continuous->isTimerRunning());
    continuous->mainThreadEventDataReceived(QByteArray());
    EXPECT_FALSE(continuous->isTimerRunning());
}

TEST_F(PMContinuousSyncTest, AChangeOnDiskTravelsOverTheBusAndStartsAContinuousJob)
{
    testsupport::PrivateSessionBus bus;
    if (!bus.isRunning())
        GTEST_SKIP() << "needs dbus-daemon: " << bus.error().toStdString();
    QDBusConnection connection = bus.connect();
    protocol::PMNotificationEmitter emitter(connection);
    protocol::PMNotificationSubscriber subscriber(connection);
    protocol::PMNotificationSubscriber listener(bus.connect());
    QStringList posted;
    QObject::connect(&listener, &protocol::PMNotificationSubscriber::posted,
        [&posted](const QString &name, const QString &, const QVariantMap &info) {
            posted.append(
                name + QLatin1Char(' ') + QString::fromUtf8(info.value(QStringLiteral("evdata")).toByteArray()));
        });
    ASSERT_TRUE(listener.subscribe(PMContinuousSync::kEventDataNotification));

    Drive a(m_owner, { QStringLiteral("~/Music") }, true);
    PMContinuousSync continuous([&a] { return std::vector<PMSyncController *> { a.controller.get() }; },
        &PMContinuousSync::makeChangeWatcher, &emitter, &subscriber);
    continuous.setQuietPeriod(200);
    continuous.setContinuousSyncNotificationsEnabled(true);
    continuous.updateContinuousSyncSettings();
    ASSERT_EQ(continuous.watchedRoots(), QStringList { home(QStringLiteral("Music")) });

    // A folder made after the watch began is watched too.
    QDir().mkpath(home(QStringLiteral("Music/Later")));
    testsupport::writeFile(home(QStringLiteral("Music/Later/song.mp3")), "la");
    ASSERT_TRUE(testsupport::waitFor([&] { return a.script.count(QStringLiteral("items:")) >= 1; }));
    // Only where something changed: the root, where Later appeared (and Later itself when
    // its watch was set before the song was written).
    EXPECT_TRUE(a.script.snapshot()
                    .filter(QStringLiteral("items:"))
                    .first()
                    .startsWith(QStringLiteral("items:") + home(QStringLiteral("Music"))));
    EXPECT_TRUE(
        posted.contains(PMContinuousSync::kEventDataNotification + QLatin1Char(' ') + home(QStringLiteral("Music"))));

    const int jobs = a.script.count(QStringLiteral("items:"));
    ASSERT_TRUE(testsupport::waitFor([&] { return !continuous.isTimerRunning(); }));
    testsupport::writeFile(home(QStringLiteral("Music/Later/other.mp3")), "la");
    ASSERT_TRUE(testsupport::waitFor([&] { return a.script.count(QStringLiteral("items:")) > jobs; }));
}

} // namespace
