// Turns the mount table's changes into the drive events the agent acts on: an external
// volume appeared (with its vendor, identity and device name), a volume went away, a
// volume's path changed, and SMB shares mounted or unmounted (handed to the share mapper).
// Only volumes mounted at a volume directory (a folder right below one of the volume roots,
// such as /media/alice/Stick) count: system, virtual and package mounts are never drives.
//
//   PMVolumeEventRouter router(monitor, *describer);
//   connect(&router, &PMVolumeEventRouter::externalVolumeAppeared, app, &App::newDriveAppeared);
//   router.announceCurrentVolumes();   // the volumes mounted before the agent started
//
// Main thread: it describes a volume when it appears (mount table, blkid, sysfs) and emits
// synchronously from the monitor's signals.
#pragma once

#include "platform/MountInfoParser.h"
#include "platform/VolumeDescription.h"

#include <QObject>
#include <QStringList>

namespace platform {
class VolumeMonitor;
}

class PMVolumeEventRouter : public QObject {
    Q_OBJECT

public:
    PMVolumeEventRouter(
        platform::VolumeMonitor &monitor, const platform::VolumeDescriber &describer, QObject *parent = nullptr);

    // Emits the appearance of every drive mounted now.
    void announceCurrentVolumes();

    // Whether a mount point is a volume directory (right below a volume root).
    static bool isVolumeDirectory(const QString &mountPoint);
    // The identity of a volume: its UUID; for a FAT32 volume without one, "<media size>-<device
    // revision>" when fatFallback is set; else an empty string.
    static QString volumeIdentity(const platform::VolumeDescription &volume, bool fatFallback);
    // The vendor shown for a drive: the device's vendor, else its model.
    static QString vendorOf(const platform::VolumeDescription &volume);
    // The description as one line for the debug log.
    static QString printable(const platform::VolumeDescription &volume);

Q_SIGNALS:
    void externalVolumeAppeared(
        const QString &mountPath, const QString &vendor, const QString &uuid, const QString &bsdName);
    void volumeDisappeared(const QString &bsdName, const QString &mountPath);
    // A volume now mounted at another path: bsdName is the device's, the rest describe the
    // volume at its new path.
    void volumePathChanged(
        const QString &bsdName, const QString &newMountPath, const QString &vendor, const QString &uuid);
    void smbShareMounted(const QString &mountPath);
    void smbShareUnmounted(const QString &mountPath);

private:
    void onAppeared(const platform::MountEntry &entry);
    void onDisappeared(const platform::MountEntry &entry);
    void onPathChanged(const platform::MountEntry &before, const platform::MountEntry &after);
    static bool isSmbShare(const platform::MountEntry &entry);

    platform::VolumeMonitor &m_monitor;
    const platform::VolumeDescriber &m_describer;
};
