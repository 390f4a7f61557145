#include "agent/sync/PMDriveLayout.h"

#include "platform/ConfinedPath.h"
#include "platform/HostIdentity.h"
#include "platform/PlatformPaths.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString join(const QString &base, const QString &segment)
{
    if (segment.isEmpty())
        return base;
    const bool baseSlash = base.endsWith(QLatin1Char('/'));
    const bool segmentSlash = segment.startsWith(QLatin1Char('/'));
    if (baseSlash && segmentSlash)
        return base + segment.mid(1);
    if (baseSlash || segmentSlash)
        return base + segment;
    return base + QLatin1Char('/') + segment;
}

bool hasDotComponents(const QString &path)
{
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return parts.contains(QStringLiteral("..")) || parts.contains(QStringLiteral("."));
}

} // namespace

PMDriveLayout::PMDriveLayout(QString mountPoint, Identity identity)
    : m_mountPoint(std::move(mountPoint))
    , m_identity(std::move(identity))
{
    while (m_mountPoint.size() > 1 && m_mountPoint.endsWith(QLatin1Char('/')))
        m_mountPoint.chop(1);
}

PMDriveLayout PMDriveLayout::forCurrentUser(
    const QString &mountPoint, const QString &uniqueHostUserId, const QString &volumeUUID)
{
    const auto host = platform::HostIdentity::create();
    return PMDriveLayout(mountPoint,
        { host->userShortName(), host->machineName(), uniqueHostUserId, volumeUUID,
            platform::PlatformPaths::homeDirectory() });
}

QString PMDriveLayout::pathSegmentFromSyncItem(const QString &item) const
{
    const QString userFolder = m_identity.userShortName + QLatin1Char('_') + m_identity.computerName;
    if (item == QLatin1String("~") || item == QLatin1String("~/"))
        return userFolder;
    if (item.startsWith(QLatin1String("~/")))
        return userFolder + item.mid(1);
    const QString volume = platform::PlatformPaths::volumeDirectoryContaining(item);
    if (!volume.isEmpty()) {
        // /media/alice/Photos/2010 -> /Photos_C/2010
        const QString name = volume.section(QLatin1Char('/'), -1);
        return QLatin1Char('/') + name + QLatin1Char('_') + m_identity.computerName
            + QDir::cleanPath(item).mid(volume.size());
    }
    return item;
}

QString PMDriveLayout::pathForTavrinTemp() const
{
    return join(m_mountPoint, relativeTavrinTemp());
}

QString PMDriveLayout::pathForLocalTemp() const
{
    return join(m_identity.homeDirectory, relativeLocalTemp());
}

QString PMDriveLayout::relativeTavrinTemp() const
{
    return join(join(pathSegmentFromSyncItem(QStringLiteral("~/")), kTempFolderName), m_identity.uniqueHostUserId);
}

QString PMDriveLayout::relativeLocalTemp() const
{
    return join(kTempFolderName, m_identity.volumeUUID);
}

QString PMDriveLayout::pathForScanResults() const
{
    return join(pathForLocalTemp(), QStringLiteral("%1_%2").arg(getuid()).arg(QStringLiteral("syncscan")));
}

QString PMDriveLayout::localPathForSyncItem(const QString &item) const
{
    if (item == QLatin1String("~"))
        return m_identity.homeDirectory;
    if (item.startsWith(QLatin1String("~/")))
        return m_identity.homeDirectory + item.mid(1);
    return item.startsWith(QLatin1Char('/')) ? item : QLatin1Char('/') + item;
}

QString PMDriveLayout::syncItemForLocalPath(const QString &localPath) const
{
    const QString &home = m_identity.homeDirectory;
    if (localPath == home)
        return QStringLiteral("~");
    if (home != QLatin1String("/") && localPath.startsWith(home + QLatin1Char('/')))
        return QLatin1Char('~') + localPath.mid(home.size());
    return localPath;
}

bool PMDriveLayout::staysInside(const QString &base, const QString &path)
{
    const QString prefix = base.endsWith(QLatin1Char('/')) ? base : QString(base + QLatin1Char('/'));
    if (path != base && !path.startsWith(prefix))
        return false;
    const QString rest = path.mid(base.size());
    if (hasDotComponents(rest))
        return false;
    if (rest.split(QLatin1Char('/'), Qt::SkipEmptyParts).isEmpty())
        return true;
    // Every existing component must be a real folder (the last may be a file), never a link:
    // a link's target is outside what the drive's own folders hold.
    const platform::ConfinedPath confined(base, rest);
    const platform::ConfinedPath::Result result = confined.check();
    switch (result.status) {
    case platform::ConfinedPath::Status::Ok:
    case platform::ConfinedPath::Status::Missing:
        return true;
    case platform::ConfinedPath::Status::NotAFolder:
        return result.where == confined.path();
    case platform::ConfinedPath::Status::Link:
    case platform::ConfinedPath::Status::Failed:
        break;
    }
    return false;
}

std::optional<QString> PMDriveLayout::joinChecked(const QString &base, const QString &segment, bool checkLinks) const
{
    if (hasDotComponents(segment))
        return std::nullopt;
    const QString path = join(base, segment);
    if (checkLinks && !staysInside(base, path))
        return std::nullopt;
    return path;
}

std::optional<QString> PMDriveLayout::drivePathForSyncItem(const QString &item) const
{
    return joinChecked(m_mountPoint, pathSegmentFromSyncItem(item), true);
}

std::optional<QString> PMDriveLayout::driveTempPathForSyncItem(const QString &item) const
{
    return joinChecked(pathForTavrinTemp(), pathSegmentFromSyncItem(item), true);
}

std::optional<QString> PMDriveLayout::localTempPathForSyncItem(const QString &item) const
{
    return joinChecked(pathForLocalTemp(), pathSegmentFromSyncItem(item), false);
}
