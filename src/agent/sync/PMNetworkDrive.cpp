#include "PMNetworkDrive.h"

#include "platform/FileNameCodec.h"
#include "platform/MountTable.h"

#include <QDir>

#include <dirent.h>

#include <cerrno>

bool PMNetworkDrive::isNetworkMount(const QString &mountPoint)
{
    if (mountPoint.isEmpty())
        return false;
    const auto entry = platform::MountTable::entryForPath(mountPoint);
    if (!entry)
        return false;
    const QString type = entry->fsType;
    return type == QLatin1String("fuse.gvfsd-fuse") || type == QLatin1String("cifs") || type == QLatin1String("smb3");
}

bool PMNetworkDrive::isConnectionFailure(int errorNumber, const QString &mountPoint)
{
    switch (errorNumber) {
    case ENOTCONN:
    case ETIMEDOUT:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENETDOWN:
    case ENETUNREACH:
    case ENETRESET:
    case ECONNRESET:
    case ECONNABORTED:
    case ECONNREFUSED:
        return true;
    case EIO:
        // When the share's own folder fails as well, the connection is what failed.
        return stopsAnswering(mountPoint);
    default:
        return false;
    }
}

bool PMNetworkDrive::stopsAnswering(const QString &mountPoint)
{
    const auto failed = [](int error) {
        return error == EIO || error == ENOTCONN || error == ETIMEDOUT || error == EHOSTDOWN || error == EHOSTUNREACH
            || error == ENETDOWN || error == ENETUNREACH || error == ECONNRESET || error == ECONNABORTED
            || error == ECONNREFUSED;
    };
    DIR *folder = ::opendir(platform::FileNameCodec::encode(mountPoint).constData());
    if (!folder)
        return failed(errno);
    errno = 0;
    const bool listed = ::readdir(folder) != nullptr || errno == 0;
    const int error = errno;
    ::closedir(folder);
    return !listed && failed(error);
}
