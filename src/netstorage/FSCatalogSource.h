// Where the file-system catalog learns which file systems this computer has: one entry per
// file-system personality with its user-visible name, the partition content hint it formats,
// whether it can be formatted and whether a driver can write it. The Linux source
// (LinuxFSCatalogSource.h) looks at the kernel, the FUSE drivers and the formatters
// installed; tests hand the catalog their own.
//
// Reentrant: the catalog reads a source once, on the thread that builds it.
#pragma once

#include <QList>
#include <QString>

struct FSPersonalityInfo {
    QString personality; // "vfat", "exfat", "ntfs", "ext4", ...
    QString userName; // "MS-DOS FAT32"; empty when the personality has no name to show
    QString contentMask; // partition content hint it formats ("DOS_FAT_32"); may be empty
    bool hasFormatter = false; // a formatter for it is installed
    bool canWrite = false; // a driver that writes it is present (kernel or FUSE)
};

class FSCatalogSource {
public:
    virtual ~FSCatalogSource() = default;

    // The personalities present, in a stable order (the catalog keeps it).
    virtual QList<FSPersonalityInfo> personalities() const = 0;
    // Whether the user switched the NTFS-3G driver off in its own settings.
    virtual bool isNtfs3gDriverDisabled() const = 0;
};
