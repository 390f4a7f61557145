// Copies one file, link or package (a whole folder tree) with its data, mode, owner (when
// permitted), times, extended attributes and access lists, never following a link. Metadata
// the destination cannot hold (FAT, exFAT) is left behind without error; given the drive's
// capabilities, it is not even asked for it.
//
//   PMFileCopyAgent agent(source, destination, handler);
//   const bool copied = agent.performCopy();
//
// The delegate hears data progress at least every 8 MiB of a file and is asked what to do
// after each error (skip the item, quit, or go on); it cancels the copy by setCancelled(true),
// which takes effect at the next event. One copy at a time per agent, on the calling thread;
// the delegate is called on that thread and is not owned.
#pragma once

#include "agent/copy/PMDriveCapabilities.h"
#include "agent/copy/PMFileCopyAgentDelegate.h"
#include "agent/copy/PMUniqueFd.h"

#include <QHash>
#include <QString>

#include <optional>

#include <sys/stat.h>
#include <sys/types.h>

class PMFileCopyAgent {
public:
    enum State { Idle = 0, Copying = 1, CancelledByCallback = 2, Finished = 3 };
    // Events of a copy, as the callback sees them.
    enum class Event { FileStart, FileFinish, DirectoryStart, DirectoryFinish, Progress, Error };

    // Bytes copied per data step: the largest gap between two progress reports.
    static constexpr qint64 kProgressChunkBytes = qint64(8) * 1024 * 1024;

    PMFileCopyAgent() = default;
    PMFileCopyAgent(const QString &source, const QString &destination, PMFileCopyAgentDelegate *delegate);
    ~PMFileCopyAgent();
    PMFileCopyAgent(const PMFileCopyAgent &) = delete;
    PMFileCopyAgent &operator=(const PMFileCopyAgent &) = delete;

    // True exactly when every item was copied. A failed copy leaves what it wrote.
    [[nodiscard]] bool performCopy();

    bool cancelled() const { return m_cancelled; }
    void setCancelled(bool cancelled) { m_cancelled = cancelled; }
    QString sourcePath() const { return m_sourcePath; }
    QString destinationPath() const { return m_destinationPath; }
    void setDestionationPath(const QString &path) { m_destinationPath = path; }
    // A destination below root (a drive's mount point) has the folders above it opened one by
    // one from root without following links; a link among them fails the copy (ELOOP).
    // Empty: the folders on the way are the computer's and are taken as they are. Given
    // rootDevice, a root on another file system (the drive went away) fails the copy (ENODEV).
    void setDestinationRoot(const QString &root, std::optional<dev_t> rootDevice = std::nullopt)
    {
        m_destinationRoot = root;
        m_destinationRootDevice = rootDevice;
    }
    int state() const { return m_state; }
    PMFileCopyAgentDelegate *delegate() const { return m_delegate; }
    void setDelegate(PMFileCopyAgentDelegate *delegate) { m_delegate = delegate; }
    quint64 totalFinished() const { return m_totalFinished; }
    // Whether the copy stopped because the delegate answered Quit or a cancel was seen; a
    // false result without it means failed items were skipped and the copy went on.
    bool quitRequested() const { return m_quit; }

    // The data methods that turned out unusable per source file system (device number):
    // one failed copy_file_range onto another file system (EXDEV) is enough for a whole
    // job, whose copies all go to one drive. Shared by the agents of one file manager; the
    // memory must outlive the agent.
    using DataMethodMemory = QHash<quint64, int>;
    void setDataMethodMemory(DataMethodMemory *memory) { m_dataMethodMemory = memory; }
    quint64 totalInProgress() const { return m_totalInProgress; }
    // What the drive below the destination root keeps, learnt by the first copy that reaches
    // a folder there and shared by the agents of one file manager, whose copies all go to
    // one drive; must outlive the agent. Without it (or without a destination root) every
    // kind of metadata is copied and the refusals are ignored.
    void setDriveCapabilities(PMDriveCapabilities *capabilities) { m_driveCapabilities = capabilities; }

    // The drive folder the last copy below the destination root went into, kept open so that
    // copies into the same folder reach it without walking to it from the root again (on a
    // FUSE drive every folder opened is a round trip). Its owner clears it before anything on
    // the drive is moved or removed, so the descriptor always names the folder its path did.
    struct ParentFolder {
        QString path; // the folder's whole path on the drive
        PMUniqueFd fd;
    };
    void setParentFolderCache(ParentFolder *cache) { m_parentFolder = cache; }

private:
    // path relative to the destination root, or a null string when not below it.
    QString relativeToRoot(const QString &path) const;
    // Answers the delegate's action for an event: Continue, Skip or Quit.
    // value: the errno of an error, the exact size of a finished file, the bytes copied so far.
    int callback(Event event, const QString &source, const QString &destination, quint64 value = 0);

    // Each answers false when the item was not copied; m_quit is set when the copy must stop.
    // The item is named relative to two open parent folders; the paths are for the delegate.
    struct Item {
        int sourceParentFd;
        QByteArray sourceName;
        int destinationParentFd;
        QByteArray destinationName;
        QString sourcePath;
        QString destinationPath;
    };
    bool copyItem(const Item &item);
    bool copyRegularFile(const Item &item, const struct stat &sourceStat);
    bool copyDirectory(const Item &item, const struct stat &sourceStat);
    bool copyLink(const Item &item, const struct stat &sourceStat);
    bool copyData(int sourceFd, int destinationFd, const struct stat &sourceStat, const QString &sourcePath,
        const QString &destinationPath);
    // Copies length bytes (all up to the end of the file when negative) from the current
    // positions, adding to copied and reporting progress after every step.
    bool copyRange(int sourceFd, int destinationFd, qint64 length, quint64 &copied, const QString &sourcePath,
        const QString &destinationPath);
    bool copyMetadata(int sourceFd, int destinationFd, const struct stat &sourceStat, const QString &sourcePath,
        const QString &destinationPath);
    // Reports an error event; answers the delegate's action (and notes a quit).
    int reportError(const QString &sourcePath, const QString &destinationPath, int errorNumber);

    bool m_cancelled = false;
    QString m_sourcePath;
    QString m_destinationPath;
    QString m_destinationRoot;
    std::optional<dev_t> m_destinationRootDevice;
    int m_state = Idle;
    PMFileCopyAgentDelegate *m_delegate = nullptr;
    quint64 m_totalFinished = 0;
    quint64 m_totalInProgress = 0;
    bool m_quit = false;
    int m_dataMethod = 0; // 0 copy_file_range, 1 sendfile, 2 read/write: the best that worked here
    DataMethodMemory *m_dataMethodMemory = nullptr;
    quint64 m_sourceDevice = 0;
    PMDriveCapabilities *m_driveCapabilities = nullptr;
    ParentFolder *m_parentFolder = nullptr;
    // What the running copy's destination keeps.
    PMDriveCapabilities m_kept;
};
