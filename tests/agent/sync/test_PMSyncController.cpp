#include "agent/log/PMLogController.h"
#include "agent/sync/PMSyncController.h"
#include "platform/PropertyList.h"
#include "support/ScriptedAlertPresenter.h"

#include "SyncTestDoubles.h"
#include "support/TestEnvironment.h"

#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace synctest;

namespace {

const QString kUser = QStringLiteral("0A1B2C3D4E5F-501");

class SyncControllerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_drive.isValid()); }

    // A drive this user has set up, taking part in syncing or not.
    void setUpDrive(bool participating)
    {
        const QVariantMap config { { QStringLiteral("config-version"), 3 },
            { QStringLiteral("sync-type"), QStringLiteral("ptop") }, { QStringLiteral("ptop-list"), QVariantMap() },
            { QStringLiteral("sync-user-list"), QVariantList { kUser } },
            { kUser, QVariantMap { { QStringLiteral("local-participate-in-sync"), participating } } } };
        ASSERT_TRUE(platform::PropertyList::writeFile(m_drive.filePath(QStringLiteral(".PellmereConfig")), config));
    }
    std::unique_ptr<PMSyncController> makeController(platform::AlertPresenter *alerts = nullptr)
    {
        return std::make_unique<PMSyncController>(m_drive.path(), QStringLiteral("Vendor"), QStringLiteral("UUID-1"),
            kUser, &m_owner, phasesFor(m_script), alerts);
    }
    bool waitForCalls(const QString &prefix, int count)
    {
        return testsupport::waitFor([&] { return m_script.count(prefix) >= count; });
    }
    bool waitUntilIdle(PMSyncController &controller)
    {
        return testsupport::waitFor([&] { return !controller.busy(); });
    }
    static QString logText() { return PMLogController::sharedInstance().contents(); }

    QTemporaryDir m_drive;
    RecordingOwner m_owner;
    PhaseScript m_script;
};

const QStringList kFullSync { QStringLiteral("setup"), QStringLiteral("prepare"), QStringLiteral("items:full"),
    QStringLiteral("finish"), QStringLiteral("cleanup"), QStringLiteral("report:1") };

} // namespace

TEST_F(SyncControllerTest, TwoSyncRequestsRunTwoFullJobsInOrderWithTheirActivities)
{
    auto controller = makeController();
    EXPECT_FALSE(controller->busy());
    controller->sync();
    controller->sync();
    EXPECT_TRUE(controller->busyWithSynclistOnly());
    ASSERT_TRUE(waitForCalls(QStringLiteral("report"), 2));
    ASSERT_TRUE(waitUntilIdle(*controller));

    EXPECT_EQ(m_script.snapshot(), kFullSync + kFullSync);
    // Each job: preparing, syncing, finishing, all forced.
    EXPECT_EQ(m_owner.forcedActivities(), (QList<int> { 1, 2, 3, 1, 2, 3 }));
    EXPECT_FALSE(controller->syncInProgress());
    const QVariantMap last = controller->getCurrentProgressDict();
    EXPECT_EQ(last.value(QStringLiteral("syncIsBusy")).toInt(), 0);
    EXPECT_FALSE(last.contains(QStringLiteral("activePath")));
}

TEST_F(SyncControllerTest, AContinuousSyncRunsEachPathOnceAndAnEmptyOneDoesNothing)
{
    auto controller = makeController();
    controller->continuousSyncNow(
        { QStringLiteral("/b"), QStringLiteral("/a"), QStringLiteral("/b"), QStringLiteral("/a") });
    controller->continuousSyncNow({});
    controller->sync(); // a marker behind the empty batch
    ASSERT_TRUE(waitForCalls(QStringLiteral("report"), 2));
    ASSERT_TRUE(waitUntilIdle(*controller));

    const QStringList calls = m_script.snapshot();
    EXPECT_EQ(calls.filter(QStringLiteral("items:")),
        (QStringList { QStringLiteral("items:/a,/b"), QStringLiteral("items:full") }));
    EXPECT_EQ(m_script.count(QStringLiteral("setup")), 2) << "the empty batch runs no job";
    EXPECT_FALSE(controller->continuousSyncInProgress());
}

TEST_F(SyncControllerTest, DeathBehindARunningJobEmptiesTheQueueAndEndsTheWorkerForGood)
{
    m_script.holdItems = true;
    auto controller = makeController();
    controller->sync();
    ASSERT_TRUE(testsupport::waitFor([&] { return m_script.waiting(); }));
    controller->setSyncMoviesState(false);
    controller->driveDisappeared();
    controller->sync(); // queued after the death: must never run
    m_script.release();

    ASSERT_TRUE(testsupport::waitFor([&] { return controller->workerEnded(); }));
    EXPECT_FALSE(controller->busy());
    EXPECT_EQ(m_script.count(QStringLiteral("items")), 1);
    EXPECT_EQ(controller->activityType(), PMSyncController::kActivityFailed);
    EXPECT_FALSE(controller->cancelPending());
    EXPECT_TRUE(controller->cancelRVal());
    const QVariantMap last = m_owner.notifications().constLast().progress;
    EXPECT_EQ(last.value(QStringLiteral("syncActivityType")).toInt(), 5);
    EXPECT_EQ(last.value(QStringLiteral("syncActivityFailureType")).toInt(), 3);

    controller->sync();
    EXPECT_TRUE(controller->busy()) << "later requests are queued";
    EXPECT_TRUE(controller->workerEnded()) << "and the worker is not started again";
    EXPECT_EQ(m_script.count(QStringLiteral("setup")), 1);
}

TEST_F(SyncControllerTest, BusyWithSyncListOnlyLooksForSyncTasks)
{
    setUpDrive(true);
    auto controller = makeController();
    EXPECT_FALSE(controller->busyWithSynclistOnly()) << "an empty queue";
    m_script.holdListUpdate = true;
    controller->updateSyncList({ QStringLiteral("/x") });
    ASSERT_TRUE(testsupport::waitFor([&] { return m_script.waiting(); }));
    controller->setSyncMusicState(true);
    controller->setSyncDeviceFilter(3);
    EXPECT_TRUE(controller->busy());
    EXPECT_FALSE(controller->busyWithSynclistOnly()) << "only settings tasks are queued";
    controller->continuousSyncNow({ QStringLiteral("/y") });
    EXPECT_TRUE(controller->busyWithSynclistOnly());
    m_script.release();
    ASSERT_TRUE(waitForCalls(QStringLiteral("report"), 1));
    ASSERT_TRUE(waitUntilIdle(*controller));
    EXPECT_FALSE(controller->busyWithSynclistOnly());
    EXPECT_EQ(controller->syncDeviceFilter(), 3) << "the setting was written when the task was queued";
}

TEST_F(SyncControllerTest, ASyncListUpdateIsHandedOverWithHomePathsAbbreviated)
{
    auto controller = makeController();
    const QString home = QDir::homePath();
    controller->updateSyncList({ home + QStringLiteral("/Music"), QStringLiteral("/srv/media") });
    EXPECT_EQ(controller->shadowedSyncList(),
        (QStringList { home + QStringLiteral("/Music"), QStringLiteral("/srv/media") }));
    ASSERT_TRUE(waitForCalls(QStringLiteral("list:"), 1));
    EXPECT_EQ(
        m_script.snapshot().filter(QStringLiteral("list:")), QStringList { QStringLiteral("list:~/Music,/srv/media") });
}

TEST_F(SyncControllerTest, ContinuousSyncIsOnlyActivatedForAParticipatingUser)
{
    setUpDrive(false);
    auto controller = makeController();
    controller->setContinuousSyncState(true);
    EXPECT_TRUE(controller->continuousSyncState()) << "the setting is written";
    EXPECT_FALSE(controller->busy()) << "but nothing is queued";
    EXPECT_TRUE(controller->deviceConfig().isContinuousEnabledForUser());
    EXPECT_TRUE(PMConfigurationFile(m_drive.path(), 1, kUser).isContinuousEnabledForUser()) << "and on the drive";

    controller->setContinuousSyncState(false);
    controller->setParticipateSyncState(true);
    controller->setContinuousSyncState(true);
    ASSERT_TRUE(waitForCalls(QStringLiteral("report"), 1)) << "activation runs a full sync";
    ASSERT_TRUE(waitUntilIdle(*controller));
    EXPECT_EQ(m_script.snapshot(), kFullSync);
}

TEST_F(SyncControllerTest, ChangingTheContinuousStateClearsAPendingCancel)
{
    setUpDrive(true);
    auto controller = makeController();
    controller->setCancelPending(true, true);
    controller->setContinuousSyncState(controller->continuousSyncState());
    EXPECT_TRUE(controller->cancelPending()) << "no change, no reset";
    controller->setContinuousSyncState(!controller->continuousSyncState());
    EXPECT_FALSE(controller->cancelPending());
    EXPECT_FALSE(controller->cancelRVal());
}

TEST_F(SyncControllerTest, ASettingsJobIsFollowedByIdleAndOneForcedNotification)
{
    setUpDrive(true);
    auto controller = makeController();
    controller->setSyncMoviesState(false);
    ASSERT_TRUE(testsupport::waitFor([&] { return m_owner.forcedActivities().contains(0); }));
    controller->sync(); // a later job shows that no further idle notification came between
    ASSERT_TRUE(waitForCalls(QStringLiteral("report"), 1));
    ASSERT_TRUE(waitUntilIdle(*controller));
    EXPECT_EQ(m_owner.forcedActivities(), (QList<int> { 4, 0, 1, 2, 3 }));
    EXPECT_FALSE(controller->syncMoviesState());
}

TEST_F(SyncControllerTest, ATaskThatThrowsIsLoggedAndDroppedAndTheWorkerGoesOn)
{
    m_script.throwOnPrepare = 1;
    auto controller = makeController();
    const qsizetype logged = logText().size();
    controller->sync();
    controller->sync();
    ASSERT_TRUE(waitForCalls(QStringLiteral("report"), 1));
    ASSERT_TRUE(waitUntilIdle(*controller));
    EXPECT_EQ(m_script.count(QStringLiteral("prepare")), 2) << "the failing task is not retried";
    EXPECT_EQ(m_script.snapshot().mid(2), kFullSync);
    EXPECT_TRUE(logText().mid(logged).contains(QStringLiteral("masterThread exception: disk exploded")));
    EXPECT_FALSE(controller->syncInProgress()) << "a job that threw leaves no sync marked as running";
}

TEST_F(SyncControllerTest, AFailedPreparationGoesStraightToFinishing)
{
    m_script.prepareResult = false;
    auto controller = makeController();
    controller->sync();
    ASSERT_TRUE(waitForCalls(QStringLiteral("report"), 1));
    EXPECT_EQ(m_script.snapshot(),
        (QStringList { QStringLiteral("setup"), QStringLiteral("prepare"), QStringLiteral("cleanup"),
            QStringLiteral("report:0") }));
    ASSERT_TRUE(waitUntilIdle(*controller));
    EXPECT_EQ(m_owner.forcedActivities(), (QList<int> { 1, 3 }));
}

TEST_F(SyncControllerTest, TheWorkerAsksTheMainThreadAndWaitsForTheAnswer)
{
    testsupport::ScriptedAlertPresenter alerts;
    alerts.appendAnswer(platform::AlertAnswer::Cancel);
    alerts.appendAnswer(platform::AlertAnswer::Ok);
    alerts.setPressLogButton(true);
    QList<bool> answers;
    m_script.duringItems = [&answers](PMSyncController &controller) {
        answers.append(
            controller.syncThreadPerformAlert(QStringLiteral("Copy failed"), QStringLiteral("Go on?"), true, true));
        answers.append(
            controller.syncThreadPerformAlert(QStringLiteral("Second"), QStringLiteral("Go on?"), true, false));
        answers.append(controller.syncThreadPerformAlert(
            QStringLiteral("Third"), QStringLiteral("Unscripted"), true, false, platform::AlertAnswer::Cancel));
    };
    auto controller = makeController(&alerts);
    controller->sync();
    ASSERT_TRUE(waitForCalls(QStringLiteral("report"), 1));
    EXPECT_EQ(answers, (QList<bool> { false, true, false }));
    const QList<platform::AlertRequest> requests = alerts.requests();
    ASSERT_EQ(requests.size(), 3);
    EXPECT_EQ(requests.at(0).title, QStringLiteral("Copy failed"));
    EXPECT_EQ(requests.at(0).message, QStringLiteral("Go on?"));
    EXPECT_TRUE(requests.at(0).logButton);
    EXPECT_EQ(m_owner.logShown(), 1) << "the log button shows the log through the owner";
}

TEST_F(SyncControllerTest, WithoutAPresenterEveryAlertGetsItsSafeAnswer)
{
    QList<bool> answers;
    m_script.duringItems = [&answers](PMSyncController &controller) {
        answers.append(controller.syncThreadPerformAlert(
            QStringLiteral("t"), QStringLiteral("m"), true, false, platform::AlertAnswer::Cancel));
        answers.append(controller.syncThreadPerformAlert(
            QStringLiteral("t"), QStringLiteral("m"), false, false, platform::AlertAnswer::Cancel));
    };
    auto controller = makeController();
    controller->sync();
    ASSERT_TRUE(waitForCalls(QStringLiteral("report"), 1));
    EXPECT_EQ(answers, (QList<bool> { false, true })) << "an alert with only OK can only be answered OK";
}

TEST_F(SyncControllerTest, DestroyingTheControllerCancelsTheRunningJobAndEndsTheWorker)
{
    m_script.holdItems = true;
    auto controller = makeController();
    controller->sync();
    controller->sync();
    ASSERT_TRUE(testsupport::waitFor([&] { return m_script.waiting(); }));
    controller.reset(); // returns only once the worker has ended
    EXPECT_EQ(m_script.count(QStringLiteral("setup")), 1) << "the queued job does not start";
    EXPECT_EQ(m_script.snapshot().constLast(), QStringLiteral("report:0"));
}

TEST_F(SyncControllerTest, RemovingTheDriveSyncRemovesTheConfigurationAndTurnsContinuousOff)
{
    setUpDrive(true);
    auto controller = makeController();
    controller->setContinuousSyncState(true);
    controller->removeDriveSync();
    EXPECT_FALSE(controller->continuousSyncState());
    ASSERT_TRUE(
        testsupport::waitFor([&] { return !QFile::exists(m_drive.filePath(QStringLiteral(".PellmereConfig"))); }));
    ASSERT_TRUE(waitUntilIdle(*controller));
    EXPECT_FALSE(controller->hasSyncConfiguration());
}

TEST_F(SyncControllerTest, TheShadowedListAndLastSyncTimeAreReadOnceAndThenKept)
{
    setUpDrive(true);
    PMConfigurationFile(m_drive.path(), PMConfigurationFile::kSyncTypePerUser, kUser)
        .setSyncItemList(QStringList { QStringLiteral("~/Music") });
    auto controller = makeController();
    EXPECT_EQ(controller->shadowedSyncList(), QStringList { QStringLiteral("~/Music") }) << "read from the drive";
    controller->deviceConfig().setSyncItemList(QStringList { QStringLiteral("~/Other") });
    EXPECT_EQ(controller->shadowedSyncList(), QStringList { QStringLiteral("~/Music") }) << "and then kept";

    EXPECT_FALSE(controller->lastSyncTime().isValid());
    const QDateTime when = QDateTime::fromSecsSinceEpoch(1700000000, QTimeZone::utc());
    controller->updateLastSyncTime(when);
    EXPECT_EQ(controller->lastSyncTime(), when);
    EXPECT_EQ(PMConfigurationFile(m_drive.path(), 1, kUser).lastSyncDateForUser(), when) << "written to the drive";
    EXPECT_TRUE(controller->quietSyncState()) << "quiet until told otherwise";
    controller->setQuietSyncState(false);
    EXPECT_FALSE(controller->quietSyncState());
    EXPECT_FALSE(controller->deviceConfig().isQuietEnabledForUser());
    controller->setPreviewEnabledState(false);
    EXPECT_TRUE(controller->deviceConfig().isQuietEnabledForUser()) << "no preview means quiet";
    EXPECT_FALSE(controller->isPreviewEnabled());
}
