// The manager's agent client with the real agent on a real drive: the agent is started by
// the session bus from the activation file the client installed, the client reads the
// drive's settings, a change it makes lands in the drive's configuration file, a sync it
// asks for copies the user's files, the status it asks for is the user's, and a stop it
// sends cancels a running sync.
#include "../../agent/app/AgentHarness.h"
#include "../../protocol/PrivateSessionBus.h"

#include "agent/settings/PMConfigurationFile.h"
#include "agent/settings/PMHostUserIdentity.h"
#include "agent/sync/PMSyncProgress.h"
#include "manager/client/LUMAgentPaths.h"
#include "manager/client/LUMPellmereInterface.h"
#include "platform/PlatformPaths.h"
#include "platform/PropertyList.h"
#include "protocol/PMNotificationSubscriber.h"
#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>

using testsupport::AgentHarness;
using testsupport::DriveImage;
using namespace protocol;
using namespace std::chrono_literals;

namespace {

// The first value of `key` anywhere in a property-list tree.
std::optional<QVariant> findKey(const QVariant &node, const QString &key)
{
    if (node.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = node.toMap();
        if (map.contains(key))
            return map.value(key);
        for (const QVariant &child : map) {
            if (auto found = findKey(child, key))
                return found;
        }
    } else if (node.typeId() == QMetaType::QVariantList) {
        for (const QVariant &child : node.toList()) {
            if (auto found = findKey(child, key))
                return found;
        }
    }
    return std::nullopt;
}

class AgentClientWithDriveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const QString why = DriveImage::unavailableReason(DriveImage::FileSystem::Ext4); !why.isEmpty())
            GTEST_SKIP() << "needs real ext4 drive images (root and loop devices): " << why.toStdString();
        if (!m_bus.isRunning())
            GTEST_SKIP() << "needs a private session bus: " << m_bus.error().toStdString();
        // The agent's alerts go here and wait for the test's answer.
        m_notifications = std::make_unique<testsupport::FakeNotificationServer>(m_bus.connect());
        ASSERT_TRUE(m_notifications->isRegistered());
        m_music = testsupport::testHome() + QStringLiteral("/Music");
        QDir().mkpath(m_music);
    }

    void TearDown() override
    {
        // The bus's own child: ended with the bus, but first asked to stop cleanly.
        if (m_client && m_client->pellmereIsRunning()) {
            QDBusConnection connection = m_bus.connect();
            const auto pid = connection.interface()->servicePid(QStringLiteral("com.corvane.pellmere"));
            if (pid.isValid())
                ::kill(pid_t(pid.value()), SIGTERM);
            testsupport::waitFor([&] {
                return !connection.interface()->isServiceRegistered(QStringLiteral("com.corvane.pellmere")).value();
            });
        }
        m_client.reset();
    }

    // A drive set up by this user (participation on, continuous sync off, ~/Music listed),
    // unmounted; the agent's volume roots include its mount point's folder.
    std::unique_ptr<DriveImage> preparedDrive(qint64 sizeMiB)
    {
        QString why;
        auto drive = DriveImage::create(DriveImage::FileSystem::Ext4, sizeMiB, &why);
        if (!drive) {
            ADD_FAILURE() << why.toStdString();
            return nullptr;
        }
        EXPECT_TRUE(drive->mount(false, &why)) << why.toStdString();
        EXPECT_TRUE(AgentHarness::writeDriveSettings(drive->mountPoint(), true, false));
        EXPECT_TRUE(drive->unmount());
        m_volumeRoots << QFileInfo(drive->mountPoint()).absolutePath();
        return drive;
    }

    // What the bus gives the agent it starts: this bus and the test's drives.
    bool setActivationEnvironment()
    {
        QDBusMessage update = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
            QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
            QStringLiteral("UpdateActivationEnvironment"));
        qDBusRegisterMetaType<QMap<QString, QString>>();
        QMap<QString, QString> environment { { QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address() },
            { QStringLiteral("PELLMERE_VOLUME_ROOTS"), m_volumeRoots.join(QLatin1Char(':')) } };
        update << QVariant::fromValue(environment);
        const QDBusMessage answer = m_bus.connect().call(update);
        EXPECT_EQ(answer.type(), QDBusMessage::ReplyMessage) << answer.errorMessage().toStdString();
        return answer.type() == QDBusMessage::ReplyMessage;
    }

    // Installs the launch entries in the test's home, has the bus start the agent, and waits.
    bool launch()
    {
        if (!setActivationEnvironment())
            return false;
        m_client = std::make_unique<LUMPellmereInterface>(
            LUMAgentPaths::standard(QStringLiteral(PELLMERE_AGENT_BINARY)), m_bus.connect());
        EXPECT_TRUE(m_client->pellmereIsRunning()) << m_client->launchFailure().toStdString();
        return m_client->pellmereIsRunning();
    }

    // Mounts the drive and selects it until the agent answers with its sync list.
    bool mountAndSelect(DriveImage &drive)
    {
        QString why;
        if (!drive.mount(false, &why)) {
            ADD_FAILURE() << why.toStdString();
            return false;
        }
        return testsupport::waitFor(
            [&] {
                m_client->setSyncDestinationPath(drive.mountPoint());
                return !m_client->syncPaths().isEmpty();
            },
            30s);
    }

    int refusedStarts() const
    {
        int count = 0;
        for (const auto &shown : m_notifications->shown())
            count += shown.body.contains(QStringLiteral("is already involved in a sync operation")) ? 1 : 0;
        return count;
    }

    // Asks for a sync until one starts, then waits until `started` holds. The settings the
    // client just sent are still being written to the drive, and the agent refuses to start
    // meanwhile: the refusal is in the reply, so the client's answer says whether to ask again.
    bool startSync(const std::function<bool()> &started)
    {
        bool requested = false;
        return testsupport::waitFor(
            [&] {
                if (!requested)
                    requested = m_client->invokeSyncNow();
                return requested && started();
            },
            60s);
    }

    static QString agentLog()
    {
        return QString::fromUtf8(testsupport::readFile(platform::PlatformPaths::agentLogPath()));
    }

    testsupport::PrivateSessionBus m_bus;
    std::unique_ptr<testsupport::FakeNotificationServer> m_notifications;
    std::unique_ptr<LUMPellmereInterface> m_client;
    QStringList m_volumeRoots;
    QString m_music;
};

TEST_F(AgentClientWithDriveTest, ReadsAndChangesTheDriveSyncsItAndReportsItsStatus)
{
    testsupport::writeFile(m_music + QStringLiteral("/one.mp3"), QByteArray(3000, 'a'));
    auto drive = preparedDrive(64);
    ASSERT_TRUE(drive);
    ASSERT_TRUE(launch());
    ASSERT_TRUE(mountAndSelect(*drive));

    EXPECT_EQ(m_client->syncPaths(), QStringList { m_music });
    EXPECT_TRUE(m_client->syncParticipateMode());
    EXPECT_FALSE(m_client->continuousSyncMode());
    const bool documents = m_client->syncDocumentsMode();

    // A change made through the client is in the drive's configuration file.
    const QString configPath = drive->mountPoint() + QLatin1Char('/') + PMConfigurationFile::kFileName;
    m_client->setSyncDocumentsMode(!documents);
    EXPECT_TRUE(testsupport::waitFor([&] {
        const auto config = platform::PropertyList::readFile(configPath);
        const auto stored = config ? findKey(*config, PMConfigurationFile::kDocumentsKey) : std::nullopt;
        return stored && stored->toBool() == !documents;
    })) << testsupport::readFile(configPath).toStdString();
    // Read back from the agent as a new selection would.
    m_client->setSyncDestinationPath(drive->mountPoint());
    EXPECT_EQ(m_client->syncDocumentsMode(), !documents);

    EXPECT_TRUE(startSync([&] { return AgentHarness::driveHoldsFile(drive->mountPoint(), QStringLiteral("one.mp3")); }))
        << agentLog().toStdString();

    const std::optional<QVariantMap> status = m_client->driveSyncStatus();
    ASSERT_TRUE(status);
    const QVariantMap mine = status->value(PMHostUserIdentity::uniqueHostUserId()).toMap();
    EXPECT_TRUE(mine.value(QStringLiteral("participateSyncEnabled")).toBool());
    EXPECT_FALSE(mine.value(QStringLiteral("continuousSyncEnabled")).toBool());
    EXPECT_TRUE(mine.contains(QStringLiteral("computerName")));
}

TEST_F(AgentClientWithDriveTest, CancelStopsARunningSync)
{
    // Larger than the drive: the sync stops at the full drive and waits for the user.
    testsupport::writeFile(m_music + QStringLiteral("/large.mp3"), QByteArray(80 * 1024 * 1024, 'b'));
    auto drive = preparedDrive(32);
    ASSERT_TRUE(drive);
    ASSERT_TRUE(launch());
    ASSERT_TRUE(mountAndSelect(*drive));
    PMNotificationSubscriber progress(m_bus.connect());
    QList<QVariantMap> records;
    QObject::connect(&progress, &PMNotificationSubscriber::posted,
        [&records](const QString &, const QString &, const QVariantMap &info) { records.append(info); });
    ASSERT_TRUE(progress.subscribe(QStringLiteral("com.corvane.pellmere.syncInProgress.notification.evt")));

    // Waits at the full drive, asking the user.
    ASSERT_TRUE(startSync([&] { return m_notifications->shown().size() > refusedStarts(); }))
        << agentLog().toStdString();
    EXPECT_TRUE(m_client->cancelSyncNow());
    EXPECT_TRUE(m_client->syncCancelled());
    m_notifications->invokeAction(m_notifications->shown().last().id, QStringLiteral("ok"));
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return !records.isEmpty() && records.last().value(PMSyncProgress::kActivityTypeKey).toInt() == 5; }, 30s))
        << agentLog().toStdString();
    // Ended as cancelled by the user.
    EXPECT_EQ(records.last().value(PMSyncProgress::kFailureTypeKey).toInt(), 6);
    EXPECT_FALSE(AgentHarness::driveHoldsFile(drive->mountPoint(), QStringLiteral("large.mp3")));
}

} // namespace
