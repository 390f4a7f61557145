// Installing the agent's per-user launch entries and starting the agent through the session
// bus: a fresh install, a valid install left alone, older or foreign entries rewritten, no
// install without the agent program, a system-wide install of this agent taken as it is, and a launch that fails
// telling why (an agent that exits, another program holding the agent's name, no bus at all).
#include "../../protocol/PrivateSessionBus.h"
#include "ManagerLogCapture.h"

#include "manager/client/LUMAgentInstaller.h"
#include "manager/client/LUMAgentLauncher.h"
#include "manager/client/LUMAgentPaths.h"
#include "protocol/PMBusNames.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

QString text(const QString &path)
{
    return QString::fromUtf8(testsupport::readFile(path));
}

// An executable shell script standing in for the agent program.
QString writeScript(const QString &path, const QByteArray &body)
{
    testsupport::writeFile(path, QByteArrayLiteral("#!/bin/sh\n") + body);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

class AgentInstallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_paths.agentExecutable = writeScript(m_dir.filePath(QStringLiteral("bin/pellmere")), "exit 0\n");
        m_paths.activationFile = m_dir.filePath(QStringLiteral("share/dbus-1/services/com.corvane.pellmere.service"));
        m_paths.autostartFile = m_dir.filePath(QStringLiteral("config/autostart/com.corvane.pellmere.desktop"));
    }

    QTemporaryDir m_dir;
    LUMAgentPaths m_paths;
    testsupport::ManagerLogCapture m_log;
};

TEST_F(AgentInstallTest, FreshInstallWritesBothEntriesAndAValidOneIsLeftUntouched)
{
    LUMAgentInstaller installer(m_paths, QStringLiteral("stamp-A"));
    ASSERT_TRUE(installer.installPellmere());
    EXPECT_TRUE(m_log.contains(QStringLiteral("D - LUMPellmereInterface(installPellmere) - installPellmere - "
                                              "launchAgentPresent false")));
    EXPECT_TRUE(m_log.contains(QStringLiteral("installPellmere - installValid false")));
    EXPECT_TRUE(m_log.contains(QStringLiteral("Installed Pellmere")));

    const QString service = text(m_paths.activationFile);
    EXPECT_TRUE(service.startsWith(QStringLiteral("[D-BUS Service]\nName=com.corvane.pellmere\n")))
        << service.toStdString();
    EXPECT_TRUE(service.contains(QStringLiteral("Exec=\"%1\" --foreground\n").arg(m_paths.agentExecutable)));
    const QString desktop = text(m_paths.autostartFile);
    EXPECT_TRUE(desktop.startsWith(QStringLiteral("[Desktop Entry]\n")));
    EXPECT_TRUE(desktop.contains(QStringLiteral("Exec=\"%1\" --foreground\n").arg(m_paths.agentExecutable)));
    for (const QString &entry : { service, desktop }) {
        EXPECT_TRUE(entry.contains(QStringLiteral("X-Pellmere-IntegerVersion=46\n")));
        EXPECT_TRUE(entry.contains(QStringLiteral("X-Pellmere-BuildStamp=stamp-A\n")));
    }

    // Marked so that a rewrite would show; still a valid entry of this build.
    testsupport::writeFile(m_paths.activationFile, ("# kept\n" + service).toUtf8());
    m_log.clear();
    ASSERT_TRUE(LUMAgentInstaller(m_paths, QStringLiteral("stamp-A")).installPellmere());
    EXPECT_TRUE(text(m_paths.activationFile).startsWith(QStringLiteral("# kept\n")));
    EXPECT_TRUE(m_log.contains(QStringLiteral("installPellmere - launchAgentPresent true")));
    EXPECT_TRUE(m_log.contains(QStringLiteral("installPellmere - binaryAgentPresent true")));
    EXPECT_TRUE(m_log.contains(QStringLiteral("installPellmere - installValid true")));
    EXPECT_FALSE(m_log.contains(QStringLiteral("Installed Pellmere")));
}

TEST_F(AgentInstallTest, OlderForeignOrUnreadableEntriesAreRewritten)
{
    // Written by a manager of format 45.
    ASSERT_TRUE(LUMAgentInstaller(m_paths, QStringLiteral("stamp-A"), 45).installPellmere());
    ASSERT_TRUE(text(m_paths.autostartFile).contains(QStringLiteral("X-Pellmere-IntegerVersion=45\n")));
    m_log.clear();
    ASSERT_TRUE(LUMAgentInstaller(m_paths, QStringLiteral("stamp-A")).installPellmere());
    EXPECT_TRUE(m_log.contains(QStringLiteral("Installing Pellmere - previous version is earlier")));
    EXPECT_TRUE(m_log.contains(QStringLiteral("Installed Pellmere")));
    EXPECT_TRUE(text(m_paths.activationFile).contains(QStringLiteral("X-Pellmere-IntegerVersion=46\n")));
    EXPECT_TRUE(text(m_paths.autostartFile).contains(QStringLiteral("X-Pellmere-IntegerVersion=46\n")));

    // Another build of the same format.
    ASSERT_TRUE(LUMAgentInstaller(m_paths, QStringLiteral("stamp-B")).installPellmere());
    EXPECT_TRUE(text(m_paths.activationFile).contains(QStringLiteral("X-Pellmere-BuildStamp=stamp-B\n")));
    EXPECT_TRUE(text(m_paths.autostartFile).contains(QStringLiteral("X-Pellmere-BuildStamp=stamp-B\n")));

    // An agent installed elsewhere by this very build.
    LUMAgentPaths moved = m_paths;
    moved.agentExecutable = writeScript(m_dir.filePath(QStringLiteral("other bin/pellmere")), "exit 0\n");
    ASSERT_TRUE(LUMAgentInstaller(moved, QStringLiteral("stamp-B")).installPellmere());
    EXPECT_TRUE(text(m_paths.activationFile).contains(QStringLiteral("\"%1\"").arg(moved.agentExecutable)));

    // Not an entry at all.
    testsupport::writeFile(m_paths.activationFile, QByteArrayLiteral("\x01\x02 garbage"));
    m_log.clear();
    ASSERT_TRUE(LUMAgentInstaller(moved, QStringLiteral("stamp-B")).installPellmere());
    EXPECT_TRUE(m_log.contains(QStringLiteral("Installing Pellmere - previous version plist not valid")));
    EXPECT_TRUE(text(m_paths.activationFile).startsWith(QStringLiteral("[D-BUS Service]\n")));
}

TEST_F(AgentInstallTest, NothingIsInstalledWithoutTheAgentProgram)
{
    m_paths.agentExecutable = m_dir.filePath(QStringLiteral("bin/missing"));
    EXPECT_FALSE(LUMAgentInstaller(m_paths, QStringLiteral("stamp-A")).installPellmere());
    EXPECT_TRUE(m_log.contains(QStringLiteral("installPellmere - binaryAgentPresent false")));
    EXPECT_FALSE(QFile::exists(m_paths.activationFile));
    EXPECT_FALSE(QFile::exists(m_paths.autostartFile));
}

// The packages put the entries in the system's XDG folders; the manager must find them there
// and neither write nor keep per-user copies, which would hide them.
class SystemWideInstallTest : public AgentInstallTest {
protected:
    void SetUp() override
    {
        AgentInstallTest::SetUp();
        m_savedDataDirs = qgetenv("XDG_DATA_DIRS");
        m_savedConfigDirs = qgetenv("XDG_CONFIG_DIRS");
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_dir.filePath(QStringLiteral("usr/share"))));
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(m_dir.filePath(QStringLiteral("etc/xdg"))));
    }
    void TearDown() override
    {
        qputenv("XDG_DATA_DIRS", m_savedDataDirs);
        qputenv("XDG_CONFIG_DIRS", m_savedConfigDirs);
    }

    // Both system entries, starting the given Exec= line, as the packages install them.
    void installSystemWide(const QString &exec)
    {
        testsupport::writeFile(m_dir.filePath(QStringLiteral("usr/share/dbus-1/services/com.corvane.pellmere.service")),
            QStringLiteral("[D-BUS Service]\nName=com.corvane.pellmere\nExec=%1\n").arg(exec).toUtf8());
        testsupport::writeFile(m_dir.filePath(QStringLiteral("etc/xdg/autostart/com.corvane.pellmere.desktop")),
            QStringLiteral("[Desktop Entry]\nType=Application\nName=Pellmere\nExec=%1\n").arg(exec).toUtf8());
    }

    QByteArray m_savedDataDirs;
    QByteArray m_savedConfigDirs;
};

TEST_F(SystemWideInstallTest, EntriesOfThisAgentAreValidAndPerUserCopiesGo)
{
    const LUMAgentPaths paths = LUMAgentPaths::standard(m_paths.agentExecutable);
    ASSERT_TRUE(paths.systemActivationFile.isEmpty());
    // Left by a manager of a per-user install, before the packages came.
    ASSERT_TRUE(LUMAgentInstaller(paths, QStringLiteral("stamp-A")).installPellmere());
    ASSERT_TRUE(QFile::exists(paths.activationFile));

    const std::optional<QString> exec = LUMAgentInstaller(paths).execLine();
    ASSERT_TRUE(exec);
    installSystemWide(*exec);
    const LUMAgentPaths found = LUMAgentPaths::standard(m_paths.agentExecutable);
    EXPECT_EQ(found.systemActivationFile,
        m_dir.filePath(QStringLiteral("usr/share/dbus-1/services/com.corvane.pellmere.service")));
    EXPECT_EQ(
        found.systemAutostartFile, m_dir.filePath(QStringLiteral("etc/xdg/autostart/com.corvane.pellmere.desktop")));

    // The user turned autostart off the XDG way, by an entry of their own.
    testsupport::writeFile(found.autostartFile, QByteArrayLiteral("[Desktop Entry]\nHidden=true\n"));
    m_log.clear();
    ASSERT_TRUE(LUMAgentInstaller(found, QStringLiteral("stamp-B")).installPellmere());
    EXPECT_TRUE(m_log.contains(QStringLiteral("installPellmere - system-wide install valid")));
    EXPECT_FALSE(m_log.contains(QStringLiteral("Installed Pellmere")));
    EXPECT_FALSE(QFile::exists(found.activationFile));
    EXPECT_EQ(text(found.autostartFile), QStringLiteral("[Desktop Entry]\nHidden=true\n"));
}

TEST_F(SystemWideInstallTest, EntriesOfAnotherAgentDoNotCount)
{
    // The packages' agent, while this manager runs from a per-user copy of its own.
    installSystemWide(QStringLiteral("\"/usr/libexec/pellmere\" --foreground"));
    const LUMAgentPaths paths = LUMAgentPaths::standard(m_paths.agentExecutable);
    ASSERT_FALSE(paths.systemActivationFile.isEmpty());
    ASSERT_TRUE(LUMAgentInstaller(paths, QStringLiteral("stamp-A")).installPellmere());
    EXPECT_FALSE(m_log.contains(QStringLiteral("system-wide install valid")));
    EXPECT_TRUE(m_log.contains(QStringLiteral("Installed Pellmere")));
    EXPECT_TRUE(text(paths.activationFile).contains(QStringLiteral("\"%1\"").arg(m_paths.agentExecutable)));
    EXPECT_TRUE(QFile::exists(paths.autostartFile));
}

class AgentLaunchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!m_bus.isRunning())
            GTEST_SKIP() << "needs a private session bus: " << m_bus.error().toStdString();
        ASSERT_TRUE(m_dir.isValid());
    }

    // The bus was started with this test process's environment, so it reads activation
    // files from the test's own $XDG_DATA_HOME.
    testsupport::PrivateSessionBus m_bus;
    QTemporaryDir m_dir;
    testsupport::ManagerLogCapture m_log;
};

TEST_F(AgentLaunchTest, AnAgentThatExitsWhileStartingIsReportedWithItsStatusAndLastLogLine)
{
    const QString log = m_dir.filePath(QStringLiteral("agent.log"));
    testsupport::writeFile(log, QByteArrayLiteral("an earlier run\n"));
    // A folder name a shell would choke on: the entry must still name the program exactly.
    const QString program = writeScript(m_dir.filePath(QStringLiteral("it's a dir $HOME/pellmere")),
        "echo 'cannot read the drive list' >> '" + log.toUtf8() + "'\nexit 3\n");
    const LUMAgentPaths paths = LUMAgentPaths::standard(program);
    ASSERT_TRUE(paths.activationFile.startsWith(testsupport::testHome()));
    ASSERT_TRUE(LUMAgentInstaller(paths).installPellmere());

    LUMAgentLauncher launcher(m_bus.connect(), program);
    launcher.setAgentLogPath(log);
    QString why;
    EXPECT_FALSE(launcher.launch(&why));
    EXPECT_TRUE(why.contains(QStringLiteral("exited with status 3"))) << why.toStdString();
    EXPECT_TRUE(why.contains(QStringLiteral("the agent's last log line: cannot read the drive list")))
        << why.toStdString();
}

TEST_F(AgentLaunchTest, TheAgentCountsAsRunningOnlyWhenItsProgramOwnsTheName)
{
    // This test process takes the agent's name, as an agent already running would.
    QDBusConnection owner = m_bus.connect();
    ASSERT_TRUE(owner.registerService(protocol::kPMServiceName));

    const QString self = QCoreApplication::applicationFilePath();
    const auto address = LUMAgentLauncher(m_bus.connect(), self).launch(nullptr);
    ASSERT_TRUE(address);
    EXPECT_EQ(*address, owner.baseService());

    LUMAgentLauncher other(m_bus.connect(), QStringLiteral("/bin/sh"));
    other.setTimeout(300ms);
    QString why;
    EXPECT_FALSE(other.launch(&why));
    EXPECT_TRUE(why.contains(QStringLiteral("owned by process %1 running %2, not the agent at /bin/sh")
                                 .arg(QCoreApplication::applicationPid())
                                 .arg(QFileInfo(self).canonicalFilePath())))
        << why.toStdString();
}

TEST(AgentLaunchWithoutBusTest, NoSessionBusIsReported)
{
    QTemporaryDir dir;
    const QDBusConnection none = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=%1/no-bus").arg(dir.path()), QStringLiteral("pellmere-test-no-bus"));
    QString why;
    EXPECT_FALSE(LUMAgentLauncher(none, QStringLiteral("/bin/sh")).launch(&why));
    EXPECT_TRUE(why.startsWith(QStringLiteral("no session bus"))) << why.toStdString();
    QDBusConnection::disconnectFromBus(QStringLiteral("pellmere-test-no-bus"));
}

} // namespace
