// The manager's window end to end: the real agent started by a private session bus, a real
// ext4 drive, and the window driven as a user would: select the drive, choose the custom
// plan, add a folder, switch syncing on, press Sync Now, watch the progress and then the
// success section, and find the folder's files on the drive; or press Stop while it runs and
// read why it failed.
#include "../../agent/app/AgentHarness.h"
#include "../../protocol/PrivateSessionBus.h"

#include "manager/client/LUMPellmereInterface.h"
#include "manager/widgets/LUMFadeBox.h"
#include "manager/widgets/LUMOnOffButton.h"
#include "manager/widgets/LUMSyncButton.h"
#include "manager/window/LUMApplicationController.h"
#include "manager/window/LUMMainWindow.h"
#include "manager/window/LUMManagerSession.h"
#include "platform/PlatformPaths.h"
#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QCheckBox>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLabel>
#include <QListView>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

using testsupport::AgentHarness;
using testsupport::DriveImage;
using namespace std::chrono_literals;

namespace {

class WindowWithAgentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const QString why = DriveImage::unavailableReason(DriveImage::FileSystem::Ext4); !why.isEmpty())
            GTEST_SKIP() << "needs real ext4 drive images (root and loop devices): " << why.toStdString();
        if (!m_bus.isRunning())
            GTEST_SKIP() << "needs a private session bus: " << m_bus.error().toStdString();
        m_notifications = std::make_unique<testsupport::FakeNotificationServer>(m_bus.connect());
        ASSERT_TRUE(m_notifications->isRegistered());
    }

    void TearDown() override
    {
        m_session.reset();
        QDBusConnection connection = m_bus.connect();
        const auto pid = connection.interface()->servicePid(QStringLiteral("com.corvane.pellmere"));
        if (pid.isValid()) {
            ::kill(pid_t(pid.value()), SIGTERM);
            testsupport::waitFor([&] {
                return !connection.interface()->isServiceRegistered(QStringLiteral("com.corvane.pellmere")).value();
            });
        }
        qunsetenv("PELLMERE_VOLUME_ROOTS");
    }

    // What the bus gives the agent it starts, and what the window's drive list sees.
    bool setVolumeRoots(const QString &roots)
    {
        qputenv("PELLMERE_VOLUME_ROOTS", QFile::encodeName(roots));
        QDBusMessage update = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
            QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
            QStringLiteral("UpdateActivationEnvironment"));
        qDBusRegisterMetaType<QMap<QString, QString>>();
        QMap<QString, QString> environment { { QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address() },
            { QStringLiteral("PELLMERE_VOLUME_ROOTS"), roots } };
        update << QVariant::fromValue(environment);
        const QDBusMessage answer = m_bus.connect().call(update);
        EXPECT_EQ(answer.type(), QDBusMessage::ReplyMessage) << answer.errorMessage().toStdString();
        return answer.type() == QDBusMessage::ReplyMessage;
    }

    int refusedStarts() const
    {
        int count = 0;
        for (const auto &shown : m_notifications->shown())
            count += shown.body.contains(QStringLiteral("is already involved in a sync operation")) ? 1 : 0;
        return count;
    }

    static QString agentLog()
    {
        return QString::fromUtf8(testsupport::readFile(platform::PlatformPaths::agentLogPath()));
    }

    // Opens the window on a fresh drive of `sizeMiB` set up earlier with syncing off, selects
    // it, chooses the custom plan with `folder` and music, and switches syncing on.
    void openWindowWithCustomFolder(const QString &folder, qint64 sizeMiB)
    {
        QString why;
        m_drive = DriveImage::create(DriveImage::FileSystem::Ext4, sizeMiB, &why);
        ASSERT_TRUE(m_drive) << why.toStdString();
        ASSERT_TRUE(m_drive->mount(false, &why)) << why.toStdString();
        ASSERT_TRUE(AgentHarness::writeDriveSettings(m_drive->mountPoint(), false, false));
        ASSERT_TRUE(setVolumeRoots(QFileInfo(m_drive->mountPoint()).absolutePath()));

        m_session = std::make_unique<LUMManagerSession>(
            LUMAgentPaths::standard(QStringLiteral(PELLMERE_AGENT_BINARY)), m_bus.connect());
        ASSERT_TRUE(m_session->client().pellmereIsRunning()) << m_session->client().launchFailure().toStdString();
        ASSERT_TRUE(m_session->isSubscribed());
        LUMMainWindow &window = m_session->window();
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

        // The drive is listed; select it and wait for its settings.
        ASSERT_TRUE(testsupport::waitFor([&] { return window.volumeList()->model()->rowCount() == 1; }, 30s));
        window.volumeList()->setCurrentIndex(window.volumeList()->model()->index(0, 0));
        ASSERT_TRUE(testsupport::waitFor([&] { return !m_session->client().syncPaths().isEmpty(); }, 30s));
        EXPECT_EQ(m_session->client().syncDestinationPath(), m_drive->mountPoint());
        EXPECT_FALSE(window.participationSwitch()->customState());

        window.planButton(3)->click();
        ASSERT_EQ(m_session->controller().syncPlan(), 3);
        window.addChosenPaths({ folder });
        EXPECT_TRUE(m_session->client().syncPaths().contains(folder));
        if (!window.musicBox()->isChecked())
            window.musicBox()->click();
        window.participationSwitch()->setCustomState(true);
        EXPECT_TRUE(m_session->client().syncParticipateMode());
        ASSERT_TRUE(testsupport::waitFor([&] { return window.syncNowButton()->isEnabled(); }, 30s));
    }

    // Presses Sync Now until the agent takes it (it turns a start away while it still applies
    // the settings just sent, and logs why), then waits until `done` holds. Pressed again only
    // after the agent logged that it turned the last press away: the button may show "Sync Now"
    // for a moment after a start that was taken, and a second press would queue a second sync.
    bool pressSyncNowUntil(const std::function<bool()> &done)
    {
        LUMMainWindow &window = m_session->window();
        int presses = 0;
        return testsupport::waitFor(
            [&] {
                if (done())
                    return true;
                const int turnedAway = int(agentLog().count(QStringLiteral("is already involved in a sync operation")));
                if (turnedAway >= presses && window.syncNowButton()->isEnabled() && !window.syncNowButton()->isChecked()
                    && !window.progressSection()->isVisible()) {
                    ++presses;
                    window.syncNowButton()->click();
                }
                return false;
            },
            120s);
    }

    testsupport::PrivateSessionBus m_bus;
    std::unique_ptr<testsupport::FakeNotificationServer> m_notifications;
    std::unique_ptr<DriveImage> m_drive;
    std::unique_ptr<LUMManagerSession> m_session;
};

TEST_F(WindowWithAgentTest, ACustomFolderIsSyncedFromTheWindow)
{
    const QString work = testsupport::testHome() + QStringLiteral("/Work");
    testsupport::writeFile(work + QStringLiteral("/tune.mp3"), QByteArray(6 * 1024 * 1024, 'c'));
    openWindowWithCustomFolder(work, 64);
    if (HasFatalFailure())
        return;
    LUMMainWindow &window = m_session->window();

    // What the user saw of the activity box along the way.
    bool sawProgress = false;
    bool sawSuccess = false;
    QObject::connect(&m_session->controller(), &LUMApplicationController::changed, &window, [&] {
        sawProgress = sawProgress || window.progressSection()->isVisible();
        sawSuccess = sawSuccess || (sawProgress && window.successSection()->isVisible());
    });
    ASSERT_TRUE(pressSyncNowUntil([&] { return sawSuccess; })) << "progress seen: " << sawProgress << "\n"
                                                               << agentLog().toStdString();
    EXPECT_TRUE(window.activityBox()->isVisible());
    EXPECT_TRUE(window.successSection()->isVisible());
    EXPECT_FALSE(window.syncNowButton()->isChecked());
    EXPECT_TRUE(AgentHarness::driveHoldsFile(m_drive->mountPoint(), QStringLiteral("tune.mp3")));
}

TEST_F(WindowWithAgentTest, StopDuringASyncShowsTheFailureWithTheCancelReason)
{
    // Larger than the drive: the sync stops at the full drive and waits for the user's answer,
    // which keeps it running long enough to be stopped from the window.
    const QString work = testsupport::testHome() + QStringLiteral("/Big");
    testsupport::writeFile(work + QStringLiteral("/small.mp3"), QByteArray(1024 * 1024, 's'));
    testsupport::writeFile(work + QStringLiteral("/large.mp3"), QByteArray(48 * 1024 * 1024, 'l'));
    openWindowWithCustomFolder(work, 32);
    if (HasFatalFailure())
        return;
    LUMMainWindow &window = m_session->window();

    ASSERT_TRUE(pressSyncNowUntil([&] { return m_notifications->shown().size() > refusedStarts(); }))
        << agentLog().toStdString();
    ASSERT_TRUE(window.syncNowButton()->isChecked()) << "the button shows Stop while the sync runs";
    window.syncNowButton()->click();
    EXPECT_TRUE(m_session->client().syncCancelled());
    // The copy error still waits for its answer; the sync ends once it has one.
    m_notifications->invokeAction(m_notifications->shown().last().id, QStringLiteral("ok"));
    ASSERT_TRUE(testsupport::waitFor([&] { return window.failureSection()->isVisible(); }, 60s))
        << agentLog().toStdString();
    EXPECT_TRUE(window.failureText()->text().contains(QStringLiteral("it was stopped.")))
        << window.failureText()->text().toStdString();
    EXPECT_FALSE(window.successSection()->isVisible());
    EXPECT_FALSE(window.syncNowButton()->isChecked());
    EXPECT_FALSE(AgentHarness::driveHoldsFile(m_drive->mountPoint(), QStringLiteral("large.mp3")));
}

} // namespace
