// What the control protocol can ask of the agent for one drive, named by its mount path:
// validity, the settings with their defaults for drives the agent has no controller for,
// the sync list, starting, canceling and removing a drive's sync, and the status of its users.
// Also keeps the media lists chosen by the last settings change and the validator built
// from them.
//
//   PMDriveOperations &drives = app.driveOperations();
//   if (drives.isDriveValidForSync(path, true)) drives.setSyncList(items, path);
//
// Main thread.
#pragma once

#include "agent/media/PMFileValidator.h"
#include "agent/media/PMMediaExtensionLists.h"

#include <QDateTime>
#include <QStringList>
#include <QVariantMap>

#include <optional>

class PMApplicationController;
class PMSyncController;

class PMDriveOperations {
public:
    explicit PMDriveOperations(PMApplicationController &app);

    bool isDriveValidForSync(const QString &mountPath, bool suppressAlerts);
    bool isDriveSetupForSync(const QString &mountPath) const;

    // Getters answer these without a controller: movies, music, pictures YES; documents,
    // continuous, participate, quiet NO; filter 0; no list.
    bool getContinuousSyncStateForDrive(const QString &mountPath) const;
    bool syncMoviesStateForDrive(const QString &mountPath) const;
    bool syncMusicStateForDrive(const QString &mountPath) const;
    bool syncPicturesStateForDrive(const QString &mountPath) const;
    bool syncDocumentsStateForDrive(const QString &mountPath) const;
    qint32 syncDeviceFilterForDrive(const QString &mountPath) const;
    bool getParticipateSyncStateForDrive(const QString &mountPath) const;
    bool getQuietSyncStateForDrive(const QString &mountPath) const;
    std::optional<QStringList> getSyncListForDrive(const QString &mountPath) const;

    // Setters do nothing without a controller; each answers whether there was one.
    bool setContinuousSyncState(bool enabled, const QString &mountPath);
    bool setSyncMoviesState(bool enabled, const QString &mountPath);
    bool setSyncMusicState(bool enabled, const QString &mountPath);
    bool setSyncPicturesState(bool enabled, const QString &mountPath);
    bool setSyncDocumentsState(bool enabled, const QString &mountPath);
    bool setSyncDeviceFilter(qint32 filter, const QString &mountPath);
    bool setParticipateSyncState(bool enabled, const QString &mountPath);
    bool setQuietSyncState(bool enabled, const QString &mountPath);

    void setSyncList(const QStringList &paths, const QString &mountPath);
    enum class StartOutcome { Started, UnknownDrive, Busy };
    // A sync that cannot start is said so to the caller as well as shown: a request answered
    // without error would be taken for a sync under way.
    StartOutcome startSyncForDriveAt(const QString &mountPath);
    // Opening files with the agent: each path's drive (the connected drive whose mount point
    // holds it, the deepest when drives are nested) starts a sync as if asked for by hand, once
    // however many of its paths are given. Answers the paths no connected drive holds.
    QStringList openPaths(const QStringList &paths);
    // The mount point of the connected drive holding path (links resolved), or empty.
    QString mountPointHoldingPath(const QString &path) const;
    void cancelSyncForDriveAt(const QString &mountPath);
    bool removeDriveSync(const QString &mountPath);
    // The per-user status of the drive, keyed by user identity; nothing without a
    // controller or without users.
    std::optional<QVariantMap> statusForDrive(const QString &mountPath) const;

    // The media list of one kind for the drive's device class (empty when switched off).
    void updateSyncMoviesSettingsForDrive(const QString &mountPath);
    void updateSyncMusicSettingsForDrive(const QString &mountPath);
    void updateSyncPicturesSettingsForDrive(const QString &mountPath);
    void updateSyncDocumentsSettingsForDrive(const QString &mountPath);
    // Rebuilds the validator from the current lists.
    void updateFileValidator();
    const PMFileValidator &fileValidator() const { return m_fileValidator; }

private:
    PMSyncController *controller(const QString &mountPath) const;
    void updateCategory(PMMediaCategory category, const QString &mountPath);
    bool setCategoryState(PMMediaCategory category, bool enabled, const QString &mountPath);
    // Re-reads the watch list and, when the drive syncs continuously for this user as chosen
    // on this computer (with newList as its list), syncs.
    void syncIfContinuous(PMSyncController &controller, const QString &mountPath, const QStringList &newList);

    PMApplicationController &m_app;
    PMMediaExtensionLists m_extensionLists;
    PMFileValidator m_fileValidator;
};
