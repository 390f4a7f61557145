// Where a computer-user's copies live on a drive, and where a job keeps its temporary copies.
//
// For a drive mounted at M, a computer named C and a user U:
//   ~/Music/a.mp3               -> M/U_C/Music/a.mp3
//   /media/alice/Photos/2010    -> M/Photos_C/2010      (an item on another volume)
//   /srv/shared/x               -> M/srv/shared/x       (any other absolute path)
//   drive temporary folder      -> M/U_C/.Z_PM_W/<computer-user id>
//   local temporary folder      -> ~/.Z_PM_W/<volume UUID>
//
// The layout is shared with other computers that sync to the same drive, so these forms are
// fixed. A sync item whose drive path would leave the drive (".." components, or a folder on
// the drive that is a symbolic link) has no drive path at all.
//
// Immutable after construction; any thread.
#pragma once

#include <QString>

#include <optional>

class PMDriveLayout {
public:
    static inline const QString kTempFolderName = QStringLiteral(".Z_PM_W");

    struct Identity {
        QString userShortName; // U
        QString computerName; // C
        QString uniqueHostUserId; // the computer-user id on drives
        QString volumeUUID; // names the local temporary folder
        QString homeDirectory; // expands "~"
    };

    PMDriveLayout(QString mountPoint, Identity identity);
    // This computer and user (machine name, login name, home, drive identity).
    static PMDriveLayout forCurrentUser(
        const QString &mountPoint, const QString &uniqueHostUserId, const QString &volumeUUID);

    QString pathForTavrinTarget() const { return m_mountPoint; }
    QString pathSegmentFromSyncItem(const QString &item) const;
    QString pathForTavrinTemp() const;
    QString pathForLocalTemp() const;
    QString pathForScanResults() const;
    // The temporary folders relative to the drive's mount point and to the home folder.
    QString relativeTavrinTemp() const;
    QString relativeLocalTemp() const;

    // "~" expanded, otherwise "/" joined with the item.
    QString localPathForSyncItem(const QString &item) const;
    // The item's home-relative form ("~/..."), or the path unchanged outside the home.
    QString syncItemForLocalPath(const QString &localPath) const;

    // base joined with the item's segment, or nullopt when that path would not stay below
    // base: ".." or "." components, or (for paths on the drive) a symbolic link on the way.
    std::optional<QString> drivePathForSyncItem(const QString &item) const;
    std::optional<QString> driveTempPathForSyncItem(const QString &item) const;
    std::optional<QString> localTempPathForSyncItem(const QString &item) const;

    // Whether path, below base, passes through no symbolic link and no ".." and is no link
    // itself (components that do not exist yet are fine).
    static bool staysInside(const QString &base, const QString &path);

    const Identity &identity() const { return m_identity; }

private:
    std::optional<QString> joinChecked(const QString &base, const QString &segment, bool checkLinks) const;

    QString m_mountPoint;
    Identity m_identity;
};
