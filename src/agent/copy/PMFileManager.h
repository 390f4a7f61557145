// The copy engine's file operations: copy, move, create folders and files on a drive, and
// measure the allocated size of an item quickly.
//
//   PMFileManager fileManager(&validatorAdapter);  // the filter may be nullptr: copy everything
//   if (!fileManager.copyPath(localPath, drivePath, true, &reporter)) ...
//   const quint64 bytes = PMFileManager::fastPathSize(localPath);
//
// Every outcome is told to the handler (and through handler->delegate() to the progress
// owner); failures are a false result plus a log line, never an exception. Links are never
// followed: a link is copied as a link with the same text, and no walk leaves a folder
// through one. All operations are synchronous and run on the calling thread; one instance
// may be used by one thread at a time (the drive's worker), several instances concurrently.
#pragma once

#include "agent/copy/PMFileCopyAgent.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QVariantMap>

#include <optional>

#include <sys/stat.h>

class PMCopyHandler;
class PMCopyItemFilter;

class PMFileManager {
public:
    // Attribute key of createDirectoryAtPath / createFileAtPath: the permission bits (int).
    static inline const QString kPosixPermissionsKey = QStringLiteral("posixPermissions");

    explicit PMFileManager(const PMCopyItemFilter *filter = nullptr);

    const PMCopyItemFilter *filter() const { return m_filter; }
    void setFilter(const PMCopyItemFilter *filter) { m_filter = filter; }
    // The drive's mount point. Folders created and items moved on the drive (the "Tavrin"
    // flags) below it are reached without following any link: a link the drive holds where a
    // folder is needed fails the operation with a log line naming it. Empty: no such checks.
    void setDriveRoot(const QString &root)
    {
        m_driveRoot = root;
        m_driveCapabilities = PMDriveCapabilities();
        m_driveIsFAT.reset();
    }
    // The device the drive root lies on: once the root is another file system (the drive
    // went away and left its bare mount point folder), nothing is created, copied or moved
    // below it. nullopt: not checked.
    void setDriveDevice(std::optional<dev_t> device)
    {
        m_driveDevice = device;
        m_driveCapabilities = PMDriveCapabilities();
        m_driveIsFAT.reset();
    }

    // Copies a file, package, link or folder tree onto destination; merges into an existing
    // folder. False when anything was not copied.
    [[nodiscard]] bool copyPath(
        const QString &source, const QString &destination, bool copyingToTavrin, PMCopyHandler *handler);
    // Moves source onto destination, replacing a file or package there and merging folders.
    [[nodiscard]] bool movePath(
        const QString &source, const QString &destination, bool movingToTavrin, PMCopyHandler *handler);
    // Creates path (and with recurse its missing parents); an existing folder is success.
    [[nodiscard]] bool createDirectoryAtPath(
        const QString &path, const QVariantMap &attributes, bool recurse, bool creatingOnTavrin);
    [[nodiscard]] bool createFileAtPath(const QString &path, const QByteArray &contents, const QVariantMap &attributes,
        bool createPathElements, bool creatingOnTavrin);

    // Allocated size: a regular file's length rounded up to a multiple of 512, a folder the
    // sum over its whole tree (hidden entries included); links, special files and paths that
    // cannot be examined count 0.
    static quint64 fastPathSize(const QString &path);
    // fastPathSize of a file, link or special file from attributes already read (lstat).
    static quint64 fastItemSize(const struct stat &item);
    static quint64 fastFolderSizeAtPath(const QString &path);

    // Whether the filter lets the item onto the drive (always true without a filter).
    bool shouldCopyItem(const QString &path, bool limitTo4G) const;
    bool shouldCopyItem(const QString &path, const QString &baseName, bool limitTo4G) const;

    // Sets or clears the immutable flag; false where the file system or the caller's
    // privileges do not allow it.
    static bool changeLockAtFileAtPath(const QString &path, bool locked);
    // Whether the item carries the immutable flag (false for links and when unreadable).
    static bool isLockedAtPath(const QString &path);

    // The backup-date hook: records nothing, and every path answers the 1904 epoch, which
    // the sync engine reads as "no backup date".
    void setSyncBackupDateTo(const QDateTime &date, const QString &path);
    QDateTime syncBackupDateFor(const QString &path) const;

    // Guarded forwarding to handler->delegate(): nothing happens when either is missing or
    // the delegate does not respond.
    static void setFileCopyPath(const QString &path, PMCopyHandler *handler);
    static void accumulateCopiedData(quint64 bytes, PMCopyHandler *handler);
    static void accumulateSkipFilteredData(quint64 bytes, PMCopyHandler *handler);
    static void resetPartiallyCopiedDataHandler(PMCopyHandler *handler);

    // The path itself or the nearest folder above it that exists; empty when none does.
    static QString nearestExistingPath(const QString &path);

private:
    struct ItemKind;
    // What a folder copy already knows of a child, so nothing is examined twice.
    struct ChildFacts {
        const ItemKind *source = nullptr; // the source as the parent examined it
        bool filtered = false; // the filter let the source through already
        bool destinationMissing = false; // the parent folder was made empty by this copy
    };

    static ItemKind itemKindAtPath(const QString &path);
    bool shouldCopyExamined(const QString &path, bool limitTo4G, const ItemKind &kind) const;
    // Whether files copied to destination must stay below 4 GiB (a FAT file system).
    bool destinationLimitedTo4G(const QString &destination);
    // copyPath below its first level: the drive's limit is known, a quit is remembered.
    bool copyTree(const QString &source, const QString &destination, bool limitTo4G, bool copyingToTavrin,
        PMCopyHandler *handler, const ChildFacts &facts);
    // Filters (unless filtered) and copies a file, package or link whose parent folder exists.
    bool copyOneItem(const QString &source, const QString &destination, bool limitTo4G, const ItemKind &sourceKind,
        bool filtered, bool copyingToTavrin, PMCopyHandler *handler);
    bool copyFolderChildren(const QString &source, const QString &destination, bool limitTo4G, bool copyingToTavrin,
        PMCopyHandler *handler, bool destinationIsNew);
    bool mergeChildren(const QString &source, const QString &destination, bool limitTo4G, bool copyingToTavrin,
        PMCopyHandler *handler);
    bool subtreeHasCopyableItem(const QString &folder, bool limitTo4G) const;
    // Whether the child source may be copied to destination; false (logged) when an earlier
    // sibling copied already took its name on the drive, as names that differ only in case do
    // on a drive that ignores case.
    static bool isNewName(const QString &source, const QString &destination, QHash<QString, QString> &copiedNames);
    // isLockedAtPath, without asking a drive that is known to hold no flags.
    bool isLockedItem(const QString &path) const;
    bool moveInto(const QString &source, const QString &destination, bool movingToTavrin, PMCopyHandler *handler);
    bool replaceByMove(const QString &source, const QString &destination, bool aFolderIsInvolved,
        bool destinationLocked, bool movingToTavrin, PMCopyHandler *handler);
    static bool createOneDirectory(const QString &path, const QVariantMap &attributes);
    // path relative to the drive root, or a null string when path is not below it.
    QString driveRelative(const QString &path) const;
    bool createDriveDirectory(const QString &relative, const QVariantMap &attributes, bool recurse);
    // False (and logged) when a link on the drive sits where a move needs a folder.
    bool moveStaysOnDrive(const QString &source, const QString &destination, bool sourceIsFolder) const;
    static bool writeWholeFile(const QString &path, const QByteArray &contents, const QVariantMap &attributes);
    static void relock(const QString &path);
    static std::optional<bool> askIsADirectory(
        const QString &source, const QString &destination, PMCopyHandler *handler);

    const PMCopyItemFilter *m_filter = nullptr;
    QString m_driveRoot;
    std::optional<dev_t> m_driveDevice;
    // Set when the handler quit (or a cancel stopped a data copy) during the running copyPath.
    bool m_copyStopped = false;
    PMFileCopyAgent::DataMethodMemory m_dataMethods;
    // What the drive below m_driveRoot keeps; learnt by the first copy onto it.
    PMDriveCapabilities m_driveCapabilities;
    // Whether the drive below m_driveRoot is FAT (its files end at 4 GiB); asked once, as the
    // answer for a FUSE drive takes the mount table and a probe of the device.
    std::optional<bool> m_driveIsFAT;
    // The drive folder the last file went into, during one copyPath only: nothing else on
    // the drive is moved or removed meanwhile, except by the steps that clear it.
    PMFileCopyAgent::ParentFolder m_parentFolder;
};
