// Pure parser for /proc/<pid>/mountinfo (see proc(5)); no I/O, so it is tested on canned lines.
//
//   36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue
//
// Octal escapes (\040 space, \011 tab, \012 newline, \134 backslash) are decoded in the
// root, mount point and source fields. Malformed lines are skipped, never fatal.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace platform {

struct MountEntry {
    int mountId = -1;
    int parentId = -1;
    uint major = 0;
    uint minor = 0;
    QString root; // the mounted folder inside its file system ("/" for whole ones)
    QString mountPoint;
    QStringList mountOptions;
    QStringList optionalFields;
    QString fsType; // "ext4", "fuseblk", "fuse.exfat-fuse", ...
    QString source; // "/dev/sdb1", "//nas/share", "tmpfs", ...
    QStringList superOptions;

    bool isReadOnly() const { return mountOptions.contains(QLatin1String("ro")); }
    bool operator==(const MountEntry &) const = default;
};

class MountInfoParser {
public:
    static QList<MountEntry> parse(const QByteArray &contents);
    // Parses one line; answers false for a malformed one.
    static bool parseLine(const QByteArray &line, MountEntry *entry);
    static QString unescape(const QByteArray &field);
};

} // namespace platform
