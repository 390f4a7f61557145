#include "agent/sync/PMDriveMetadataPrefetcher.h"

#include "agent/copy/PMUniqueFd.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

struct DirCloser {
    void operator()(DIR *dir) const { closedir(dir); }
};

} // namespace

PMDriveMetadataPrefetcher::PMDriveMetadataPrefetcher(const QStringList &folders)
    : m_thread([this, folders] { walk(folders); })
{
}

PMDriveMetadataPrefetcher::~PMDriveMetadataPrefetcher()
{
    stop();
}

void PMDriveMetadataPrefetcher::stop()
{
    m_stop.store(true);
    if (m_thread.joinable())
        m_thread.join();
}

void PMDriveMetadataPrefetcher::walk(const QStringList &folders)
{
    for (const QString &folder : folders) {
        const QByteArray rootPath = QFile::encodeName(folder);
        struct stat root = {};
        if (lstat(rootPath.constData(), &root) != 0 || !S_ISDIR(root.st_mode))
            continue;
        // Folders still to list by path (a descriptor each would run out on wide trees).
        std::vector<QByteArray> pending { rootPath };
        while (!pending.empty()) {
            const QByteArray path = std::move(pending.back());
            pending.pop_back();
            PMUniqueFd fd(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!fd.isValid())
                continue;
            std::unique_ptr<DIR, DirCloser> listing(fdopendir(fd.release()));
            if (!listing)
                continue;
            const int listingFd = dirfd(listing.get());
            while (const dirent *entry = readdir(listing.get())) {
                if (m_stop.load(std::memory_order_relaxed))
                    return;
                if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                    continue;
                struct stat item = {};
                if (fstatat(listingFd, entry->d_name, &item, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                m_examined.fetch_add(1, std::memory_order_relaxed);
                if (S_ISDIR(item.st_mode) && item.st_dev == root.st_dev)
                    pending.push_back(path + '/' + entry->d_name);
            }
        }
    }
}
