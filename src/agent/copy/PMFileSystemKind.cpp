#include "agent/copy/PMFileSystemKind.h"

#include "platform/FileNameCodec.h"
#include "platform/MountTable.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <blkid/blkid.h>
#include <linux/magic.h>
#include <sys/vfs.h>

#include <memory>

namespace {

constexpr long kFuseSuperMagic = 0x65735546;
constexpr long kExfatSuperMagic = 0x2011BAB0;
constexpr long kNtfsSuperMagic = 0x5346544e;
constexpr long kNtfs3SuperMagic = 0x7366746e;

struct ProbeDeleter {
    void operator()(blkid_probe probe) const { blkid_free_probe(probe); }
};

QString probeType(const QString &source)
{
    std::unique_ptr<blkid_struct_probe, ProbeDeleter> probe(
        blkid_new_probe_from_filename(platform::FileNameCodec::encode(source).constData()));
    if (!probe)
        return QString();
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_TYPE);
    if (blkid_do_safeprobe(probe.get()) != 0)
        return QString();
    const char *type = nullptr;
    if (blkid_probe_lookup_value(probe.get(), "TYPE", &type, nullptr) != 0 || !type)
        return QString();
    return QString::fromUtf8(type);
}

// FUSE drivers name themselves in the subtype ("fuse.exfat-fuse"); map the usual ones.
QString kindForFuseSubtype(const QString &subtype)
{
    const QString lower = subtype.toLower();
    if (lower == QLatin1String("vfat") || lower == QLatin1String("fusefat") || lower == QLatin1String("msdos")
        || lower == QLatin1String("fat"))
        return QStringLiteral("vfat");
    if (lower.startsWith(QLatin1String("exfat")))
        return QStringLiteral("exfat");
    if (lower.startsWith(QLatin1String("ntfs")))
        return QStringLiteral("ntfs");
    return lower;
}

} // namespace

QString PMFileSystemKind::kindForPath(const QString &path)
{
    struct statfs info = {};
    if (path.isEmpty() || statfs(platform::FileNameCodec::encode(path).constData(), &info) != 0)
        return QString();
    switch (long(info.f_type)) {
    case MSDOS_SUPER_MAGIC:
        return QStringLiteral("vfat");
    case kExfatSuperMagic:
        return QStringLiteral("exfat");
    case kNtfsSuperMagic:
    case kNtfs3SuperMagic:
        return QStringLiteral("ntfs");
    case EXT4_SUPER_MAGIC:
        return QStringLiteral("ext4");
    case kFuseSuperMagic:
        break;
    default: {
        const std::optional<platform::MountEntry> entry
            = platform::MountTable::entryForPath(QFileInfo(path).canonicalFilePath());
        return entry ? entry->fsType : QString();
    }
    }
    const std::optional<platform::MountEntry> entry
        = platform::MountTable::entryForPath(QFileInfo(path).canonicalFilePath());
    if (!entry)
        return QString();
    if (entry->fsType.startsWith(QLatin1String("fuse.")))
        return kindForFuseSubtype(entry->fsType.mid(5));
    // "fuseblk": the driver reads a block device (or image); ask the device what it holds.
    const QString probed = probeType(entry->source);
    return probed.isEmpty() ? entry->fsType : probed;
}

bool PMFileSystemKind::isFATPath(const QString &path)
{
    const QString kind = kindForPath(path);
    return kind == QLatin1String("vfat") || kind == QLatin1String("msdos");
}

bool PMFileSystemKind::holdsAnyNameBytes(const QString &kind)
{
    static const QStringList unicodeOnly = { QStringLiteral("vfat"), QStringLiteral("msdos"), QStringLiteral("exfat"),
        QStringLiteral("ntfs"), QStringLiteral("ntfs3"), QStringLiteral("fuseblk") };
    return !unicodeOnly.contains(kind);
}
