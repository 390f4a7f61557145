#include "agent/sync/PMLeftOutWalk.h"

#include "platform/FileNameCodec.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {

// Deeper trees than this are not real folders a user keeps; stop rather than exhaust the stack.
constexpr int kMaxDepth = 256;

struct DirCloser {
    void operator()(DIR *dir) const
    {
        if (dir)
            closedir(dir);
    }
};

} // namespace

void PMLeftOutWalk::askBelowNewFolders(const PMScanResults &results, const PMCopyItemFilter &filter, bool limitTo4G)
{
    for (const PMScanEntry &entry : results) {
        if (!entry.enabled || entry.action != PMScanEntry::kActionCopyToDrive || entry.localPath.isEmpty())
            continue;
        struct stat sb = {};
        if (lstat(platform::FileNameCodec::encode(entry.localPath).constData(), &sb) == 0 && S_ISDIR(sb.st_mode))
            askBelow(entry.localPath, filter, limitTo4G, 0);
    }
}

void PMLeftOutWalk::askBelow(const QString &folder, const PMCopyItemFilter &filter, bool limitTo4G, int depth)
{
    if (depth > kMaxDepth)
        return;
    const QByteArray encoded = platform::FileNameCodec::encode(folder);
    const int fd = ::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    const std::unique_ptr<DIR, DirCloser> dir(fdopendir(fd));
    if (!dir) {
        ::close(fd);
        return;
    }
    std::vector<QString> names;
    while (const dirent *entry = readdir(dir.get())) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        names.push_back(platform::FileNameCodec::decode(QByteArray(name)));
    }
    for (const QString &name : names) {
        const QString path = folder + QLatin1Char('/') + name;
        struct stat sb = {};
        if (fstatat(dirfd(dir.get()), platform::FileNameCodec::encode(name).constData(), &sb, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!filter.shouldCopyExaminedItem(path, name, limitTo4G, sb))
            continue;
        if (S_ISDIR(sb.st_mode))
            askBelow(path, filter, limitTo4G, depth + 1);
    }
}
