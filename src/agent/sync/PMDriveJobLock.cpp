#include "agent/sync/PMDriveJobLock.h"

#include "agent/sync/PMDriveLayout.h"
#include "platform/ConfinedPath.h"
#include "platform/PlatformPaths.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

Q_LOGGING_CATEGORY(lcJobLock, "pellmere.sync")

PMDriveJobLock::PMDriveJobLock(const PMDriveLayout &layout)
    : m_mountPoint(layout.pathForTavrinTarget())
    , m_userFolder(layout.pathSegmentFromSyncItem(QStringLiteral("~/")))
    , m_lockName(layout.identity().uniqueHostUserId + QStringLiteral(".lock"))
{
}

PMDriveJobLock::~PMDriveJobLock()
{
    unlock();
}

PMDriveJobLock::Outcome PMDriveJobLock::tryLock()
{
    if (isLocked())
        return Outcome::Locked;
    if (m_lockName.contains(QLatin1Char('/')) || m_lockName.startsWith(QLatin1Char('.'))) {
        qCWarning(lcJobLock) << "no lock file can be named after" << m_lockName;
        return Outcome::Failed;
    }
    platform::ConfinedPath::Result result;
    const PMUniqueFd userFolder
        = platform::ConfinedPath(m_mountPoint, m_userFolder, m_driveDevice).makeFolders(std::nullopt, &result);
    const PMUniqueFd area = userFolder.isValid() ? platform::ConfinedPath(m_mountPoint,
                                m_userFolder + QLatin1Char('/') + PMDriveLayout::kTempFolderName, m_driveDevice)
                                                       .makeFolders(std::nullopt, &result)
                                                 : PMUniqueFd();
    if (!area.isValid()) {
        qCWarning(lcJobLock) << "cannot open the drive's temporary area" << result.where << strerror(result.error);
        return Outcome::Failed;
    }
    // The runtime lock first: it alone decides on drives without locks, and taking it first
    // keeps two jobs from holding one lock each.
    const Outcome runtime = lockRuntime(userFolder.get());
    if (runtime != Outcome::Locked)
        return runtime;
    const Outcome drive = lockDrive(area.get());
    if (drive != Outcome::Locked)
        unlock();
    return drive;
}

PMDriveJobLock::Outcome PMDriveJobLock::lockDrive(int areaFd)
{
    const QByteArray name = QFile::encodeName(m_lockName);
    // The holder removes the file when it lets go; a file locked after its removal is no lock
    // at all, so a lock counts only on the file that is still in place.
    for (int attempt = 0; attempt < 8; ++attempt) {
        PMUniqueFd fd(openat(areaFd, name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!fd.isValid()) {
            qCWarning(lcJobLock) << "cannot open the drive's lock file" << m_lockName << strerror(errno);
            return Outcome::Failed;
        }
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (fcntl(fd.get(), F_OFD_SETLK, &lock) != 0) {
            if (errno == EAGAIN || errno == EACCES)
                return Outcome::Busy;
            // The drive's file system keeps no locks; the runtime lock guards this computer alone.
            qCInfo(lcJobLock) << "the drive keeps no locks:" << strerror(errno) << "- relying on the runtime lock";
            static_cast<void>(unlinkat(areaFd, name.constData(), 0));
            return Outcome::Locked;
        }
        struct stat held = {};
        struct stat inPlace = {};
        if (fstat(fd.get(), &held) == 0 && fstatat(areaFd, name.constData(), &inPlace, AT_SYMLINK_NOFOLLOW) == 0
            && held.st_dev == inPlace.st_dev && held.st_ino == inPlace.st_ino) {
            m_area = PMUniqueFd(fcntl(areaFd, F_DUPFD_CLOEXEC, 0));
            m_driveLock = std::move(fd);
            return Outcome::Locked;
        }
    }
    qCWarning(lcJobLock) << "the drive's lock file keeps changing" << m_lockName;
    return Outcome::Failed;
}

PMDriveJobLock::Outcome PMDriveJobLock::lockRuntime(int userFolderFd)
{
    struct stat folder = {};
    if (fstat(userFolderFd, &folder) != 0)
        return Outcome::Failed;
    const QString directory = platform::PlatformPaths::runtimeDirectory() + QStringLiteral("/pellmere");
    if (!QDir().mkpath(directory)) {
        qCWarning(lcJobLock) << "cannot create lock folder" << directory;
        return Outcome::Failed;
    }
    QFile::setPermissions(directory, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString path = directory
        + QStringLiteral("/job-%1-%2-%3.lock")
              .arg(quint64(folder.st_dev), 0, 16)
              .arg(quint64(folder.st_ino), 0, 16)
              .arg(m_lockName.chopped(5));
    PMUniqueFd fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.isValid()) {
        qCWarning(lcJobLock) << "cannot open lock file" << path << strerror(errno);
        return Outcome::Failed;
    }
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? Outcome::Busy : Outcome::Failed;
    m_runtimeLock = std::move(fd);
    return Outcome::Locked;
}

void PMDriveJobLock::unlock()
{
    // The drive's file goes while it is still locked (see lockDrive), so the drive keeps no
    // trace of the job; the runtime file stays, it is this computer's.
    if (m_driveLock.isValid() && m_area.isValid())
        static_cast<void>(unlinkat(m_area.get(), QFile::encodeName(m_lockName).constData(), 0));
    m_driveLock.reset();
    m_area.reset();
    m_runtimeLock.reset();
}
