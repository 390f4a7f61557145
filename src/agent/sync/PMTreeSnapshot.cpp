#include "agent/sync/PMTreeSnapshot.h"

#include "agent/copy/PMUniqueFd.h"
#include "platform/FileNameCodec.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

namespace {

struct DirCloser {
    void operator()(DIR *dir) const { closedir(dir); }
};

quint64 roundedTo512(quint64 size)
{
    return (size + 511) / 512 * 512;
}

QByteArray withoutTrailingSlash(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

QByteArray keyFor(const QString &folder)
{
    return withoutTrailingSlash(platform::FileNameCodec::encode(folder));
}

} // namespace

PMTreeSnapshot::PMTreeSnapshot(const QStringList &roots, int threads, const QStringList &unlistedRoots)
{
    QList<QByteArray> unlisted;
    for (const QString &root : unlistedRoots)
        unlisted.append(keyFor(root));
    for (const QString &root : roots) {
        const QByteArray path = keyFor(root);
        struct stat sb = {};
        const bool folder = !path.isEmpty() && lstat(path.constData(), &sb) == 0 && S_ISDIR(sb.st_mode);
        const int index = int(m_roots.size());
        m_roots.push_back(path);
        m_rootSizes.push_back(0);
        m_rootIsFolder.push_back(folder);
        m_rootComplete.push_back(folder);
        m_rootListed.push_back(!unlisted.contains(path));
        if (folder)
            m_tasks.push_back({ path, index });
    }
    if (m_tasks.empty()) {
        m_finished = true;
        return;
    }
    const int count = std::max(1, threads);
    m_threads.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        m_threads.emplace_back([this] { run(); });
}

PMTreeSnapshot::~PMTreeSnapshot()
{
    stop();
    // The listings never taken were allocated on the reading threads: their pages go back to
    // the system now rather than at the end of the job.
    m_listings.clear();
    malloc_trim(0);
}

void PMTreeSnapshot::stop()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_finished) {
            m_stop.store(true);
            // Folders never read leave their roots incomplete.
            for (const Task &task : m_tasks)
                m_rootComplete[size_t(task.root)] = false;
            m_tasks.clear();
        }
    }
    m_wake.notify_all();
    for (std::thread &thread : m_threads)
        if (thread.joinable())
            thread.join();
    std::lock_guard lock(m_mutex);
    m_finished = true;
}

bool PMTreeSnapshot::waitForCompletion(const std::function<bool()> &shouldStop)
{
    std::unique_lock lock(m_mutex);
    while (!m_finished) {
        if (shouldStop && shouldStop()) {
            lock.unlock();
            stop();
            return false;
        }
        m_done.wait_for(lock, std::chrono::milliseconds(100));
    }
    return !m_stop.load();
}

void PMTreeSnapshot::run()
{
    for (;;) {
        Task task;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop.load() || !m_tasks.empty() || m_finished; });
            if (m_stop.load() || m_finished)
                return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
            ++m_busy;
        }
        readFolder(task);
        finishTask();
    }
}

void PMTreeSnapshot::finishTask()
{
    bool finished = false;
    {
        std::lock_guard lock(m_mutex);
        --m_busy;
        if (m_busy == 0 && m_tasks.empty()) {
            m_finished = true;
            finished = true;
        }
    }
    if (finished) {
        m_wake.notify_all();
        m_done.notify_all();
    }
}

void PMTreeSnapshot::readFolder(const Task &task)
{
    const auto incomplete = [&] {
        std::lock_guard lock(m_mutex);
        m_rootComplete[size_t(task.root)] = false;
    };
    PMUniqueFd fd(::open(task.path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.isValid())
        return incomplete();
    std::unique_ptr<DIR, DirCloser> listing(fdopendir(fd.get()));
    if (!listing)
        return incomplete();
    fd.release();
    const int folderFd = dirfd(listing.get());

    const bool listed = m_rootListed[size_t(task.root)];
    PMFolderListing folder;
    qsizetype count = 0;
    std::vector<QByteArray> subfolders;
    quint64 bytes = 0;
    for (;;) {
        if (m_stop.load(std::memory_order_relaxed))
            return incomplete();
        errno = 0;
        const dirent *entry = readdir(listing.get());
        if (!entry) {
            if (errno != 0)
                return incomplete(); // a listing cut short would make files look missing
            break;
        }
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        struct stat sb = {};
        const bool known = fstatat(folderFd, name, &sb, AT_SYMLINK_NOFOLLOW) == 0 && sb.st_mode != 0;
        if (listed)
            folder.append(name, known ? &sb : nullptr);
        ++count;
        if (!known)
            continue;
        if (S_ISDIR(sb.st_mode))
            subfolders.push_back(
                task.path.endsWith('/') ? QByteArray(task.path + name) : QByteArray(task.path + '/' + name));
        else if (S_ISREG(sb.st_mode))
            bytes += roundedTo512(quint64(sb.st_size));
    }
    folder.finish();
    m_entries.fetch_add(quint64(count), std::memory_order_relaxed);
    {
        std::lock_guard lock(m_mutex);
        m_rootSizes[size_t(task.root)] += bytes;
        if (listed)
            m_listings.emplace(task.path, std::move(folder));
        for (QByteArray &path : subfolders)
            m_tasks.push_back({ std::move(path), task.root });
    }
    if (!subfolders.empty())
        m_wake.notify_all();
}

std::optional<PMFolderListing> PMTreeSnapshot::takeListing(const QString &folder)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_listings.find(keyFor(folder));
    if (it == m_listings.end())
        return std::nullopt;
    std::optional<PMFolderListing> taken(std::move(it.value()));
    m_listings.erase(it);
    m_handedOver += quint64(taken->count());
    if (m_handedOver >= kTrimEntries) {
        m_handedOver = 0;
        malloc_trim(0);
    }
    return taken;
}

std::optional<quint64> PMTreeSnapshot::treeSize(const QString &root) const
{
    const QByteArray key = keyFor(root);
    std::lock_guard lock(m_mutex);
    if (!m_finished || m_stop.load())
        return std::nullopt;
    for (size_t i = 0; i < m_roots.size(); ++i)
        if (m_roots[i] == key && m_rootIsFolder[i] && m_rootComplete[i])
            return m_rootSizes[i];
    return std::nullopt;
}
