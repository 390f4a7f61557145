// A share of a network storage device in the volume list: a mounted SMB share that the share
// mapper tied to a device found on the network. Its name is the device's, its sub-line the
// share's, its icon a fixed one of network folders.
//
//   auto volume = std::make_shared<LUMVolumeRemote>(service);
//   volume->setVolumePathName(mountPath);
//   volume->matchMountedPath(shareService);   // blocks on the share: off the main thread
//   volume->setMounted(true);
//
// Reading a share's capacity waits on its server, which may be gone without notice, so the
// capacity is read by matchMountedPath (off the main thread) and the capacity text shows that
// reading; the accessors never touch the share.
#pragma once

#include "manager/volumes/LUMVolumeBase.h"
#include "netstorage/PMNetServiceObject.h"

class PMShareService;

class LUMVolumeRemote : public LUMVolumeBase {
public:
    static inline const QString kIconName = QStringLiteral("folder-remote");

    explicit LUMVolumeRemote(const PMNetServicePtr &netservice);

    PMNetServicePtr netservice() const { return m_netservice; }
    // The share's name; empty until a match.
    QString mountedShare() const { return m_mountedShare; }

    // Sets the mount path (and URL); an empty path clears both.
    void setVolumePathName(const QString &path);

    // Whether the share mounted at the volume's path comes from one of the device's addresses,
    // by the share service's "host/share" for the path. On a match the share name is taken
    // (as the device lists it) and the capacity of the mount path is read. Blocks.
    bool matchMountedPath(PMShareService &shares);

    // The last capacity read, or the translated "Unknown".
    QString capacityString() override;
    QString mountedPartitionString() const override { return m_mountedShare; }
    QString iconName() const override { return kIconName; }
    // Mounted at a folder this user may write to.
    bool isValidDestination() const override;

private:
    PMNetServicePtr m_netservice;
    QString m_mountedShare;
    bool m_capacityRead = false;
};
