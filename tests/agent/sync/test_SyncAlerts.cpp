// Which alerts a failing sync puts in front of the user: a sync the user started asks about
// the failed copy and reports the failure once; a continuous sync, started by changes on
// disk, asks nothing and reports nothing, and leaves the failure in the log. The failure is
// real: a file larger than the free space of a small ext4 drive image (needs root).
#include "agent/copy/PMCopyItemFilter.h"
#include "agent/log/PMLogController.h"
#include "agent/sync/PMSyncController.h"
#include "agent/sync/PMSyncJob.h"
#include "support/ScriptedAlertPresenter.h"

#include "SyncTestDoubles.h"
#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace synctest;

namespace {

const QString kUser = QStringLiteral("0A1B2C3D4E5F-501");

class SyncAlertsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        QString whyNot;
        m_drive = testsupport::DriveImage::create(testsupport::DriveImage::FileSystem::Ext4, 16, &whyNot);
        if (!m_drive || !m_drive->mount(false, &whyNot))
            GTEST_SKIP() << "a drive image is needed: " << whyNot.toStdString();
        // More than the whole drive holds, beside a file that fits.
        testsupport::writeFile(m_home.filePath(QStringLiteral("Music/small.mp3")), "fits");
        // Real bytes, not a hole a sparse copy could skip.
        testsupport::writeFile(m_home.filePath(QStringLiteral("Music/big.mp3")), QByteArray(24 * 1024 * 1024, 'x'));

        m_controller = std::make_unique<PMSyncController>(
            m_drive->mountPoint(), QStringLiteral("Vendor"), QStringLiteral("UUID-1"), kUser, &m_owner,
            [home = m_home.path()](PMSyncController &c) {
                PMSyncJob::Options options;
                options.identity
                    = { QStringLiteral("alice"), QStringLiteral("Studio"), kUser, QStringLiteral("UUID-1"), home };
                options.limitTo4G = false;
                options.makeFilter = [] { return std::shared_ptr<const PMCopyItemFilter>(); };
                return std::make_unique<PMSyncJob>(c, options);
            },
            &m_alerts);
        m_controller->setParticipateSyncState(true);
        ASSERT_TRUE(m_controller->deviceConfig().setSyncItemList(QStringList { QStringLiteral("~/Music") }));
    }

    void TearDown() override
    {
        m_controller.reset(); // the worker ends before its drive goes
        m_drive.reset();
    }

    // Waits for the job started by start() to end; answers the activity it ended with.
    int runJob(const std::function<void()> &start)
    {
        const qsizetype before = m_owner.forcedActivities().size();
        start();
        int ended = -1;
        const bool done = testsupport::waitFor(
            [&] {
                for (int activity : m_owner.forcedActivities().mid(before)) {
                    if (activity == PMSyncController::kActivityCompleted
                        || activity == PMSyncController::kActivityFailed)
                        ended = activity;
                }
                return ended != -1 && !m_controller->busy();
            },
            std::chrono::seconds(60));
        EXPECT_TRUE(done) << "the job did not end";
        return ended;
    }
    QStringList alertTitles() const
    {
        QStringList titles;
        for (const platform::AlertRequest &request : m_alerts.requests())
            titles.append(request.title);
        return titles;
    }
    static QString logText() { return PMLogController::sharedInstance().contents(); }

    QTemporaryDir m_home;
    std::unique_ptr<testsupport::DriveImage> m_drive;
    RecordingOwner m_owner;
    testsupport::ScriptedAlertPresenter m_alerts;
    std::unique_ptr<PMSyncController> m_controller;
};

} // namespace

TEST_F(SyncAlertsTest, AFailedManualSyncAsksAboutTheCopyAndReportsTheFailureOnce)
{
    m_alerts.appendAnswer(platform::AlertAnswer::Ok); // "Copy Failed.": go on with the rest
    EXPECT_EQ(runJob([&] { m_controller->sync(); }), PMSyncController::kActivityFailed);
    EXPECT_EQ(m_controller->failureType(), PMSyncController::kFailureIncomplete);
    ASSERT_EQ(alertTitles(), (QStringList { QStringLiteral("Copy Failed."), QStringLiteral("Sync Failed") }));
    EXPECT_TRUE(m_alerts.requests().at(0).message.contains(QStringLiteral("Not enough free space on disk")));
    EXPECT_EQ(m_alerts.requests().at(1).message, QStringLiteral("Check the log for more details."));
}

TEST_F(SyncAlertsTest, AFailedContinuousSyncShowsNoAlertAndLeavesTheFailureInTheLog)
{
    const qsizetype logged = logText().size();
    EXPECT_EQ(runJob([&] { m_controller->continuousSyncNow({ m_home.filePath(QStringLiteral("Music")) }); }),
        PMSyncController::kActivityFailed);
    EXPECT_EQ(m_controller->failureType(), PMSyncController::kFailureIncomplete)
        << "nobody pressed Cancel: the job did not complete";
    EXPECT_TRUE(m_alerts.requests().isEmpty()) << alertTitles().join(QStringLiteral(", ")).toStdString();
    const QString log = logText().mid(logged);
    EXPECT_TRUE(log.contains(QStringLiteral("Not enough free space on disk"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("did not complete successfully")));

    // The same drive, synced on request afterwards, still asks.
    m_alerts.appendAnswer(platform::AlertAnswer::Ok);
    EXPECT_EQ(runJob([&] { m_controller->sync(); }), PMSyncController::kActivityFailed);
    EXPECT_EQ(alertTitles(), (QStringList { QStringLiteral("Copy Failed."), QStringLiteral("Sync Failed") }));
}
