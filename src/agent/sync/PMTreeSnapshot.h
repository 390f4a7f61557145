// Lists every folder below some root folders, with the attributes of each entry, on several
// threads at once. A sync walks two trees (the computer's and the drive's) and with a cold
// cache nearly all of its time is spent waiting for the disk to deliver folder and inode
// blocks; with several folders read at the same time the disk has many requests to serve
// instead of one, and the walk that compares the two sides afterwards reads the listings from
// memory instead of asking the kernel for every path again.
//
//   PMTreeSnapshot local({ "/home/alice/Music" });          // starts reading at once
//   local.waitForCompletion([&] { return canceled(); });
//   std::optional<PMFolderListing> music = local.takeListing("/home/alice/Music");
//   std::optional<quint64> bytes = local.treeSize("/home/alice/Music");
//
// Links are never followed and nothing is changed. A folder whose listing could not be read
// completely has no listing (its reader falls back to asking the file system itself); an
// entry whose attributes could not be read is listed as unknown. The snapshot is as old as the
// moment each folder was read: changes made later are seen by the next job.
//
// Construction, waiting, taking listings and destruction on one thread (the drive's worker);
// the reading itself runs on the snapshot's own threads, which the destructor stops.
#pragma once

#include "agent/sync/PMFolderListing.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class PMTreeSnapshot {
public:
    static constexpr int kDefaultThreads = 4;
    static constexpr quint64 kTrimEntries = 8192;

    // unlistedRoots: roots among roots that are measured (treeSize) but whose listings are not
    // kept, as nothing will compare them (a sync item the drive does not hold yet is copied
    // whole): a first sync does not hold its whole tree in memory.
    explicit PMTreeSnapshot(
        const QStringList &roots, int threads = kDefaultThreads, const QStringList &unlistedRoots = {});
    ~PMTreeSnapshot();
    PMTreeSnapshot(const PMTreeSnapshot &) = delete;
    PMTreeSnapshot &operator=(const PMTreeSnapshot &) = delete;

    // Waits until every folder was read (true) or until shouldStop answers true (asked about
    // ten times a second; the reading is then stopped and false returned).
    bool waitForCompletion(const std::function<bool()> &shouldStop = {});
    // Ends the reading early; listings read so far stay available.
    void stop();

    // The listing of a folder below a root (the root included), handed over once. Listings
    // are allocated on the reading threads, whose heap arenas keep what the taker frees
    // resident: every kTrimEntries entries handed over, the pages freed since are given back
    // to the system, so a walk that frees each listing when done holds only the ones it
    // still uses plus what it builds itself.
    std::optional<PMFolderListing> takeListing(const QString &folder);
    // The size a root's tree holds in regular files (each rounded up to 512 bytes, links not
    // counted), or nullopt when the root was not a folder or was not read completely.
    std::optional<quint64> treeSize(const QString &root) const;
    // How many entries were read; final once the reading ended.
    quint64 entryCount() const { return m_entries.load(); }

private:
    struct Task {
        QByteArray path;
        int root = 0;
    };

    void run();
    void readFolder(const Task &task);
    void finishTask();

    std::vector<QByteArray> m_roots;
    std::vector<quint64> m_rootSizes;
    std::vector<bool> m_rootIsFolder;
    std::vector<bool> m_rootComplete;
    std::vector<bool> m_rootListed; // set before the threads start, then only read

    mutable std::mutex m_mutex;
    std::condition_variable m_wake; // new tasks for the readers, or the end
    std::condition_variable m_done; // the waiting owner
    std::deque<Task> m_tasks;
    int m_busy = 0;
    bool m_finished = false;
    QHash<QByteArray, PMFolderListing> m_listings;

    quint64 m_handedOver = 0; // entries handed over since the last trim
    std::atomic<bool> m_stop { false };
    std::atomic<quint64> m_entries { 0 };
    std::vector<std::thread> m_threads;
};
