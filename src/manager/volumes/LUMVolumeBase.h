// One row of the manager's volume list: a drive the user can sync to. LUMVolume is a local
// volume made from the system's description of it, LUMVolumeRemote a mounted share of a
// network storage device. The base answers "nothing known" for everything a kind must work out
// itself (no capacity text, not a valid destination, no file-system name).
//
// What a volume holds is read when it is made; the capacity is read again at each question,
// since files come and go on a drive while it is listed. Main thread.
#pragma once

#include "platform/VolumeDescription.h"

#include <QString>
#include <QUrl>

class LUMVolumeBase {
public:
    LUMVolumeBase() = default;
    // Takes the mount path, name and device from a description; without a mount path the
    // volume stays empty.
    explicit LUMVolumeBase(const platform::VolumeDescription &description);
    virtual ~LUMVolumeBase();

    QString volumeName() const { return m_volumeName; }
    QString volumePathName() const { return m_volumePathName; }
    QUrl volumeURL() const { return m_volumeURL; }
    QString bsdName() const { return m_bsdName; }
    // The mount the volume was listed for: the kernel keeps its id while the mount stays,
    // also when it moves. -1 when the volume does not come from the local mount table.
    int mountId() const { return m_mountId; }
    void setMountId(int mountId) { m_mountId = mountId; }
    const platform::VolumeDescription &daInfo() const { return m_daInfo; }

    virtual bool isMounted() const { return m_mounted; }
    virtual void setMounted(bool mounted) { m_mounted = mounted; }

    // The last capacity read (by capacityString or percentInUse).
    quint64 totalBytes() const { return m_totalBytes; }
    quint64 freeBytes() const { return m_freeBytes; }

    QString diskSlice() const { return m_diskSlice; }
    QString fileSystemType() const { return m_fileSystemType; }
    QString contentTag() const { return m_contentTag; }
    qint64 totalBytesN() const { return m_totalBytesN; }
    qint64 freeBytesN() const { return m_freeBytesN; }

    virtual QString capacityString();
    // The line under the name besides the capacity (a share's name); empty for none.
    virtual QString mountedPartitionString() const { return {}; }
    // The themed icon of the volume's kind; empty for the list's drive icon.
    virtual QString iconName() const { return {}; }
    virtual bool isValidDestination() const { return false; }
    virtual QString fsName() const { return {}; }
    virtual bool fsIsCompatible() const { return m_fsIsCompatible; }
    virtual bool fsIsNTFS() const { return m_fsIsNTFS; }
    virtual bool fsIsWritable() const { return m_fsIsWritable; }

    // Share of the volume in use, 0 to 100; 0 when the capacity cannot be read.
    double percentInUse();

    // The list's order: by name, plain comparison.
    static bool volumeNameAscending(const LUMVolumeBase &a, const LUMVolumeBase &b);

protected:
    // Reads total and available bytes of the mount path into totalBytes and freeBytes.
    bool readCapacity();

    QString m_volumeName;
    QString m_volumePathName;
    QUrl m_volumeURL;
    QString m_bsdName;
    int m_mountId = -1;
    platform::VolumeDescription m_daInfo;
    bool m_mounted = false;
    quint64 m_totalBytes = 0;
    quint64 m_freeBytes = 0;
    QString m_diskSlice;
    QString m_fileSystemType;
    QString m_contentTag;
    qint64 m_totalBytesN = 0;
    qint64 m_freeBytesN = 0;
    bool m_fsIsWritable = false;
    bool m_fsIsCompatible = false;
    bool m_fsIsNTFS = false;
};
