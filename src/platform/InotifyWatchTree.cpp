#include "platform/InotifyWatchTree.h"

#include <QLoggingCategory>

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

Q_LOGGING_CATEGORY(lcWatchTree, "pellmere.changes")

namespace platform {

namespace {

constexpr std::uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO
    | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

struct DirCloser {
    void operator()(DIR *dir) const { ::closedir(dir); }
};

// Appends the folders directly inside folder to pending, without following links (but the
// folder itself is followed when it is the root).
void listSubfolders(const QByteArray &folder, bool followFolder, std::vector<QByteArray> &pending)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followFolder ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return;
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
    if (!dir) {
        ::close(fd);
        return;
    }
    while (const dirent *entry = ::readdir(dir.get())) {
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st = {};
            isFolder = ::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        if (isFolder)
            pending.push_back(InotifyWatchTree::childPath(folder, QByteArray(name)));
    }
}

bool isInside(const QByteArray &path, const QByteArray &folder)
{
    return path.startsWith(folder)
        && (path.size() == folder.size() || path.at(folder.size()) == '/' || folder.endsWith('/'));
}

} // namespace

InotifyWatchTree::InotifyWatchTree(const QByteArray &rootPath)
    : m_root(rootPath)
{
}

InotifyWatchTree::~InotifyWatchTree()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool InotifyWatchTree::open()
{
    if (m_fd >= 0)
        return true;
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    m_error = m_fd < 0 ? errno : 0;
    return m_fd >= 0;
}

InotifyWatchTree::Result InotifyWatchTree::addRoot()
{
    QHash<int, QByteArray> paths;
    const Result result = walk(m_root, true, paths);
    if (result == Result::Added)
        m_paths = std::move(paths);
    else
        m_paths.clear();
    return result;
}

InotifyWatchTree::Result InotifyWatchTree::addFolder(const QByteArray &path)
{
    return walk(path, false, m_paths);
}

void InotifyWatchTree::removeFolder(const QByteArray &path)
{
    for (auto it = m_paths.begin(); it != m_paths.end();) {
        if (it.key() != m_rootWatch && isInside(it.value(), path)) {
            ::inotify_rm_watch(m_fd, it.key());
            it = m_paths.erase(it);
        } else {
            ++it;
        }
    }
}

void InotifyWatchTree::forgetWatch(int watch)
{
    m_paths.remove(watch);
    if (watch == m_rootWatch)
        m_rootWatch = -1;
}

InotifyWatchTree::Result InotifyWatchTree::resync()
{
    // Watching a folder already watched answers its existing descriptor, so the folders that
    // stayed keep their watches; only the ones no longer found are released.
    QHash<int, QByteArray> paths;
    const Result result = walk(m_root, true, paths);
    if (result != Result::Added)
        return result;
    for (auto it = m_paths.cbegin(); it != m_paths.cend(); ++it)
        if (!paths.contains(it.key()))
            ::inotify_rm_watch(m_fd, it.key());
    m_paths = std::move(paths);
    return Result::Added;
}

qsizetype InotifyWatchTree::read(char *buffer, qsizetype capacity)
{
    for (;;) {
        const ssize_t got = ::read(m_fd, buffer, size_t(capacity));
        if (got >= 0)
            return qsizetype(got);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            qCWarning(lcWatchTree) << "cannot read change notifications:" << strerror(errno);
        return 0;
    }
}

QByteArray InotifyWatchTree::childPath(const QByteArray &folder, const QByteArray &name)
{
    if (folder.endsWith('/'))
        return QByteArray(folder + name);
    return QByteArray(folder + '/' + name);
}

InotifyWatchTree::Result InotifyWatchTree::walk(const QByteArray &top, bool isRoot, QHash<int, QByteArray> &paths)
{
    // Each folder is watched before it is listed, so that a folder created inside it after
    // the listing is announced by an event rather than missed.
    std::vector<QByteArray> pending { top };
    while (!pending.empty()) {
        const QByteArray folder = std::move(pending.back());
        pending.pop_back();
        const bool isTheRoot = isRoot && folder == m_root;
        const std::uint32_t mask = kFolderEvents | (isTheRoot ? 0u : std::uint32_t(IN_DONT_FOLLOW));
        const int watch = ::inotify_add_watch(m_fd, folder.constData(), mask);
        if (watch < 0) {
            const int error = errno;
            if (error == ENOSPC)
                return Result::LimitReached;
            if (isTheRoot) {
                m_error = error;
                return Result::Failed;
            }
            // Gone already, replaced by a file or link, or not readable: nothing to watch.
            qCDebug(lcWatchTree) << "not watching" << folder << strerror(error);
            continue;
        }
        if (isTheRoot)
            m_rootWatch = watch;
        // A folder reached a second time (a bind mount of a folder inside itself) is not
        // walked again.
        const bool known = paths.contains(watch);
        paths.insert(watch, folder);
        if (!known)
            listSubfolders(folder, isTheRoot, pending);
    }
    return Result::Added;
}

} // namespace platform
