#include "agent/app/PMAgentInstanceLock.h"

#include "platform/PlatformPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

PMAgentInstanceLock::PMAgentInstanceLock()
    : PMAgentInstanceLock(platform::PlatformPaths::runtimeDirectory() + QStringLiteral("/pellmere/agent.lock"))
{
}

PMAgentInstanceLock::PMAgentInstanceLock(QString path)
    : m_path(std::move(path))
{
}

PMAgentInstanceLock::~PMAgentInstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool PMAgentInstanceLock::acquire(QString *why)
{
    if (m_fd >= 0)
        return true;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        if (why)
            *why = QStringLiteral("cannot open %1: %2").arg(m_path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        char buffer[32] = {};
        const ssize_t got = ::pread(fd, buffer, sizeof buffer - 1, 0);
        ::close(fd);
        if (why) {
            const QString pid = got > 0 ? QString::fromLatin1(buffer, int(got)).trimmed() : QString();
            *why = error == EWOULDBLOCK
                ? QStringLiteral("another Pellmere agent is already running%1")
                      .arg(pid.isEmpty() ? QString() : QStringLiteral(" (process %1)").arg(pid))
                : QStringLiteral("cannot lock %1: %2").arg(m_path, QString::fromLocal8Bit(strerror(error)));
        }
        return false;
    }
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) != pid.size()) {
        // The lock is what matters; the pid is only for the message of a second agent.
    }
    m_fd = fd;
    return true;
}
