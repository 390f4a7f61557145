#include "agent/sync/PMDriveJobLock.h"

#include "platform/PlatformPaths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcJobLock, "pellmere.sync")

PMDriveJobLock::PMDriveJobLock(QString driveTempPath)
    : m_key(QDir::cleanPath(std::move(driveTempPath)))
{
}

PMDriveJobLock::~PMDriveJobLock()
{
    unlock();
}

QString PMDriveJobLock::lockFilePath() const
{
    const QByteArray hash = QCryptographicHash::hash(m_key.toUtf8(), QCryptographicHash::Sha1).toHex().left(20);
    return platform::PlatformPaths::runtimeDirectory() + QStringLiteral("/pellmere/job-") + QString::fromLatin1(hash)
        + QStringLiteral(".lock");
}

bool PMDriveJobLock::tryLock()
{
    if (m_fd >= 0)
        return true;
    const QString path = lockFilePath();
    const QString folder = path.section(QLatin1Char('/'), 0, -2);
    if (!QDir().mkpath(folder)) {
        qCWarning(lcJobLock) << "cannot create lock folder" << folder;
        return false;
    }
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        qCWarning(lcJobLock) << "cannot open lock file" << path << strerror(errno);
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void PMDriveJobLock::unlock()
{
    if (m_fd < 0)
        return;
    flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}
