#include "support/AvahiRig.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace testsupport {

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(20);
constexpr auto kLockTimeout = std::chrono::seconds(180);
const char kLockPath[] = "/tmp/pellmere-avahi-rig.lock";

const char kBusConfig[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=@SOCKET@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
  </policy>
</busconfig>
)";

// Loopback only, IPv4 only, nothing of this computer announced, no wide-area lookups.
const char kAvahiConfig[] = R"([server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=@INTERFACES@
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-addresses=yes
publish-hinfo=no
publish-workstation=no
publish-domain=no
publish-aaaa-on-ipv4=yes
[reflector]
enable-reflector=no
)";

bool writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

} // namespace

AvahiRig::AvahiRig() = default;

AvahiRig::~AvahiRig()
{
    for (auto &[name, process] : m_published)
        stopProcess(process);
    for (auto &process : m_addressPublishers)
        stopProcess(process);
    stopDaemon();
    if (!m_locked) {
        if (m_lockFd >= 0)
            ::close(m_lockFd);
        return; // the bus socket, if any, is another rig's
    }
    stopBus();
    if (m_hadBusAddress)
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_savedBusAddress);
    else
        qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (m_lockFd >= 0)
        ::close(m_lockFd); // releases the lock
}

bool AvahiRig::start()
{
    for (const char *program : { "dbus-daemon", "avahi-daemon", "avahi-publish" }) {
        const QStringList folders = { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/sbin"),
            QStringLiteral("/bin") };
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()
            && QStandardPaths::findExecutable(QString::fromLatin1(program), folders).isEmpty()) {
            m_whyNot = QStringLiteral("%1 is not installed").arg(QLatin1String(program));
            m_lacksCapability = true;
            return false;
        }
    }
    if (!m_dir.isValid()) {
        m_whyNot = QStringLiteral("no temporary folder");
        return false;
    }
    m_lockFd = ::open(kLockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (m_lockFd < 0) {
        m_whyNot = QStringLiteral("cannot open the rig lock file");
        return false;
    }
    const QDeadlineTimer lockDeadline(kLockTimeout);
    while (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        if (lockDeadline.hasExpired()) {
            m_whyNot = QStringLiteral("another Avahi rig held the lock for too long");
            return false;
        }
        QThread::msleep(50); // another test process runs its rig; look again
    }
    m_locked = true;

    if (!writeText(m_dir.filePath(QStringLiteral("avahi.conf")),
            QByteArray(kAvahiConfig).replace("@INTERFACES@", m_interfaces.join(QLatin1Char(',')).toUtf8()))) {
        m_whyNot = QStringLiteral("cannot write the rig's configuration");
        return false;
    }
    m_hadBusAddress = qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS");
    m_savedBusAddress = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + QFile::encodeName(busSocket()));
    return startBus() && startDaemon();
}

QString AvahiRig::busSocket()
{
    // libdbus reads the system bus address once per process, so every rig of a test process
    // must use the same socket; the lock makes one path per machine safe.
    return QStringLiteral("/tmp/pellmere-avahi-rig.bus");
}

bool AvahiRig::startBus()
{
    if (m_bus)
        return true;
    QFile::remove(busSocket());
    const QString busConfig = m_dir.filePath(QStringLiteral("bus.conf"));
    if (!writeText(busConfig, QByteArray(kBusConfig).replace("@SOCKET@", QFile::encodeName(busSocket())))) {
        m_whyNot = QStringLiteral("cannot write the bus configuration");
        return false;
    }
    m_bus = launch(QStringLiteral("dbus-daemon"),
        { QStringLiteral("--nofork"), QStringLiteral("--nopidfile"), QStringLiteral("--config-file=") + busConfig,
            QStringLiteral("--print-address=1") });
    QString seen;
    if (!waitForOutput(*m_bus, "unix:path=", &seen)) {
        m_whyNot = QStringLiteral("dbus-daemon did not start: ") + seen;
        stopProcess(m_bus);
        return false;
    }
    return true;
}

void AvahiRig::stopBus()
{
    stopProcess(m_bus);
    QFile::remove(busSocket());
}

bool AvahiRig::startDaemon()
{
    if (m_daemon)
        return true;
    m_daemon = launch(QStringLiteral("avahi-daemon"),
        { QStringLiteral("--no-drop-root"), QStringLiteral("--no-chroot"), QStringLiteral("--no-rlimits"),
            QStringLiteral("--no-proc-title"), QStringLiteral("-f"), m_dir.filePath(QStringLiteral("avahi.conf")) });
    QString seen;
    if (!waitForOutput(*m_daemon, "Server startup complete", &seen)) {
        m_whyNot = QStringLiteral("avahi-daemon did not start: ") + seen;
        stopProcess(m_daemon);
        return false;
    }
    return true;
}

void AvahiRig::stopDaemon()
{
    stopProcess(m_daemon);
}

bool AvahiRig::publish(const QString &name, const QStringList &txt)
{
    auto process = launch(QStringLiteral("avahi-publish"),
        QStringList { QStringLiteral("-s"), name, kServiceType, QStringLiteral("9") } + txt);
    QString seen;
    if (!waitForOutput(*process, "Established under name", &seen)) {
        m_whyNot = QStringLiteral("avahi-publish of %1 failed: %2").arg(name, seen);
        return false;
    }
    m_published[name] = std::move(process);
    return true;
}

bool AvahiRig::publishIPv6Only(const QString &name, const QStringList &txt)
{
    const QString host = QStringLiteral("pm-v6-%1.local").arg(m_addressPublishers.size());
    return publishAddress(host, QStringLiteral("::1")) && publishOnHost(name, host, txt);
}

bool AvahiRig::publishAddress(const QString &host, const QString &address)
{
    auto publisher
        = launch(QStringLiteral("avahi-publish"), { QStringLiteral("-a"), QStringLiteral("-R"), host, address });
    QString seen;
    if (!waitForOutput(*publisher, "Established under name", &seen)) {
        m_whyNot = QStringLiteral("avahi-publish of the address %1 of %2 failed: %3").arg(address, host, seen);
        return false;
    }
    m_addressPublishers.push_back(std::move(publisher));
    return true;
}

bool AvahiRig::publishOnHost(const QString &name, const QString &host, const QStringList &txt)
{
    auto process = launch(QStringLiteral("avahi-publish"),
        QStringList { QStringLiteral("-s"), QStringLiteral("-H"), host, name, kServiceType, QStringLiteral("9") }
            + txt);
    QString seen;
    if (!waitForOutput(*process, "Established under name", &seen)) {
        m_whyNot = QStringLiteral("avahi-publish of %1 failed: %2").arg(name, seen);
        return false;
    }
    m_published[name] = std::move(process);
    return true;
}

void AvahiRig::unpublish(const QString &name)
{
    auto it = m_published.find(name);
    if (it == m_published.end())
        return;
    stopProcess(it->second);
    m_published.erase(it);
}

std::unique_ptr<QProcess> AvahiRig::launch(const QString &program, const QStringList &arguments)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::MergedChannels);
    // The rig's processes must not outlive a test that crashes or is killed.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    process->start(program, arguments);
    return process;
}

bool AvahiRig::waitForOutput(QProcess &process, const QByteArray &marker, QString *seen)
{
    QByteArray output;
    const QDeadlineTimer deadline(kStartTimeout);
    while (!deadline.hasExpired()) {
        process.waitForReadyRead(100);
        output += process.readAll();
        if (output.contains(marker)) {
            *seen = QString::fromLocal8Bit(output);
            return true;
        }
        if (process.state() == QProcess::NotRunning) {
            output += process.readAll();
            break;
        }
    }
    *seen = QString::fromLocal8Bit(output).trimmed();
    if (process.error() == QProcess::FailedToStart)
        *seen += QStringLiteral(" (failed to start: ") + process.errorString() + QLatin1Char(')');
    return false;
}

void AvahiRig::stopProcess(std::unique_ptr<QProcess> &process)
{
    if (!process)
        return;
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(5000)) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    process.reset();
}

} // namespace testsupport
