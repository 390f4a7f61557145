#include "platform/MountTable.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <linux/stat.h>
#include <sys/stat.h>

namespace platform {

QList<MountEntry> MountTable::read()
{
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // procfs reports a size of 0; readAll() reads until the end.
    return MountInfoParser::parse(file.readAll());
}

std::optional<MountEntry> MountTable::entryForPath(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct statx info = {};
    if (statx(AT_FDCWD, native.constData(), AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &info) != 0)
        return std::nullopt;
    const QList<MountEntry> entries = read();
    if (info.stx_mask & STATX_MNT_ID) {
        for (const MountEntry &entry : entries)
            if (entry.mountId == int(info.stx_mnt_id))
                return entry;
    }
    // Older kernels: the longest mount point that is a prefix of the path and has its device.
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    const MountEntry *best = nullptr;
    for (const MountEntry &entry : entries) {
        const bool below = clean == entry.mountPoint || entry.mountPoint == QLatin1String("/")
            || clean.startsWith(entry.mountPoint + QLatin1Char('/'));
        if (below && entry.major == info.stx_dev_major && entry.minor == info.stx_dev_minor
            && (!best || entry.mountPoint.size() >= best->mountPoint.size()))
            best = &entry;
    }
    if (best)
        return *best;
    return std::nullopt;
}

QString MountTable::deviceNodeNameForPath(const QString &path)
{
    const std::optional<MountEntry> entry = entryForPath(path);
    if (!entry || !entry->source.startsWith(QLatin1String("/dev/")))
        return {};
    struct stat sb = {};
    if (stat(QFile::encodeName(entry->source).constData(), &sb) != 0 || !S_ISBLK(sb.st_mode))
        return {};
    return entry->source.mid(5);
}

} // namespace platform
