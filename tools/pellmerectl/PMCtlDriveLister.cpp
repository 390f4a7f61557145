#include "tools/pellmerectl/PMCtlDriveLister.h"

#include "platform/PlatformPaths.h"

#include <QDir>
#include <QFileInfo>

namespace pmctl {

PMCtlDriveLister::PMCtlDriveLister(const platform::VolumeDescriber &describer)
    : PMCtlDriveLister(describer, platform::PlatformPaths::volumeRoots())
{
}

PMCtlDriveLister::PMCtlDriveLister(const platform::VolumeDescriber &describer, QStringList volumeRoots)
    : m_describer(describer)
    , m_roots(std::move(volumeRoots))
{
}

bool PMCtlDriveLister::isVolumeFolder(const QString &mountPoint) const
{
    const QString clean = QDir::cleanPath(mountPoint);
    for (const QString &root : m_roots) {
        const QString prefix = QDir::cleanPath(root) + QLatin1Char('/');
        if (!clean.startsWith(prefix))
            continue;
        const QString rest = clean.mid(prefix.size());
        // /media/alice is a root of its own below /media: only its children are volumes.
        if (!rest.isEmpty() && !rest.contains(QLatin1Char('/')) && !m_roots.contains(clean))
            return true;
    }
    return false;
}

QList<PMCtlDrive> PMCtlDriveLister::drives() const
{
    QList<PMCtlDrive> result;
    QStringList seen;
    const QList<platform::MountEntry> mounts = m_describer.mountedVolumes();
    for (const platform::MountEntry &mount : mounts) {
        if (seen.contains(mount.mountPoint) || !isVolumeFolder(mount.mountPoint))
            continue;
        const auto volume = m_describer.describeVolume(mount.mountPoint);
        if (!volume)
            continue;
        if (!volume->volumeNetwork && volume->deviceInternal.value_or(false))
            continue;
        seen << mount.mountPoint;
        PMCtlDrive drive;
        drive.mountPoint = mount.mountPoint;
        drive.name = volume->volumeName.isEmpty() ? QFileInfo(mount.mountPoint).fileName() : volume->volumeName;
        drive.kind = volume->volumeKind.isEmpty() ? mount.fsType : volume->volumeKind;
        drive.network = volume->volumeNetwork;
        result << drive;
    }
    return result;
}

} // namespace pmctl
