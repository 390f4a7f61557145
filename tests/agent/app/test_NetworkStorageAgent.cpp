// The agent daemon with network storage, end to end: a device announced over Avahi (a private
// system bus and avahi-daemon on loopback) whose SMB side is an smbd on a loopback port, GVfs
// on the agent's own session bus. The agent finds the device, mounts its shares, takes the
// writable one as a drive and syncs on connect, as it does with a local drive.
#include "agent/app/PMNetworkStorage.h"
#include "agent/settings/PMConfigurationFile.h"
#include "agent/settings/PMHostUserIdentity.h"
#include "agent/settings/PMUserDefaults.h"
#include "platform/HostIdentity.h"
#include "platform/PlatformPaths.h"
#include "support/AvahiRig.h"
#include "support/GvfsTestSession.h"
#include "support/SmbTestServer.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

#include <signal.h>

namespace {

using namespace std::chrono_literals;

const QString kDeviceName = QStringLiteral("Living Room Storage");

QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    return files;
}

class NetworkStorageAgent : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The rig first: it points this process's system-bus address at its own bus, which the
        // agent inherits.
        m_avahi = std::make_unique<testsupport::AvahiRig>();
        if (!m_avahi->start()) {
            if (m_avahi->lacksCapability())
                GTEST_SKIP() << m_avahi->whyNot().toStdString();
            FAIL() << m_avahi->whyNot().toStdString();
        }
        m_server = std::make_unique<testsupport::SmbTestServer>();
        if (!m_server->error().isEmpty())
            GTEST_SKIP() << "no SMB server here: " << m_server->error().toStdString();
        m_gvfs = std::make_unique<testsupport::GvfsTestSession>();
        if (!m_gvfs->error().isEmpty())
            GTEST_SKIP() << "GVfs cannot mount here: " << m_gvfs->error().toStdString();
        ASSERT_TRUE(m_noVolumes.isValid());
    }

    void TearDown() override
    {
        if (m_agent && m_agent->state() != QProcess::NotRunning) {
            ::kill(pid_t(m_agent->processId()), SIGTERM);
            if (!m_agent->waitForFinished(20000))
                m_agent->kill();
            m_agent->waitForFinished(5000);
        }
        m_agent.reset();
        m_gvfs.reset();
        m_server.reset();
        m_avahi.reset();
    }

    // This user's settings in the share's folder on the server, and this computer's record of
    // the same choice for the share, as the user would have made them.
    void configureShare(const QStringList &syncList)
    {
        PMConfigurationFile config(
            m_server->shareFolder(), PMConfigurationFile::kSyncTypePerUser, PMHostUserIdentity::uniqueHostUserId());
        ASSERT_TRUE(config.addUserToList() && config.setParticipatingEnabledForUser(true)
            && config.setContinuousEnabledForUser(true) && config.setSyncItemList(syncList)
            && config.writeConfigFile());
        const QString identity
            = PMNetworkStorage::shareIdentity(kDeviceName, testsupport::SmbTestServer::publicShare());
        PMUserDefaults defaults(
            platform::PlatformPaths::hostPreferencesPath(platform::HostIdentity::create()->hostName()),
            [](const QDateTime &) { return QStringLiteral("000000000000-7EA00000000-0"); });
        defaults.setParticipating(true, identity);
        defaults.setSyncList(syncList, identity);
        ASSERT_TRUE(defaults.isDeviceParticipating(identity));
    }

    void startAgent()
    {
        QProcessEnvironment environment = m_gvfs->environment();
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS"));
        // No local volume is the agent's business here.
        environment.insert(QStringLiteral("PELLMERE_VOLUME_ROOTS"), m_noVolumes.path());
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        m_agent = std::make_unique<QProcess>();
        m_agent->setProcessEnvironment(environment);
        m_agent->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_agent->start(QStringLiteral(PELLMERE_AGENT_BINARY),
            { QStringLiteral("--foreground"), QStringLiteral("--debug"), QStringLiteral("--smb-port"),
                QString::number(m_server->port()) });
        ASSERT_TRUE(m_agent->waitForStarted(10000)) << m_agent->errorString().toStdString();
    }

    // `pellmerectl shares` against the agent; its standard output.
    QString sharesListing()
    {
        QProcess ctl;
        ctl.setProcessEnvironment(m_agent->processEnvironment());
        ctl.start(QStringLiteral(PELLMERECTL_BINARY), { QStringLiteral("shares") });
        if (!ctl.waitForFinished(30000) || ctl.exitCode() != 0)
            return QStringLiteral("pellmerectl failed: ") + QString::fromLocal8Bit(ctl.readAllStandardError());
        return QString::fromLocal8Bit(ctl.readAllStandardOutput());
    }

    QString agentLog() const
    {
        return QString::fromUtf8(testsupport::readFile(platform::PlatformPaths::agentLogPath()));
    }

    std::unique_ptr<testsupport::AvahiRig> m_avahi;
    std::unique_ptr<testsupport::SmbTestServer> m_server;
    std::unique_ptr<testsupport::GvfsTestSession> m_gvfs;
    std::unique_ptr<QProcess> m_agent;
    QTemporaryDir m_noVolumes;
};

TEST_F(NetworkStorageAgent, MountsTheSharesOfADiscoveredDeviceAndSyncsOnConnect)
{
    const QString music = QDir(testsupport::testHome()).filePath(QStringLiteral("Music"));
    testsupport::writeFile(music + QStringLiteral("/song.mp3"), QByteArray(100000, 's'));
    testsupport::writeFile(music + QStringLiteral("/Live/encore.mp3"), QByteArray(50000, 'e'));
    configureShare({ QStringLiteral("~/Music") });

    startAgent();
    ASSERT_TRUE(m_avahi->publish(kDeviceName, { QStringLiteral("skyvaleModel=QXA1") }));

    // The share the device lists as "Public" is mounted by GVfs, mapped, and synced onto.
    const QString shareFolder = m_server->shareFolder();
    const auto synced = [&] {
        bool song = false;
        bool encore = false;
        for (const QString &file : filesBelow(shareFolder)) {
            if (file.contains(QLatin1String("/.Z_PM_W/")))
                continue;
            song = song || file.endsWith(QLatin1String("/Music/song.mp3"));
            encore = encore || file.endsWith(QLatin1String("/Music/Live/encore.mp3"));
        }
        return song && encore;
    };
    ASSERT_TRUE(testsupport::waitFor(synced, 120s))
        << "on the server: " << filesBelow(shareFolder).join(QLatin1Char(' ')).toStdString() << "\nagent log:\n"
        << agentLog().toStdString();
    for (const QString &file : filesBelow(shareFolder)) {
        if (file.endsWith(QLatin1String("/Music/song.mp3"))) {
            EXPECT_EQ(testsupport::readFile(file), QByteArray(100000, 's'));
        }
    }
    // Mounted through GVfs in the agent's session, with the port given to the agent.
    const QStringList mounted
        = QDir(m_gvfs->runtimeFolder() + QStringLiteral("/gvfs")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    EXPECT_TRUE(
        mounted.contains(QStringLiteral("smb-share:port=%1,server=127.0.0.1,share=public").arg(m_server->port())))
        << mounted.join(QLatin1Char(' ')).toStdString();

    // The command-line client shows the device, its shares and where the writable one is mapped.
    const QString publicFolder = m_gvfs->runtimeFolder()
        + QStringLiteral("/gvfs/smb-share:port=%1,server=127.0.0.1,share=public").arg(m_server->port());
    const QString listing = sharesListing();
    EXPECT_TRUE(listing.contains(kDeviceName + QStringLiteral("  127.0.0.1  QXA1\n"))) << listing.toStdString();
    EXPECT_TRUE(listing.contains(QStringLiteral("  Public  mapped at ") + publicFolder + QLatin1Char('\n')))
        << listing.toStdString();
    EXPECT_TRUE(listing.contains(QStringLiteral("  Archive  "))) << listing.toStdString();

    // Unmounted through GVfs by somebody else: the share is no drive any more.
    QProcess gio;
    gio.setProcessEnvironment(m_gvfs->environment());
    gio.start(QStringLiteral("gio"),
        { QStringLiteral("mount"), QStringLiteral("-u"),
            QStringLiteral("smb://127.0.0.1:%1/public").arg(m_server->port()) });
    ASSERT_TRUE(gio.waitForFinished(30000) && gio.exitCode() == 0) << gio.readAllStandardError().toStdString();
    EXPECT_TRUE(testsupport::waitFor(
        [&] { return agentLog().contains(QStringLiteral("-[KRTSyncController %1 dealloc]").arg(publicFolder)); }, 30s))
        << agentLog().toStdString();
    EXPECT_TRUE(sharesListing().contains(QStringLiteral("  Public  not mapped\n"))) << sharesListing().toStdString();

    // The device leaves the network: it is gone from the list, and so are its shares.
    m_avahi->unpublish(kDeviceName);
    EXPECT_TRUE(testsupport::waitFor(
        [&] { return sharesListing() == QStringLiteral("no network storage devices found\n"); }, 30s))
        << sharesListing().toStdString();
    const QString archiveFolder = m_gvfs->runtimeFolder()
        + QStringLiteral("/gvfs/smb-share:port=%1,server=127.0.0.1,share=archive").arg(m_server->port());
    EXPECT_TRUE(testsupport::waitFor(
        [&] { return agentLog().contains(QStringLiteral("-[KRTSyncController %1 dealloc]").arg(archiveFolder)); }, 30s))
        << agentLog().toStdString();
}

TEST_F(NetworkStorageAgent, ADeviceLostMidSyncEndsTheJobAsAConnectionErrorWithoutPartialFiles)
{
    const QString music = QDir(testsupport::testHome()).filePath(QStringLiteral("Music"));
    constexpr int kFiles = 200;
    const QByteArray content(512 * 1024, 'm');
    for (int i = 0; i < kFiles; ++i)
        testsupport::writeFile(music + QStringLiteral("/track-%1.mp3").arg(i, 3, 10, QLatin1Char('0')), content);
    configureShare({ QStringLiteral("~/Music") });

    // The log file lives in this process's home; only this agent's lines count.
    const qsizetype logStart = agentLog().size();
    const auto log = [&] { return agentLog().mid(logStart); };
    startAgent();
    ASSERT_TRUE(m_avahi->publish(kDeviceName, { QStringLiteral("skyvaleModel=QXA1") }));

    // The server's own folder shows the copies arriving; the device dies after the first.
    const QString shareFolder = m_server->shareFolder();
    const auto copying = [&] {
        for (const QString &file : filesBelow(shareFolder)) {
            if (file.endsWith(QLatin1String(".mp3")))
                return true;
        }
        return false;
    };
    ASSERT_TRUE(testsupport::waitFor(copying, 120s)) << log().toStdString();
    m_server->kill();

    ASSERT_TRUE(
        testsupport::waitFor([&] { return log().contains(QStringLiteral("failed due to connection error.")); }, 120s))
        << log().toStdString();
    EXPECT_FALSE(log().contains(QStringLiteral("completed successfully")));
    // Whatever reached the synced folder is whole; the rest stayed in the temporary folder.
    int placed = 0;
    for (const QString &file : filesBelow(shareFolder)) {
        if (!file.endsWith(QLatin1String(".mp3")) || file.contains(QLatin1String("/.Z_PM_W/")))
            continue;
        ++placed;
        EXPECT_EQ(QFileInfo(file).size(), content.size()) << file.toStdString();
    }
    EXPECT_LT(placed, kFiles);
}

TEST(NetworkStorageAgentOptions, TheSmbPortIsAPortNumberOrTheAgentDoesNotStart)
{
    for (const QStringList &arguments : { QStringList { QStringLiteral("--smb-port") },
             QStringList { QStringLiteral("--smb-port"), QStringLiteral("0") },
             QStringList { QStringLiteral("--smb-port"), QStringLiteral("65536") },
             QStringList { QStringLiteral("--smb-port"), QStringLiteral("smb") } }) {
        QProcess agent;
        agent.start(QStringLiteral(PELLMERE_AGENT_BINARY), QStringList { QStringLiteral("--foreground") } + arguments);
        ASSERT_TRUE(agent.waitForFinished(10000)) << arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(agent.exitCode(), 2) << arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(agent.readAllStandardError().contains("--smb-port needs a port number"));
    }
    QProcess help;
    help.start(QStringLiteral(PELLMERE_AGENT_BINARY), { QStringLiteral("--help") });
    ASSERT_TRUE(help.waitForFinished(10000));
    EXPECT_TRUE(help.readAllStandardOutput().contains("--smb-port PORT"));
}

} // namespace
