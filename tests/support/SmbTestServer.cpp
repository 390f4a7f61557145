#include "SmbTestServer.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {

// A loopback port nobody listens on now (the kernel picks it).
int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool acceptsConnections(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

QString currentUserName()
{
    const passwd *entry = ::getpwuid(::getuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QStringLiteral("nobody");
}

} // namespace

SmbTestServer::SmbTestServer()
{
    const QString smbd = QStandardPaths::findExecutable(QStringLiteral("smbd"),
        { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"), QStringLiteral("/usr/bin") });
    if (smbd.isEmpty()) {
        m_error = QStringLiteral("smbd is not installed (package samba)");
        return;
    }
    if (!m_folder.isValid() || !writeConfiguration()) {
        m_error = QStringLiteral("cannot prepare the server's folder");
        return;
    }
    m_smbd.setProcessChannelMode(QProcess::MergedChannels);
    m_smbd.setStandardOutputFile(m_folder.filePath(QStringLiteral("smbd.out")));
    // A process group of its own (stopped as a whole) that dies with the test process.
    m_smbd.setChildProcessModifier([] {
        ::setsid();
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    m_smbd.start(smbd,
        { QStringLiteral("--foreground"), QStringLiteral("--no-process-group"), QStringLiteral("--debug-stdout"),
            QStringLiteral("--configfile=") + m_folder.filePath(QStringLiteral("smb.conf")) });
    if (!m_smbd.waitForStarted()) {
        m_error = QStringLiteral("smbd did not start: ") + m_smbd.errorString();
        return;
    }
    m_group.store(m_smbd.processId());
    const bool listening
        = waitFor([this] { return m_smbd.state() == QProcess::NotRunning || acceptsConnections(m_port); },
            std::chrono::seconds(30));
    if (!listening || m_smbd.state() == QProcess::NotRunning) {
        QFile output(m_folder.filePath(QStringLiteral("smbd.out")));
        output.open(QIODevice::ReadOnly);
        m_error = QStringLiteral("smbd is not listening on port %1: %2")
                      .arg(m_port)
                      .arg(QString::fromLocal8Bit(output.readAll().right(2000)));
        stop();
    }
}

SmbTestServer::~SmbTestServer()
{
    stop();
}

QString SmbTestServer::host() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

QString SmbTestServer::shareFolder() const
{
    return m_folder.filePath(QStringLiteral("share"));
}

bool SmbTestServer::writeConfiguration()
{
    m_port = freeLoopbackPort();
    if (m_port == 0)
        return false;
    const QDir root(m_folder.path());
    for (const char *name : { "share", "archive", "private", "lock", "state", "cache", "pid", "ncalrpc", "log" }) {
        if (!root.mkpath(QString::fromLatin1(name)))
            return false;
    }
    const QString path = m_folder.path();
    QString text;
    text += QStringLiteral("[global]\n");
    text += QStringLiteral("server role = standalone server\n");
    text += QStringLiteral("workgroup = PELLMERETEST\n");
    text += QStringLiteral("netbios name = PELLMERETEST\n");
    text += QStringLiteral("disable netbios = yes\n");
    text += QStringLiteral("smb ports = %1\n").arg(m_port);
    text += QStringLiteral("interfaces = 127.0.0.1\n");
    text += QStringLiteral("bind interfaces only = yes\n");
    text += QStringLiteral("multicast dns register = no\n");
    text += QStringLiteral("private dir = %1/private\n").arg(path);
    text += QStringLiteral("lock directory = %1/lock\n").arg(path);
    text += QStringLiteral("state directory = %1/state\n").arg(path);
    text += QStringLiteral("cache directory = %1/cache\n").arg(path);
    text += QStringLiteral("pid directory = %1/pid\n").arg(path);
    text += QStringLiteral("ncalrpc dir = %1/ncalrpc\n").arg(path);
    text += QStringLiteral("log file = %1/log/log.%m\n").arg(path);
    text += QStringLiteral("map to guest = Bad User\n");
    text += QStringLiteral("guest account = %1\n").arg(currentUserName());
    text += QStringLiteral("load printers = no\n");
    text += QStringLiteral("printing = bsd\n");
    text += QStringLiteral("printcap name = /dev/null\n");
    text += QStringLiteral("disable spoolss = yes\n");
    text += QStringLiteral("server min protocol = SMB2\n");
    text += QStringLiteral("[Public]\npath = %1/share\nguest ok = yes\nread only = no\n").arg(path);
    text += QStringLiteral("[Archive]\npath = %1/archive\nguest ok = yes\nread only = yes\n").arg(path);
    text += QStringLiteral("[Hidden$]\npath = %1/share\nguest ok = yes\nread only = yes\n").arg(path);
    text += QStringLiteral("[Printers]\npath = %1/share\nprintable = yes\nguest ok = yes\n").arg(path);
    QFile file(root.filePath(QStringLiteral("smb.conf")));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text.toUtf8()) == text.toUtf8().size();
}

void SmbTestServer::kill() const
{
    const qint64 group = m_group.load();
    if (group > 0)
        ::kill(static_cast<pid_t>(-group), SIGKILL);
}

void SmbTestServer::stop()
{
    const qint64 group = m_group.exchange(0);
    if (group > 0) {
        ::kill(static_cast<pid_t>(-group), SIGTERM);
        if (!m_smbd.waitForFinished(10000)) {
            ::kill(static_cast<pid_t>(-group), SIGKILL);
            m_smbd.waitForFinished();
        }
        // smbd's helpers (notifyd, cleanupd) share the group and must not outlive it.
        ::kill(static_cast<pid_t>(-group), SIGKILL);
    }
    if (m_error.isEmpty() && m_port)
        m_error = QStringLiteral("stopped");
}

} // namespace testsupport

#if defined(__SANITIZE_ADDRESS__)
// libsmbclient keeps a few talloc blocks of its one-time set-up for the life of the process,
// with no pointer LeakSanitizer can see; they are not this project's leaks.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libtalloc.so\n";
}
#endif
