// One inotify instance and a watch on every folder of one tree: the map from watch
// descriptor to folder path, kept up to date as folders come and go. Knows nothing of
// events' meaning; the change watcher tells it which folders appeared or left.
//
//   InotifyWatchTree tree(root);
//   if (!tree.open() || tree.addRoot() != InotifyWatchTree::Result::Added) ...
//   QSocketNotifier on tree.descriptor(); read with tree.read(...)
//
// Memory is one path per folder (no state per file). Symbolic links below the root are never
// followed; the root itself may be a link. Closing the instance (destruction) drops every
// watch at once. One thread.
#pragma once

#include <QByteArray>
#include <QHash>

namespace platform {

class InotifyWatchTree {
public:
    enum class Result {
        Added,
        LimitReached, // the kernel's watch limit (fs.inotify.max_user_watches) was reached
        Failed, // the root could not be watched; see error()
    };

    explicit InotifyWatchTree(const QByteArray &rootPath);
    ~InotifyWatchTree();
    InotifyWatchTree(const InotifyWatchTree &) = delete;
    InotifyWatchTree &operator=(const InotifyWatchTree &) = delete;

    // Creates the non-blocking inotify instance; false with error() set when it cannot.
    bool open();
    int descriptor() const { return m_fd; }
    int error() const { return m_error; }

    // Watches the root and every folder below it.
    Result addRoot();
    // Watches a folder that appeared below a watched one (created or moved in) and every
    // folder inside it. A folder that vanished meanwhile is skipped quietly.
    Result addFolder(const QByteArray &path);
    // Stops watching a folder that left the tree (moved away) and every folder below it.
    void removeFolder(const QByteArray &path);
    // The kernel dropped this watch (its folder was deleted, or the watch removed).
    void forgetWatch(int watch);
    // Rebuilds the whole watch set from the tree as it is now, after events were lost.
    Result resync();

    int rootWatch() const { return m_rootWatch; }
    // Empty when the watch is not (or no longer) known.
    QByteArray pathForWatch(int watch) const { return m_paths.value(watch); }
    qsizetype watchCount() const { return m_paths.size(); }

    // Reads what the instance holds into buffer; bytes read, 0 when nothing is pending.
    qsizetype read(char *buffer, qsizetype capacity);

    static QByteArray childPath(const QByteArray &folder, const QByteArray &name);

private:
    Result walk(const QByteArray &top, bool isRoot, QHash<int, QByteArray> &paths);

    QByteArray m_root;
    int m_fd = -1;
    int m_error = 0;
    int m_rootWatch = -1;
    QHash<int, QByteArray> m_paths;
};

} // namespace platform
