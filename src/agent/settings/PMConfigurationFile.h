// The sync configuration stored at the root of a drive (".PellmereConfig"), shared by every
// computer and user that syncs with that drive; each computer-user's choices live under its
// identity ("<MAC>-<uid>") in the same XML property list.
//
//   PMConfigurationFile config(mountPoint, PMConfigurationFile::kSyncTypePerUser,
//                              PMHostUserIdentity::uniqueHostUserId());
//   if (!config.hasSyncConfiguration()) config.createDefaultSyncSet();
//   config.setSyncMoviesEnabledForUser(false);      // rewrites the whole file atomically
//
// The file is read once at creation. Every change is written back at once; a setter whose
// value this object already holds writes nothing, and PMConfigurationBatch gathers several
// changes into one write. Before writing, a file that another computer changed meanwhile is
// read again and this object's unwritten changes are applied on top of it, so entries others
// wrote survive our rewrite. A file that cannot be read (corrupt, too large, a directory, a
// link or anything but a regular file, a "config-version" that is not a number) is logged and
// left alone until something is explicitly written; a file that is then replaced without
// having been understood (or an old-format one replaced other than by its conversion) is
// first copied aside as ".PellmereConfig.corrupt-<UTC date-time>". Writes go to a temporary
// file that is renamed over the old one only when complete, so a full drive keeps the old
// file as it was. Nothing is written once the mount point is on another file system than
// when the object was made (the drive is gone).
//
// Threads: any. One lock guards the in-memory contents and the file, so a reader on one
// thread never sees a change of another thread half made. Calls block while a write is in
// progress (a write is one small file).
#pragma once

#include "agent/settings/PMDriveFileWriter.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class PMConfigurationBatch;

class PMConfigurationFile {
public:
    static constexpr int kSyncTypePerUser = 1; // "ptop": a sync list per computer-user
    static constexpr int kSyncTypeCopyToCopy = 2; // "ctoc": one sync list for the drive
    static constexpr int kCurrentVersion = 3;
    // No configuration of ours comes near this size; larger files are refused unread.
    static constexpr qint64 kMaxFileBytes = qint64(4) * 1024 * 1024;

    static inline const QString kFileName = QStringLiteral(".PellmereConfig");
    static inline const QString kVersionKey = QStringLiteral("config-version");
    static inline const QString kSyncTypeKey = QStringLiteral("sync-type");
    static inline const QString kPtopListKey = QStringLiteral("ptop-list");
    static inline const QString kItemsToSyncKey = QStringLiteral("items-to-sync");
    static inline const QString kUserListKey = QStringLiteral("sync-user-list");
    static inline const QString kSyncPathKey = QStringLiteral("sync-path");
    static inline const QString kParticipateKey = QStringLiteral("local-participate-in-sync");
    static inline const QString kContinuousKey = QStringLiteral("local-continuous-sync");
    static inline const QString kQuietKey = QStringLiteral("local-quiet-sync");
    static inline const QString kMoviesKey = QStringLiteral("local-sync-movies");
    static inline const QString kMusicKey = QStringLiteral("local-sync-music");
    static inline const QString kPicturesKey = QStringLiteral("local-sync-pictures");
    static inline const QString kDocumentsKey = QStringLiteral("local-sync-documents");
    static inline const QString kDeviceFilterKey = QStringLiteral("local-sync-devicefilters");
    static inline const QString kMediaDeviceTargetKey = QStringLiteral("local-sync-media-device-target");
    static inline const QString kLastSyncTimeKey = QStringLiteral("local-last-sync-time");
    static inline const QString kComputerNameKey = QStringLiteral("sync-computer-name");
    static inline const QString kOldUuidKey = QStringLiteral("tavrin-uuid");
    static inline const QString kOldItemsKey = QStringLiteral("tavrin-items-to-sync");
    static inline const QString kTrueDeleteFilePrefix = QStringLiteral(".d$f.");
    static inline const QString kTrueDeleteFolderPrefix = QStringLiteral(".d$d.");

    // Reads the file at once. userId is the computer-user this object acts for.
    PMConfigurationFile(const QString &mountPoint, int syncType, const QString &userId);
    // The same for this computer's user.
    static std::unique_ptr<PMConfigurationFile> configWithMountPoint(const QString &mountPoint, int syncType);

    QString mountPoint() const { return m_mountPoint; }
    QString configPath() const { return m_configPath; }
    QString userId() const { return m_userId; }
    int syncType() const;
    QString syncTypeKey() const;

    // Copies of the contents; nullopt when none was read or made.
    std::optional<QVariantMap> syncConfigDictionary() const;
    std::optional<QVariantMap> oldSyncConfigDictionary() const;

    // Type 1: a current-format file was read or written and it has an entry for this user.
    bool hasSyncConfiguration() const;
    // The device of the file system the drive was found on when this file was first read;
    // nullopt while the mount point did not exist.
    std::optional<dev_t> driveDevice() const;
    bool hasOldSyncFormat() const;

    std::optional<QStringList> syncItemList() const;
    // nullopt removes this user's list (type 1) or empties the drive's list (type 2).
    bool setSyncItemList(const std::optional<QStringList> &list);
    QStringList oldSyncItemList() const;
    QString configSyncType() const;
    std::optional<QStringList> configSyncUserList() const;
    // The host name, joined with this user's "sync-path" for type 1 when the user has an entry.
    QString syncTargetPath() const;

    bool addUserToList();
    bool removeUserFromList();
    bool hasUserSeenDevice() const;
    void updateComputerName();

    bool isParticipatingEnabledForUser() const;
    bool isParticipatingEnabledForUniqueHostID(const QString &userId) const;
    bool setParticipatingEnabledForUser(bool enabled);
    bool isContinuousEnabledForUser() const;
    bool isContinuousEnabledForUniqueHostID(const QString &userId) const;
    bool setContinuousEnabledForUser(bool enabled);
    bool isQuietEnabledForUser() const;
    // Quiet mode recorded as off for this user (absent counts as not asked for): the user
    // wants to see each sync's plan before it is applied.
    bool isQuietTurnedOffForUser() const;
    bool setQuietEnabledForUser(bool enabled);
    bool isSyncMoviesEnabledForUser() const;
    bool isSyncMoviesEnabledForUniqueHostID(const QString &userId) const;
    bool setSyncMoviesEnabledForUser(bool enabled);
    bool isSyncMusicEnabledForUser() const;
    bool isSyncMusicEnabledForUniqueHostID(const QString &userId) const;
    bool setSyncMusicEnabledForUser(bool enabled);
    bool isSyncPicturesEnabledForUser() const;
    bool isSyncPicturesEnabledForUniqueHostID(const QString &userId) const;
    bool setSyncPicturesEnabledForUser(bool enabled);
    bool isSyncDocumentsEnabledForUser() const;
    bool isSyncDocumentsEnabledForUniqueHostID(const QString &userId) const;
    bool setSyncDocumentsEnabledForUser(bool enabled);
    qint32 getSyncDeviceFilterForUser() const;
    qint32 getSyncDeviceFilterForUniqueHostID(const QString &userId) const;
    bool setSyncDeviceFilterForUser(qint32 filter);
    qint32 getSyncMediaDeviceTargetForUser() const;
    QDateTime lastSyncDateForUser() const;
    QDateTime lastSyncDateForUniqueHostID(const QString &userId) const;
    bool setLastSyncDateForUser(const QDateTime &date);
    QString computerNameForUniqueHostID(const QString &userId) const;

    // Whether a user of the computer (identities beginning with computerId) takes part in
    // syncing with this drive. The device is not consulted.
    bool computerWithUniqueIDHasSyncEnabledForDevice(const QString &computerId, const QString &device) const;

    bool convertOldSync();
    bool createDefaultSyncSet();
    // Writes the whole file now; inside a PMConfigurationBatch, at the batch's commit. A
    // failed write leaves the file on the drive as it was.
    bool writeConfigFile();
    // Why the last write failed, in words for the user ("Not enough free space on ..."); empty
    // when the last write succeeded or none failed yet.
    QString lastWriteError() const;
    // Deletes the file and every true-delete record on the volume. Answers YES.
    bool removeSyncConfiguration();
    // In memory only: drops every top-level entry of the computer's users.
    void removeUsersOfComputerWithUniqueID(const QString &computerId);

    // Locations of the media libraries other applications keep, when they lie outside the
    // user's Music or Pictures folder; empty otherwise.
    static QString getiTunesMusicLibraryPath();
    static QString getiPhotoLibraryPath();
    static QString getPhotoBoothLibraryPath();

private:
    friend class PMConfigurationBatch;
    using Change = std::function<void(QVariantMap &)>;
    enum class ReadResult { Loaded, Missing, Refused };
    enum class RawRead { Read, Missing, Directory, Unreadable };
    enum class Format { Current, Old, NotUnderstood };

    void initializeConfigurationFileLocked();
    // The bytes of the file when it is a regular file of acceptable size; never follows a link.
    RawRead readRawLocked(QByteArray *data) const;
    static Format formatOf(const QVariantMap &contents);
    ReadResult readFileLocked(QVariantMap *contents, QByteArray *bytes, bool logFailures) const;
    static QVariantMap internalConfiguration(int syncType);
    // Answers whether the change altered the contents.
    bool applyLocked(const Change &change);
    bool applyAndWriteLocked(Change change);
    // Writes when the contents differ from the file as we last read or wrote it; inside a
    // batch leaves that to the batch's end.
    bool writeIfNeededLocked();
    bool writeConfigFileLocked();
    void beginDeferredWritesLocked();
    bool endDeferredWritesLocked();
    // Whether the mount point is still on the file system it was on when this object was
    // made (device number of the folder).
    bool driveStillMountedLocked();
    static std::optional<quint64> deviceOfPath(const QString &path);
    // The device the drive was found on, for the writes that must land on it alone.
    std::optional<dev_t> driveDeviceLocked() const;
    // Copies a file we cannot interpret aside before it is replaced; false when that failed.
    bool keepUnreadableFileLocked();
    void reportWriteFailureLocked(const PMDriveFileWriter::Outcome &outcome, const QString &path);
    QString driveName() const;
    void rebaseOnFileLocked();
    bool hasSyncConfigurationLocked() const;
    std::optional<QStringList> syncItemListLocked() const;
    QVariantMap userSettingsLocked(const QString &userId) const;
    bool userBool(const QString &userId, const QString &key, bool fallback) const;
    qint32 userInt(const QString &userId, const QString &key) const;
    bool setUserValue(const QString &key, const QVariant &value);
    void debugLog(const QString &text) const;

    const QString m_mountPoint;
    const QString m_configPath;
    const QString m_userId;
    const bool m_debugLog;

    mutable std::recursive_mutex m_configLock; // guards every field below
    int m_syncType;
    std::optional<QVariantMap> m_config;
    std::optional<QVariantMap> m_oldConfig;
    bool m_hasSyncConfiguration = false;
    bool m_hasOldSyncFormat = false;
    // The file as we last read or wrote it; a different file at write time was changed by
    // someone else and is taken as the base for our unwritten changes.
    QByteArray m_knownFileBytes;
    std::vector<Change> m_unwrittenChanges;
    bool m_changesLost = false;
    // The contents are those of the file as we last read or wrote it: nothing to write.
    bool m_inSyncWithFile = false;
    int m_deferDepth = 0; // open batches
    bool m_deferredWriteRequested = false; // writeConfigFile() was called inside a batch
    std::optional<quint64> m_driveDevice;
    bool m_convertingOldFormat = false; // the old file is being replaced by its conversion
    QString m_lastWriteError;
};
