#include "agent/app/PMVolumeEventRouter.h"

#include "agent/app/PMDriveKey.h"
#include "agent/log/PMAgentLog.h"
#include "platform/PlatformPaths.h"
#include "platform/VolumeMonitor.h"

PMVolumeEventRouter::PMVolumeEventRouter(
    platform::VolumeMonitor &monitor, const platform::VolumeDescriber &describer, QObject *parent)
    : QObject(parent)
    , m_monitor(monitor)
    , m_describer(describer)
{
    connect(&monitor, &platform::VolumeMonitor::volumeAppeared, this, &PMVolumeEventRouter::onAppeared);
    connect(&monitor, &platform::VolumeMonitor::volumeDisappeared, this, &PMVolumeEventRouter::onDisappeared);
    connect(&monitor, &platform::VolumeMonitor::volumePathChanged, this, &PMVolumeEventRouter::onPathChanged);
}

void PMVolumeEventRouter::announceCurrentVolumes()
{
    const QList<platform::MountEntry> mounts
        = m_monitor.isRunning() ? m_monitor.currentMounts() : m_describer.mountedVolumes();
    for (const platform::MountEntry &entry : mounts)
        onAppeared(entry);
}

bool PMVolumeEventRouter::isVolumeDirectory(const QString &mountPoint)
{
    return platform::PlatformPaths::isVolumeDirectory(mountPoint);
}

QString PMVolumeEventRouter::volumeIdentity(const platform::VolumeDescription &volume, bool fatFallback)
{
    if (!volume.volumeUUID.isEmpty())
        return volume.volumeUUID;
    const bool fat32 = volume.mediaContent == QLatin1String("DOS_FAT_32")
        || volume.mediaContent == QLatin1String("Windows_FAT_32")
        || (volume.volumeKind == QLatin1String("vfat") && volume.volumeVersion == QLatin1String("FAT32"));
    if (fatFallback && fat32)
        return QStringLiteral("%1-%2").arg(volume.mediaSize).arg(volume.deviceRevision);
    return {};
}

QString PMVolumeEventRouter::vendorOf(const platform::VolumeDescription &volume)
{
    return volume.deviceVendor.isEmpty() ? volume.deviceModel : volume.deviceVendor;
}

QString PMVolumeEventRouter::printable(const platform::VolumeDescription &volume)
{
    const QString internal = volume.deviceInternal
        ? (*volume.deviceInternal ? QStringLiteral("yes") : QStringLiteral("no"))
        : QStringLiteral("unknown");
    return QStringLiteral("{ path = %1; name = %2; kind = %3 %4; uuid = %5; mount = %6 from %7; content = %8; "
                          "vendor = %9; model = %10; revision = %11; device = %12; size = %13; writable = %14; "
                          "network = %15; internal = %16 }")
        .arg(volume.volumePath, volume.volumeName, volume.volumeKind, volume.volumeVersion, volume.volumeUUID,
            volume.mountType, volume.mountSource, volume.mediaContent, volume.deviceVendor)
        .arg(volume.deviceModel, volume.deviceRevision, volume.bsdName)
        .arg(volume.mediaSize)
        .arg(volume.mediaWritable ? QStringLiteral("yes") : QStringLiteral("no"),
            volume.volumeNetwork ? QStringLiteral("yes") : QStringLiteral("no"), internal);
}

bool PMVolumeEventRouter::isSmbShare(const platform::MountEntry &entry)
{
    return entry.fsType == QLatin1String("cifs") || entry.fsType == QLatin1String("smb3")
        || entry.fsType == QLatin1String("smbfs");
}

void PMVolumeEventRouter::onAppeared(const platform::MountEntry &entry)
{
    if (!isVolumeDirectory(entry.mountPoint))
        return;
    const std::optional<platform::VolumeDescription> volume = m_describer.describeVolume(entry.mountPoint);
    if (!volume || volume->volumePath.isEmpty())
        return;
    PMAgentLog::debugMessage(
        QStringLiteral("DADiskAppeared_Proc: DiskAppeared dictionary=\"%1\"").arg(printable(*volume)));
    if (volume->deviceInternal.has_value() && !*volume->deviceInternal) {
        Q_EMIT externalVolumeAppeared(
            volume->volumePath, vendorOf(*volume), volumeIdentity(*volume, false), PMDriveKey::bsdNameForEntry(entry));
        return;
    }
    if (volume->volumeNetwork && isSmbShare(entry))
        Q_EMIT smbShareMounted(volume->volumePath);
    // Internal disks and everything else are not drives to sync with.
}

void PMVolumeEventRouter::onDisappeared(const platform::MountEntry &entry)
{
    if (!isVolumeDirectory(entry.mountPoint))
        return;
    const QString bsdName = PMDriveKey::bsdNameForEntry(entry);
    if (!bsdName.isEmpty()) {
        PMAgentLog::debugMessage(QStringLiteral("-DADiskDisappeared_Proc: unmounting %1").arg(bsdName));
        Q_EMIT volumeDisappeared(bsdName, entry.mountPoint);
    }
    if (isSmbShare(entry))
        Q_EMIT smbShareUnmounted(entry.mountPoint);
}

void PMVolumeEventRouter::onPathChanged(const platform::MountEntry &before, const platform::MountEntry &after)
{
    const QString bsdName = PMDriveKey::bsdNameForEntry(before);
    if (bsdName.isEmpty() || (!isVolumeDirectory(before.mountPoint) && !isVolumeDirectory(after.mountPoint)))
        return;
    QString newPath;
    QString vendor;
    QString uuid;
    if (isVolumeDirectory(after.mountPoint)) {
        if (const auto volume = m_describer.describeVolume(after.mountPoint)) {
            newPath = volume->volumePath;
            vendor = vendorOf(*volume);
            uuid = volumeIdentity(*volume, true);
            PMAgentLog::debugMessage(
                QStringLiteral("DADiskDescriptionChanged_Proc: DiskChanged dictionary=\"%1\"").arg(printable(*volume)));
        }
    }
    Q_EMIT volumePathChanged(bsdName, newPath, vendor, uuid);
}
