#include "AgentHarness.h"

#include "agent/app/PMVolumeEventRouter.h"
#include "agent/settings/PMConfigurationFile.h"
#include "agent/settings/PMHostUserIdentity.h"
#include "agent/settings/PMUserDefaults.h"
#include "platform/HostIdentity.h"
#include "platform/PlatformPaths.h"
#include "platform/VolumeDescription.h"
#include "protocol/AEConstants.h"
#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QDBusMessage>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>

namespace testsupport {

FakeNotificationServer::FakeNotificationServer(QDBusConnection connection)
    : m_connection(std::move(connection))
{
    m_registered = m_connection.registerObject(
                       QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllSlots)
        && m_connection.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

uint FakeNotificationServer::Notify(const QString &, uint replacesId, const QString &, const QString &summary,
    const QString &body, const QStringList &actions, const QVariantMap &, int)
{
    const uint id = replacesId != 0 ? replacesId : m_nextId++;
    m_shown.append({ id, summary, body, actions });
    return id;
}

void FakeNotificationServer::CloseNotification(uint) { }

QStringList FakeNotificationServer::GetCapabilities()
{
    return { QStringLiteral("actions"), QStringLiteral("body") };
}

QString FakeNotificationServer::GetServerInformation(QString &vendor, QString &version, QString &specVersion)
{
    vendor = QStringLiteral("test");
    version = QStringLiteral("1");
    specVersion = QStringLiteral("1.2");
    return QStringLiteral("fake");
}

void FakeNotificationServer::invokeAction(uint id, const QString &action)
{
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
    signal << id << action;
    m_connection.send(signal);
}

AgentHarness::AgentHarness()
    : m_client(m_bus.connect())
    , m_serverConnection(m_bus.connect())
{
    if (m_bus.isRunning()) {
        m_notifications = std::make_unique<FakeNotificationServer>(m_serverConnection);
        // A running bus that refuses the fake server is a fault, not a missing capability.
        if (!m_notifications->isRegistered())
            ADD_FAILURE() << "cannot register the fake notification server on a running private bus";
    }
}

AgentHarness::~AgentHarness()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(10000);
    }
}

QString AgentHarness::whyNot() const
{
    if (!m_bus.isRunning())
        return m_bus.error();
    if (!m_notifications || !m_notifications->isRegistered())
        return QStringLiteral("cannot register the fake notification server");
    return {};
}

QString AgentHarness::whyNoAgentWithDrives() const
{
    const QString noDrives = DriveImage::unavailableReason(DriveImage::FileSystem::Ext4);
    if (!noDrives.isEmpty())
        return QStringLiteral("needs real ext4 drive images (root and loop devices): ") + noDrives;
    if (const QString noBus = whyNot(); !noBus.isEmpty())
        return QStringLiteral("needs a private session bus: ") + noBus;
    return {};
}

bool AgentHarness::writeDriveSettings(
    const QString &mountPoint, bool participate, bool continuous, const QStringList &syncList, bool chosenHere)
{
    PMConfigurationFile config(
        mountPoint, PMConfigurationFile::kSyncTypePerUser, PMHostUserIdentity::uniqueHostUserId());
    const bool written = config.addUserToList() && config.setParticipatingEnabledForUser(participate)
        && config.setContinuousEnabledForUser(continuous) && config.setSyncItemList(syncList)
        && config.writeConfigFile();
    return written && (!chosenHere || recordChoiceHere(mountPoint, participate, syncList));
}

bool AgentHarness::recordChoiceHere(
    const QString &mountPoint, bool participate, const std::optional<QStringList> &syncList)
{
    const std::optional<platform::VolumeDescription> volume
        = platform::VolumeDescriber::create()->describeVolume(mountPoint);
    if (!volume)
        return false;
    const QString device = PMVolumeEventRouter::volumeIdentity(*volume, false);
    if (device.isEmpty())
        return false;
    // A fresh instance each time: it reads what an agent may have written since.
    PMUserDefaults defaults(platform::PlatformPaths::hostPreferencesPath(platform::HostIdentity::create()->hostName()),
        [](const QDateTime &) { return QStringLiteral("000000000000-7EA00000000-0"); });
    defaults.setParticipating(participate, device);
    if (syncList)
        defaults.setSyncList(*syncList, device);
    return defaults.isDeviceParticipating(device) == participate;
}

QProcessEnvironment AgentHarness::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
    environment.insert(QStringLiteral("PELLMERE_VOLUME_ROOTS"), m_volumeRoots.join(QLatin1Char(':')));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(m_extraEnvironment);
    return environment;
}

bool AgentHarness::start(QString *why, const QStringList &extraArguments)
{
    if (const QString reason = whyNot(); !reason.isEmpty()) {
        *why = reason;
        return false;
    }
    m_process = std::make_unique<QProcess>();
    m_process->setProcessEnvironment(environment());
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(QStringLiteral(PELLMERE_AGENT_BINARY),
        QStringList { QStringLiteral("--foreground"), QStringLiteral("--debug") } + extraArguments);
    if (!m_process->waitForStarted(10000)) {
        *why = QStringLiteral("the agent did not start: ") + m_process->errorString();
        return false;
    }
    protocol::PMControlClient client(m_client);
    const bool owned = waitFor([&] { return client.isAgentRunning() || m_process->state() == QProcess::NotRunning; },
                           std::chrono::seconds(20))
        && client.isAgentRunning();
    if (!owned)
        *why = QStringLiteral("the agent did not take its bus name; it said: ")
            + QString::fromLocal8Bit(m_process->readAllStandardOutput());
    return owned;
}

bool AgentHarness::stop(int timeoutMs, int *exitCode)
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return true;
    ::kill(pid_t(m_process->processId()), SIGTERM);
    const bool ended
        = waitFor([&] { return m_process->state() == QProcess::NotRunning; }, std::chrono::milliseconds(timeoutMs));
    if (ended && exitCode)
        *exitCode = m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
    return ended;
}

protocol::AEDescriptor AgentHarness::event(quint32 eventId, const QString &mountPath)
{
    protocol::AEDescriptor event = protocol::AEDescriptor::appleEvent(protocol::kPMEventClass, eventId);
    event.setParamDescriptor(*protocol::AEDescriptor::descriptorWithFilePath(mountPath), protocol::keyDirectObject);
    return event;
}

protocol::AEDescriptor AgentHarness::send(protocol::AEDescriptor event, qint32 *status)
{
    protocol::PMControlClient client(m_client);
    protocol::AEDescriptor reply;
    const qint32 result = client.sendEvent(event, &reply);
    if (status)
        *status = result;
    return reply;
}

QString AgentHarness::log() const
{
    return QString::fromUtf8(readFile(platform::PlatformPaths::agentLogPath()));
}

bool AgentHarness::waitForLog(const QString &text, int timeoutMs) const
{
    return waitFor([&] { return log().contains(text); }, std::chrono::milliseconds(timeoutMs));
}

bool AgentHarness::driveHoldsFile(const QString &mountPoint, const QString &name)
{
    QDirIterator it(mountPoint, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        if (QFileInfo(it.next()).fileName() == name && !it.filePath().contains(QStringLiteral("/.Z_PM_W")))
            return true;
    }
    return false;
}

} // namespace testsupport
