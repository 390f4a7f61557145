// A local volume of the list: a file system mounted from a device or disk image. Its file
// system is named and judged by the shared catalog and classifier (the agent's own rules), so
// the manager lists exactly the drives the agent will sync to: compatible (FAT, exFAT, NTFS
// where a driver writes it, HFS, ext2/3/4, btrfs, xfs) and writable (a read-only mount is not).
//
//   LUMVolume volume(*describer->describeVolume(mountPoint), FSNamesAndTags::sharedManager());
//   if (volume.isValidDestination()) ... volume.fsName(), volume.capacityString() ...
//
// Main thread (the catalog may be read from any).
#pragma once

#include "manager/volumes/LUMVolumeBase.h"

class FSNamesAndTags;

class LUMVolume : public LUMVolumeBase {
public:
    LUMVolume(const platform::VolumeDescription &description, const FSNamesAndTags &catalog);

    // Always mounted: it leaves the list when it is unmounted.
    bool isMounted() const override { return true; }
    void setMounted(bool) override { }

    QString capacityString() override;
    bool isValidDestination() const override { return m_validDestination; }
    // The user's name of the file system, or the translated "Unknown File System".
    QString fsName() const override;

private:
    void initFSVars(const FSNamesAndTags &catalog);
    bool readMount();

    QString m_fsName;
    bool m_validDestination = false;
};
