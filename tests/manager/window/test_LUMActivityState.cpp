// The activity area's states from the agent's notifications: sections, progress, the
// watchdog, failure reasons and the derived switches of the sync-now button and controls.
#include "WindowTestFixture.h"

#include "manager/window/LUMActivityState.h"
#include "support/TestEnvironment.h"

#include <QLocale>

using namespace std::chrono_literals;
using Section = LUMActivityState::Section;

namespace windowtest {
namespace {

QVariantMap report(int type, const QString &activePath, quint64 total = 0, quint64 filtered = 0, quint64 present = 0,
    quint64 copied = 0)
{
    QVariantMap info { { QStringLiteral("syncActivityType"), type }, { QStringLiteral("syncIsBusy"), true },
        { QStringLiteral("syncSize"), total }, { QStringLiteral("syncSkipFilter"), filtered },
        { QStringLiteral("syncSkipPresent"), present }, { QStringLiteral("syncCopied"), copied } };
    if (!activePath.isEmpty())
        info.insert(QStringLiteral("activePath"), activePath);
    return info;
}

class ActivityStateTest : public WindowFixture {
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        QLocale::setDefault(QLocale::c());
        m_drive = listAndSelectDrive();
    }
    LUMActivityState &activity() { return m_controller->activity(); }
    QString m_drive;
};

TEST_F(ActivityStateTest, ProgressReportsFillTheBarAndAZeroTotalLeavesItAlone)
{
    activity().updateActivity(report(2, m_drive, 1000, 100, 150, 250));
    EXPECT_EQ(activity().section(), Section::Progress);
    EXPECT_TRUE(activity().activityBoxVisible());
    EXPECT_TRUE(activity().barDeterminate());
    EXPECT_EQ(activity().barValue(), LUMActivityState::kBarMaximum / 2);
    EXPECT_EQ(activity().syncActivityCount(), 1);
    EXPECT_EQ(activity().progressText(), QStringLiteral("500 bytes of 1000 bytes"));
    EXPECT_FALSE(activity().boxTitle().isEmpty());

    // A report with no total yet: the bar keeps what it showed, the count starts over.
    activity().updateActivity(report(2, m_drive, 0, 0, 0, 0));
    EXPECT_EQ(activity().barValue(), LUMActivityState::kBarMaximum / 2);
    EXPECT_EQ(activity().syncActivityCount(), 0);
    EXPECT_EQ(activity().section(), Section::Progress);
}

TEST_F(ActivityStateTest, ProcessedBeyondTheTotalShowsTheTotal)
{
    activity().updateActivity(report(2, m_drive, 2048, 1024, 1024, 4096));
    EXPECT_EQ(activity().processed(), 2048u);
    EXPECT_EQ(activity().barValue(), LUMActivityState::kBarMaximum);
    EXPECT_EQ(activity().progressText(), QStringLiteral("2.0 KB of 2.0 KB"));

    // Sums that would wrap around 64 bits are capped as well, not wrapped to a small number.
    activity().updateActivity(report(3, m_drive, 100, 50, std::numeric_limits<quint64>::max(), 10));
    EXPECT_EQ(activity().processed(), 100u);
    EXPECT_EQ(activity().barValue(), LUMActivityState::kBarMaximum);
}

TEST_F(ActivityStateTest, SilenceFromTheAgentDuringASyncEndsInContactLost)
{
    activity().setWatchdogInterval(50ms);
    activity().updateActivity(report(2, m_drive, 100, 0, 0, 10));
    EXPECT_FALSE(activity().isWatchdogArmed()) << "a progress report does not arm the watchdog";
    // Same type, no drive named: the agent is expected to speak again before the timer runs out.
    activity().updateActivity({ { QStringLiteral("syncActivityType"), 2 }, { QStringLiteral("syncIsBusy"), true } });
    EXPECT_TRUE(activity().isWatchdogArmed());
    EXPECT_TRUE(activity().activePath().isEmpty());
    ASSERT_TRUE(testsupport::waitFor([&] { return activity().section() == Section::Failure; }, 5s));
    EXPECT_EQ(activity().activityType(), 5);
    EXPECT_EQ(LUMActivityState::failureReasonKey(activity().failureType()), QStringLiteral("ContactLostError"));
    EXPECT_EQ(activity().barValue(), 0);
    EXPECT_TRUE(activity().progressText().isEmpty());
    EXPECT_FALSE(activity().syncIsBusy());
    EXPECT_TRUE(activity().failureText().contains(LUMActivityState::failureReasonText(4)));
}

TEST_F(ActivityStateTest, TheWatchdogLeavesAnIdleWindowAlone)
{
    activity().setWatchdogInterval(20ms);
    activity().updateActivity(report(6, m_drive, 100, 0, 0, 100));
    ASSERT_EQ(activity().section(), Section::Success);
    // An empty notification arms the watchdog; with the activity idle its firing changes nothing.
    activity().updateActivity({});
    ASSERT_TRUE(activity().isWatchdogArmed());
    ASSERT_TRUE(testsupport::waitFor([&] { return !activity().isWatchdogArmed(); }, 5s));
    EXPECT_EQ(activity().section(), Section::Success);
    EXPECT_EQ(activity().activityType(), 6);
}

TEST_F(ActivityStateTest, FailureAndSuccessSectionsSayWhy)
{
    activity().updateActivity(report(2, m_drive, 100, 0, 0, 10));
    QVariantMap failed = report(5, m_drive);
    activity().updateActivity(failed);
    EXPECT_EQ(activity().section(), Section::Failure);
    EXPECT_EQ(activity().failureType(), 1);
    EXPECT_EQ(LUMActivityState::failureReasonKey(activity().failureType()), QStringLiteral("SyncUnknownError"));
    EXPECT_TRUE(activity().failureText().contains(LUMActivityState::failureReasonText(1)));

    activity().updateActivity(report(2, m_drive, 100, 0, 0, 10));
    failed.insert(QStringLiteral("syncActivityFailureType"), 3);
    activity().updateActivity(failed);
    EXPECT_EQ(LUMActivityState::failureReasonKey(activity().failureType()), QStringLiteral("SyncDestError"));

    const QStringList keys { LUMActivityState::failureReasonKey(2), LUMActivityState::failureReasonKey(3),
        LUMActivityState::failureReasonKey(4), LUMActivityState::failureReasonKey(5),
        LUMActivityState::failureReasonKey(6), LUMActivityState::failureReasonKey(0) };
    EXPECT_EQ(keys,
        QStringList({ "SyncSourceError", "SyncDestError", "ContactLostError", "ConnectionLostError", "CancelError",
            "SyncUnknownError" }));

    activity().updateActivity(report(6, m_drive, 3072, 1024, 0, 2048));
    EXPECT_EQ(activity().section(), Section::Success);
    EXPECT_TRUE(activity().successText().contains(QStringLiteral("1.0 KB")));
    EXPECT_TRUE(activity().successText().contains(QStringLiteral("2.0 KB")));
    EXPECT_NE(activity().boxTitle(), QString());

    activity().updateActivity(report(0, m_drive));
    EXPECT_FALSE(activity().activityBoxVisible());
}

TEST_F(ActivityStateTest, ASyncOfTheSelectedDriveLocksItsControlsAndTurnsTheButtonToStop)
{
    EXPECT_TRUE(activity().currentSyncInactive());
    EXPECT_FALSE(activity().syncNowState());
    EXPECT_TRUE(activity().configEnabled());

    activity().updateActivity(report(2, m_drive, 100, 0, 0, 1));
    EXPECT_FALSE(activity().currentSyncInactive());
    EXPECT_TRUE(activity().syncNowState());
    EXPECT_FALSE(activity().configEnabled());
    EXPECT_TRUE(activity().syncNowActiveEnable());

    // The user pressed stop and the agent says the stop is pending: the button waits.
    QVariantMap pending = report(2, m_drive, 100, 0, 0, 2);
    pending.insert(QStringLiteral("syncCancelPending"), true);
    activity().updateActivity(pending);
    EXPECT_TRUE(m_client->syncCancelled());
    EXPECT_FALSE(activity().syncNowActiveEnable());
    activity().updateActivity(report(6, m_drive, 100, 0, 0, 2));
    EXPECT_FALSE(m_client->syncCancelled()) << "a finished sync clears the stop request";
    EXPECT_TRUE(activity().configEnabled());

    // A sync of another drive leaves the selected one's controls alone.
    activity().updateActivity(report(2, m_scratch.filePath(QStringLiteral("media/Other")), 100, 0, 0, 1));
    EXPECT_TRUE(activity().currentSyncInactive());
    EXPECT_FALSE(activity().syncNowState());
    EXPECT_TRUE(activity().configEnabled());
}

TEST_F(ActivityStateTest, ASettingsJobOfTheSelectedDriveFollowsTheBusyFlag)
{
    QVariantMap job = report(4, m_drive);
    job.insert(QStringLiteral("syncIsBusy"), false);
    activity().updateActivity(job);
    EXPECT_FALSE(activity().activityBoxVisible());
    EXPECT_FALSE(activity().currentSyncInactive());
    EXPECT_FALSE(activity().syncNowActiveEnable());
    job.insert(QStringLiteral("syncIsBusy"), true);
    job.insert(QStringLiteral("syncActivityType"), 4);
    activity().updateActivity(job);
    EXPECT_TRUE(activity().currentSyncInactive());
    EXPECT_TRUE(activity().syncNowActiveEnable());
}

TEST_F(ActivityStateTest, TheCopiedFileNamesTheActiveVolume)
{
    QStringList cycles;
    QObject::connect(&activity(), &LUMActivityState::copyCycle, [&](const QString &path) { cycles.append(path); });
    QVariantMap info = report(2, m_drive, 100, 0, 0, 1);
    info.insert(QStringLiteral("syncCopySourcePath"), QStringLiteral("/home/u/Music/song.mp3"));
    activity().updateActivity(info);
    EXPECT_EQ(activity().activeVolume(), QStringLiteral("Backup \u2014 song.mp3"));
    activity().updateActivity(report(2, m_drive, 100, 0, 0, 2));
    EXPECT_EQ(activity().activeVolume(), QStringLiteral("Backup"));
    EXPECT_EQ(cycles, QStringList({ QStringLiteral("/home/u/Music/song.mp3"), QString() }));
}

} // namespace
} // namespace windowtest
