// The item walk of a sync job: compares every sync item on this computer with its copy on
// the drive and records a scan-result entry for each file or folder that must be copied.
// Nothing is copied here; items that exist only on the drive are left alone.
//
//   PMItemScanner scanner(context);
//   const QStringList items = scanner.itemsForJob(changedPaths);
//   for (const QString &item : items) if (!scanner.syncThreadSyncItem(item)) ...;
//
// Worker thread only.
#pragma once

#include <functional>

#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

#include <sys/stat.h>

struct PMSyncJobContext;

class PMItemScanner {
public:
    explicit PMItemScanner(PMSyncJobContext &context);

    // The items of a job: the sync list for a full job; for a continuous job the changed
    // paths, collapsed so that none lies below another and kept only when they lie inside a
    // sync item, in home-relative form.
    QStringList itemsForJob(const std::optional<QStringList> &changedPaths) const;

    // Component-aware: "/a/bc" is not below "/a/b", and "~/Music2" not below "~/Music".
    static bool isSameOrBelow(const QString &path, const QString &ancestor);
    static QStringList collapseChangedPaths(QStringList paths);

    // Compares one item (recursing into folders); false when the sync must stop.
    bool syncThreadSyncItem(const QString &item);

private:
    struct ItemPaths {
        QString item; // home-relative or absolute, as in the sync list
        QString local;
        QString drive;
        QString driveTemp;
        QString localTemp;
    };

    // What the folder walk knows of the drive's side of a child already.
    struct DriveKnowledge {
        bool known = false; // false: ask the file system
        bool exists = false;
        struct stat attributes = {};
    };

    // knownLocal: the local item's attributes when the folder walk read them already.
    bool syncItem(
        const ItemPaths &paths, bool filtered, const struct stat *knownLocal, const DriveKnowledge &knownDrive);
    // One child of a folder being walked: filtered, counted, compared.
    // nameFits is asked only for an item the filter keeps: a twin the filter leaves out never
    // takes the name from the one that is synced.
    bool syncChild(const ItemPaths &child, const struct stat *knownLocal, const DriveKnowledge &knownDrive,
        const std::function<bool()> &nameFits);
    bool compareLeaves(const QString &localPath, const QString &drivePath, const QString &driveTemp,
        const struct stat &local, const struct stat &drive);
    bool walkFolder(const ItemPaths &paths);
    // Local names of one folder already walked, by the key a drive that ignores case files them.
    using NamesSeen = QHash<QString, QString>;
    // False (logged, the job then not complete) for a child name the drive cannot be given: not
    // valid UTF-8, or equal to an earlier sibling's but for case on a drive that ignores case.
    bool acceptChildName(const QString &folder, QByteArrayView name, NamesSeen &seen);
    bool driveIgnoresCase();
    // Logs a local item or folder the walk cannot read; the job is then not complete.
    void reportUnreadable(const QString &localPath, int error);
    bool logReturn(const QString &localPath, const QString &drivePath, bool result) const;

    PMSyncJobContext &m_context;
    std::optional<bool> m_driveIgnoresCase; // asked of the drive at the first need
};
