#include "platform/TreeFingerprint.h"

#include <fts.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>

namespace platform {

namespace {

constexpr quint64 kFnvOffset = 14695981039346656037ull;
constexpr quint64 kFnvPrime = 1099511628211ull;

quint64 fnv(quint64 hash, const void *data, size_t size)
{
    const auto *bytes = static_cast<const unsigned char *>(data);
    for (size_t i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= kFnvPrime;
    }
    return hash;
}

// Spreads the bits so that summing the hashes of many entries stays sensitive to each one.
quint64 mix(quint64 value)
{
    value ^= value >> 33;
    value *= 0xff51afd7ed558ccdull;
    value ^= value >> 33;
    value *= 0xc4ceb3fe1a85ec53ull;
    value ^= value >> 33;
    return value;
}

quint64 entryHash(const FTSENT *entry)
{
    quint64 hash = fnv(kFnvOffset, entry->fts_path, entry->fts_pathlen);
    hash = fnv(hash, &entry->fts_info, sizeof entry->fts_info);
    if (const struct stat *st = entry->fts_statp; st && entry->fts_info != FTS_NS && entry->fts_info != FTS_ERR) {
        const qint64 numbers[] = { qint64(st->st_ino), qint64(st->st_mode), qint64(st->st_uid), qint64(st->st_gid),
            qint64(st->st_size), qint64(st->st_mtim.tv_sec), qint64(st->st_mtim.tv_nsec), qint64(st->st_ctim.tv_sec),
            qint64(st->st_ctim.tv_nsec) };
        hash = fnv(hash, numbers, sizeof numbers);
    }
    return mix(hash);
}

struct FtsCloser {
    void operator()(FTS *fts) const { fts_close(fts); }
};

} // namespace

std::optional<quint64> TreeFingerprint::compute(const QByteArray &rootPath)
{
    struct stat rootStat = {};
    if (rootPath.isEmpty() || ::stat(rootPath.constData(), &rootStat) != 0 || !S_ISDIR(rootStat.st_mode))
        return std::nullopt;

    QByteArray root = rootPath;
    char *const paths[] = { root.data(), nullptr };
    std::unique_ptr<FTS, FtsCloser> fts(fts_open(paths, FTS_PHYSICAL | FTS_COMFOLLOW | FTS_NOCHDIR, nullptr));
    if (!fts)
        return std::nullopt;

    // The entries are combined in an order-independent way: a folder listed in another order
    // is the same tree.
    quint64 sum = 0;
    quint64 count = 0;
    while (const FTSENT *entry = fts_read(fts.get())) {
        if (entry->fts_info == FTS_DP)
            continue;
        sum += entryHash(entry);
        ++count;
    }
    return mix(sum ^ mix(count));
}

} // namespace platform
