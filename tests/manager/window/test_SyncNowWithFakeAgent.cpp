// What the sync-now/stop button sends to the agent, against a stand-in agent on a private
// bus that records every event: a start when nothing runs, a start held back while the agent
// is still applying settings to the drive (it would refuse it), and a stop.
#include "../../protocol/PrivateSessionBus.h"
#include "../client/FakeAgent.h"
#include "WindowTestFixture.h"

#include "manager/client/LUMPellmereInterface.h"
#include "manager/volumes/LUMVolumeListModel.h"
#include "manager/window/LUMApplicationController.h"
#include "netstorage/FSNamesAndTags.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using testsupport::FakeAgent;

namespace windowtest {
namespace {

class SyncNowWithFakeAgentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!m_bus.isRunning())
            GTEST_SKIP() << "needs a private session bus: " << m_bus.error().toStdString();
        m_agent = std::make_unique<FakeAgent>(m_bus.address());
        ASSERT_TRUE(m_agent->isRunning());
        m_drive = m_scratch.filePath(QStringLiteral("Backup"));
        QDir().mkpath(m_drive);
        m_monitor = std::make_unique<ListedVolumes>(m_describer, FSNamesAndTags::sharedManager());
        m_monitor->list(m_drive, QStringLiteral("Backup"));
        m_volumes = std::make_unique<LUMVolumeListModel>(*m_monitor);
        // The stand-in runs in this process, so the client looks for this program.
        m_client = std::make_unique<LUMPellmereInterface>(
            LUMAgentPaths::standard(QCoreApplication::applicationFilePath()), m_bus.connect());
        ASSERT_TRUE(m_client->pellmereIsRunning()) << m_client->launchFailure().toStdString();
        m_controller = std::make_unique<LUMApplicationController>(*m_client, *m_volumes);
        m_controller->selectVolume(0);
        ASSERT_EQ(m_client->syncDestinationPath(), m_drive);
        m_agent->clear();
    }

    QVariantMap activity(int type, bool busy) const
    {
        return { { QStringLiteral("syncActivityType"), type }, { QStringLiteral("syncIsBusy"), busy },
            { QStringLiteral("activePath"), m_drive } };
    }

    QTemporaryDir m_scratch;
    testsupport::PrivateSessionBus m_bus;
    std::unique_ptr<FakeAgent> m_agent;
    NoMountsDescriber m_describer;
    std::unique_ptr<ListedVolumes> m_monitor;
    std::unique_ptr<LUMVolumeListModel> m_volumes;
    std::unique_ptr<LUMPellmereInterface> m_client;
    std::unique_ptr<LUMApplicationController> m_controller;
    QString m_drive;
};

TEST_F(SyncNowWithFakeAgentTest, StartsAtOnceWhenTheDriveIsIdle)
{
    m_controller->activity().updateActivity(activity(6, false));
    m_controller->syncButtonToggled(true);
    EXPECT_EQ(m_agent->receivedIDs(), QStringList({ QStringLiteral("DOIT") }));
    EXPECT_EQ(m_controller->activity().activityType(), 0);
}

TEST_F(SyncNowWithFakeAgentTest, AStartDuringASettingsJobWaitsForItsEnd)
{
    m_controller->activity().updateActivity(activity(4, true));
    m_controller->syncButtonToggled(true);
    EXPECT_TRUE(m_agent->receivedIDs().isEmpty()) << "the agent would refuse the start now";
    m_controller->activity().updateActivity(activity(0, false));
    EXPECT_EQ(m_agent->receivedIDs(), QStringList({ QStringLiteral("DOIT") }));
    // Only once.
    m_controller->activity().updateActivity(activity(6, false));
    EXPECT_EQ(m_agent->receivedIDs().size(), 1);
}

TEST_F(SyncNowWithFakeAgentTest, AStopWithdrawsAHeldStartAndStopsTheSync)
{
    m_controller->activity().updateActivity(activity(4, true));
    m_controller->syncButtonToggled(true);
    m_controller->syncButtonToggled(false);
    EXPECT_TRUE(m_client->syncCancelled());
    EXPECT_TRUE(m_agent->receivedIDs().contains(QStringLiteral("STOP")));
    m_controller->activity().updateActivity(activity(0, false));
    EXPECT_FALSE(m_agent->receivedIDs().contains(QStringLiteral("DOIT")));
}

} // namespace
} // namespace windowtest
