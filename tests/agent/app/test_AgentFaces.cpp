// The agent's two faces, chosen at start: without a display it is the headless program and
// maps no Widgets library; with one it loads its desktop plugin. And the requests `pellmere`
// hands to a running agent: --show-log and --open PATH....
#include "AgentHarness.h"
#include "protocol/AEConstants.h"
#include "protocol/PMControlClient.h"
#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

using testsupport::AgentHarness;
using testsupport::DriveImage;

namespace {

struct CommandRun {
    int exitCode = -1;
    QString out;
    QString err;
};

QString mapsOf(qint64 pid)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    return maps.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(maps.readAll()) : QString();
}

class AgentFacesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const QString why = m_agent.whyNot(); !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
    }
    void TearDown() override { m_agent.stop(20000); }

    // `pellmere ARGS` as a second process of the same user and bus.
    CommandRun pellmere(const QStringList &arguments, const QString &workingDirectory = QString())
    {
        QProcess process;
        process.setProcessEnvironment(m_agent.environment());
        if (!workingDirectory.isEmpty())
            process.setWorkingDirectory(workingDirectory);
        process.start(QStringLiteral(PELLMERE_AGENT_BINARY), arguments);
        CommandRun run;
        if (!process.waitForFinished(60000))
            return run;
        run.exitCode = process.exitCode();
        run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
        run.err = QString::fromLocal8Bit(process.readAllStandardError());
        return run;
    }

    AgentHarness m_agent;
};

TEST_F(AgentFacesTest, WithoutADisplayTheAgentMapsNoWidgetsAndShowLogNamesTheLogFile)
{
    QString why;
    ASSERT_TRUE(m_agent.start(&why)) << why.toStdString();
    const QString maps = mapsOf(m_agent.process().processId());
    ASSERT_FALSE(maps.isEmpty());
    EXPECT_TRUE(maps.contains(QStringLiteral("libQt6Core"))) << "the maps were not read";
    EXPECT_FALSE(maps.contains(QStringLiteral("libQt6Widgets")));
    EXPECT_FALSE(maps.contains(QStringLiteral("libQt6Gui")));
    EXPECT_FALSE(maps.contains(QStringLiteral("pellmere-desktop")));

    const CommandRun shown = pellmere({ QStringLiteral("--show-log") });
    EXPECT_EQ(shown.exitCode, 0) << shown.err.toStdString();
    EXPECT_TRUE(shown.out.contains(QStringLiteral("has no window"))) << shown.out.toStdString();
    EXPECT_TRUE(shown.out.contains(QStringLiteral("Pellmere.log"))) << shown.out.toStdString();
}

TEST_F(AgentFacesTest, WithADisplayTheAgentLoadsItsDesktopFaceAndShowsItsLogWindow)
{
    // Any display name: the offscreen platform draws nowhere, but the agent sees a display.
    m_agent.setEnvironmentValue(QStringLiteral("DISPLAY"), QStringLiteral(":97"));
    m_agent.setEnvironmentValue(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QString why;
    ASSERT_TRUE(m_agent.start(&why)) << why.toStdString();
    const QString maps = mapsOf(m_agent.process().processId());
    EXPECT_TRUE(maps.contains(QStringLiteral("libQt6Widgets")));
    EXPECT_TRUE(maps.contains(QStringLiteral("pellmere-desktop.so")));

    protocol::PMControlClient client(m_agent.connection());
    bool shown = false;
    ASSERT_EQ(client.showLog(&shown), protocol::kNoErr) << client.lastErrorText().toStdString();
    EXPECT_TRUE(shown);
    const CommandRun again = pellmere({ QStringLiteral("--show-log") });
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_FALSE(again.out.contains(QStringLiteral("has no window")));

    // The windows go away cleanly with the agent.
    int exitCode = -1;
    ASSERT_TRUE(m_agent.stop(20000, &exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(m_agent.log().contains(QStringLiteral("Kerrit stopping.")));
}

TEST_F(AgentFacesTest, OpenNeedsAPathAndARunningAgent)
{
    const CommandRun none = pellmere({ QStringLiteral("--open") });
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_TRUE(none.err.contains(QStringLiteral("needs at least one path")));
    const CommandRun noAgent = pellmere({ QStringLiteral("--open"), QDir::tempPath() });
    EXPECT_EQ(noAgent.exitCode, 1);
    EXPECT_TRUE(noAgent.err.contains(QStringLiteral("no Pellmere agent is running"))) << noAgent.err.toStdString();
}

TEST_F(AgentFacesTest, OpenSyncsTheDriveHoldingThePathsOnceAndRefusesPathsOnNoDrive)
{
    if (const QString why = m_agent.whyNoAgentWithDrives(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    const QString music = testsupport::testHome() + QStringLiteral("/Music");
    testsupport::writeFile(music + QStringLiteral("/song.mp3"), QByteArray(4000, 's'));
    QString why;
    auto drive = DriveImage::create(DriveImage::FileSystem::Ext4, 64, &why);
    ASSERT_TRUE(drive) << why.toStdString();
    m_agent.addVolumeRoot(QFileInfo(drive->mountPoint()).absolutePath());
    ASSERT_TRUE(drive->mount(false, &why)) << why.toStdString();
    // Set up on the drive but neither taking part nor continuous: nothing syncs by itself.
    ASSERT_TRUE(AgentHarness::writeDriveSettings(drive->mountPoint(), false, false));
    testsupport::writeFile(drive->mountPoint() + QStringLiteral("/Photos/picture.jpg"), QByteArray("jpg"));
    ASSERT_TRUE(m_agent.start(&why)) << why.toStdString();
    ASSERT_TRUE(m_agent.waitForLog(QStringLiteral("syncControllerForMountPoint: created")))
        << m_agent.log().toStdString();

    // Two paths on the drive, one given relative to the working folder: one sync.
    const CommandRun open = pellmere(
        { QStringLiteral("--open"), QStringLiteral("Photos/picture.jpg"), drive->mountPoint() }, drive->mountPoint());
    EXPECT_EQ(open.exitCode, 0) << open.err.toStdString();
    ASSERT_TRUE(m_agent.waitForLog(QStringLiteral("completed successfully"), 60000)) << m_agent.log().toStdString();
    EXPECT_TRUE(QFileInfo::exists(drive->mountPoint())) << "the drive is still there";
    EXPECT_EQ(m_agent.log().count(QStringLiteral("-application:openFiles: syncing")), 1);

    const QString elsewhere = testsupport::testHome();
    const CommandRun refused = pellmere({ QStringLiteral("--open"), elsewhere });
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains(elsewhere + QStringLiteral("\" is not on a connected drive")))
        << refused.err.toStdString();
    EXPECT_TRUE(m_agent.waitForLog(QStringLiteral("it is not on a connected drive")));
}

} // namespace
