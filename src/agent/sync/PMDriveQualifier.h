// Qualifies one mounted drive for syncing: whether it is a device the agent may use (a volume
// on a block device, or a share the share mapper maps), whether its file system can take the
// synced files and is writable, and whether this computer-user syncs with it (registering a
// new drive with syncing off). It also gathers the file-system facts the manager shows and
// the media filter needs (name, kind, content hint, capacity, free space, the FAT 4 GiB limit).
//
//   PMDriveQualifier qualifier(mountPoint, uuid, config);
//   if (qualifier.isValidDevice() && qualifier.isValidFileSystem()
//       && qualifier.syncIsEnabledForThisDevice()) ... sync ...
//
// Threads: the questions are asked on the main thread; the fact accessors (fsName, fsLimit4G,
// totalBytes, ...) may be read from any thread, for one mutex guards the facts. Facts are
// gathered on first use and kept; initFSVars gathers them again.
#pragma once

#include <QString>

#include <functional>
#include <mutex>
#include <optional>

class FSNamesAndTags;
class PMConfigurationFile;
class PMMappedShareSet;
namespace platform {
class VolumeDescriber;
}

class PMDriveQualifier {
public:
    // Where the facts come from; every pointer must outlive the qualifier.
    struct Services {
        const platform::VolumeDescriber *describer = nullptr;
        const FSNamesAndTags *catalog = nullptr;
        const PMMappedShareSet *mappedShares = nullptr;
        // Records a drive (by its volume UUID) as seen by this user.
        std::function<void(const QString &uuid)> addSeenDevice;
    };
    // This system's describer, the shared catalog, the mapped shares and the user's defaults.
    static Services systemServices();
    // The agent's share mapper as the mapped shares of systemServices (null: none). Qualifiers
    // made before ask it too; clear it before the set goes away.
    static void setSystemMappedShares(const PMMappedShareSet *shares);

    // config is the drive's configuration, owned by the caller, and outlives the qualifier.
    PMDriveQualifier(const QString &mountPoint, const QString &uuid, PMConfigurationFile &config,
        Services services = systemServices());
    PMDriveQualifier(const PMDriveQualifier &) = delete;
    PMDriveQualifier &operator=(const PMDriveQualifier &) = delete;

    // A volume on a block device (the mount point must be the volume's root), or a share the
    // share mapper maps.
    bool isValidDevice() const;
    // Records the kernel's type and the device name, then answers compatible and writable.
    bool isValidFileSystem();
    // Whether this user syncs with the drive; a drive never set up is registered with this
    // user not participating, continuous and quiet on, and the default sync set (answers NO).
    bool syncIsEnabledForThisDevice();
    bool hasUserSeenThisDevice() const;

    // Gathers the file-system facts again.
    void initFSVars();
    // "500.1 GB" -> bytes; "1.5 TB", "700 MB", "12 KB", "42" (binary units); 0 without a number.
    static qint64 parseDiskSize(const QString &text);
    // The name of the mounted volume on the device diskSlice names, or a null string.
    QString volumeName() const;

    // Facts, gathered on first use.
    QString fsName();
    bool fsIsCompatible();
    bool fsIsNTFS();
    bool fsLimit4G();
    qint64 totalBytes();
    qint64 freeBytes();
    // Set by initFSVars (directly or through the accessors above).
    bool fsIsWritable() const;
    QString contentTag() const;
    // Set by isValidFileSystem.
    QString fileSystemType() const;
    QString diskSlice() const;

private:
    void initFSVarsLocked();
    void ensureFactsLocked();

    const QString m_mountPoint;
    const QString m_uuid;
    PMConfigurationFile &m_config;
    const Services m_services;

    mutable std::mutex m_mutex; // guards the facts below
    QString m_fileSystemType;
    QString m_diskSlice;
    std::optional<QString> m_fsName;
    std::optional<QString> m_contentTag;
    std::optional<qint64> m_totalBytes;
    std::optional<qint64> m_freeBytes;
    bool m_fsIsWritable = false;
    bool m_fsIsCompatible = false;
    bool m_fsIsNTFS = false;
    bool m_fsLimit4G = false;
};
