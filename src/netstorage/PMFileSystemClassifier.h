// Decides whether a local drive's file system can take synced files, from its kind (the file
// system found on the medium: "vfat", "exfat", "ntfs", "ext4", "hfsplus", ...) and its
// partition content hint ("DOS_FAT_32", "Windows_NTFS", "Apple_HFS", ...). One table holds
// the rules; the first rule that matches decides:
//   1. FAT (content "DOS_FAT_32", or kind "vfat", "msdos", "MS-DOS FAT32"): compatible, and
//      files over 4 GiB cannot be stored;
//   2. HFS (content containing "HFS", or kind "hfs", "hfsplus"): compatible;
//   3. content "Windows_NTFS" (unless the kind is exFAT, which shares MBR type 0x07): NTFS,
//      compatible when this computer can format, and so write, that content;
//   4. kind beginning or ending with "NTFS" (any case): NTFS, compatible when the kind is
//      formattable here ("ufsd_NTFS" retried in upper case);
//   5. kind "exfat": compatible when a driver here writes exFAT;
//   6. Linux's own file systems (ext2, ext3, ext4, btrfs, xfs): compatible;
//   7. anything else: not compatible.
//
// Pure and reentrant.
#pragma once

#include <QString>

class FSNamesAndTags;

struct PMFileSystemClass {
    bool compatible = false;
    bool isNTFS = false;
    bool limit4G = false;
    bool operator==(const PMFileSystemClass &) const = default;
};

class PMFileSystemClassifier {
public:
    static PMFileSystemClass classify(const QString &kind, const QString &contentHint, const FSNamesAndTags &catalog);
};
