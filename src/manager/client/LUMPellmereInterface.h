// The manager's link to the agent. On creation it installs or renews the agent's launch
// entries, starts the agent through the session bus and waits for it (bounded). It then
// mirrors, for the drive the user selected, the agent's per-drive settings as properties:
// selecting a drive (setSyncDestinationPath, also with the same path again) reads them all
// from the agent, and every later change of a property is written back with its set event:
//
//   syncPaths             insertSyncPath / removeSyncPathAt send 'SETL' with the whole list;
//                         setSyncPaths (replacing the whole list) sends nothing
//   quietMode ...         a boolean switch sends its set event only when its value changes
//   syncDeviceFilterMode  sends 'SSDF' on every set, even of the same value
//
//   LUMPellmereInterface agent;                          // launches; blocks up to 15 s
//   connect(&agent, &LUMPellmereInterface::pellmereLaunched, ...);  // delivered queued
//   agent.setSyncDestinationPath(QStringLiteral("/media/alice/Backup"));
//   agent.setSyncMusicMode(true);                        // 'SSSS' to the agent
//   agent.invokeSyncNow();
//
// While the agent is not running every command answers its default without any traffic.
// Progress of a running sync arrives separately, as the agent's notifications on the bus.
//
// Main thread: every request blocks it until the agent answers or 10 s pass (then the
// request fails and is logged).
#pragma once

#include "manager/client/LUMAgentPaths.h"
#include "manager/client/LUMAgentRequests.h"

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <optional>

class LUMPellmereInterface : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString syncDestinationPath READ syncDestinationPath WRITE setSyncDestinationPath NOTIFY
            syncDestinationPathChanged)
    Q_PROPERTY(QStringList syncPaths READ syncPaths WRITE setSyncPaths NOTIFY syncPathsChanged)
    Q_PROPERTY(bool quietMode READ quietMode WRITE setQuietMode NOTIFY quietModeChanged)
    Q_PROPERTY(
        bool continuousSyncMode READ continuousSyncMode WRITE setContinuousSyncMode NOTIFY continuousSyncModeChanged)
    Q_PROPERTY(bool syncMoviesMode READ syncMoviesMode WRITE setSyncMoviesMode NOTIFY syncMoviesModeChanged)
    Q_PROPERTY(bool syncMusicMode READ syncMusicMode WRITE setSyncMusicMode NOTIFY syncMusicModeChanged)
    Q_PROPERTY(bool syncPicturesMode READ syncPicturesMode WRITE setSyncPicturesMode NOTIFY syncPicturesModeChanged)
    Q_PROPERTY(bool syncDocumentsMode READ syncDocumentsMode WRITE setSyncDocumentsMode NOTIFY syncDocumentsModeChanged)
    Q_PROPERTY(bool syncParticipateMode READ syncParticipateMode WRITE setSyncParticipateMode NOTIFY
            syncParticipateModeChanged)
    Q_PROPERTY(int syncDeviceFilterMode READ syncDeviceFilterMode WRITE setSyncDeviceFilterMode NOTIFY
            syncDeviceFilterModeChanged)
    Q_PROPERTY(bool syncCancelled READ syncCancelled WRITE setSyncCancelled NOTIFY syncCancelledChanged)
    Q_PROPERTY(bool enableSyncNow READ enableSyncNow NOTIFY enableSyncNowChanged)
    Q_PROPERTY(QString musicToolTip READ musicToolTip NOTIFY toolTipsChanged)
    Q_PROPERTY(QString moviesToolTip READ moviesToolTip NOTIFY toolTipsChanged)
    Q_PROPERTY(QString picturesToolTip READ picturesToolTip NOTIFY toolTipsChanged)
    Q_PROPERTY(QString documentsToolTip READ documentsToolTip NOTIFY toolTipsChanged)

public:
    // Launches the agent named by `paths` on `connection` (see LUMAgentLauncher); the result
    // is pellmereIsRunning(), the reason of a failure launchFailure().
    explicit LUMPellmereInterface(const LUMAgentPaths &paths = LUMAgentPaths::standard(),
        QDBusConnection connection = QDBusConnection::sessionBus(), QObject *parent = nullptr);
    ~LUMPellmereInterface() override;

    bool pellmereIsRunning() const { return m_running; }
    QString launchFailure() const { return m_launchFailure; }

    QString syncDestinationPath() const { return m_destination; }
    QStringList syncPaths() const { return m_syncPaths; }
    bool quietMode() const { return m_quiet; }
    bool continuousSyncMode() const { return m_continuous; }
    bool syncMoviesMode() const { return m_movies; }
    bool syncMusicMode() const { return m_music; }
    bool syncPicturesMode() const { return m_pictures; }
    bool syncDocumentsMode() const { return m_documents; }
    bool syncParticipateMode() const { return m_participate; }
    int syncDeviceFilterMode() const { return m_deviceFilter; }
    bool syncCancelled() const { return m_cancelled; }

    // At least one category on, a non-empty sync list, and participation on.
    bool enableSyncNow() const;
    QString musicToolTip() const;
    QString moviesToolTip() const;
    QString picturesToolTip() const;
    QString documentsToolTip() const;

    // Selects a drive (empty: none) and reads its settings from the agent.
    void setSyncDestinationPath(const QString &path);
    // Replaces the whole list: nothing is sent.
    void setSyncPaths(const QStringList &paths);
    // Edits of the list (the window's sync-list table): the whole list is sent.
    void insertSyncPath(int index, const QString &path);
    void removeSyncPathAt(int index);
    void setQuietMode(bool value);
    void setContinuousSyncMode(bool value);
    void setSyncMoviesMode(bool value);
    void setSyncMusicMode(bool value);
    void setSyncPicturesMode(bool value);
    void setSyncDocumentsMode(bool value);
    void setSyncParticipateMode(bool value);
    void setSyncDeviceFilterMode(int value);
    void setSyncCancelled(bool value);

    // 'INFO': the per-user status of the selected drive; nothing when there is none.
    std::optional<QVariantMap> driveSyncStatus();
    // 'DOIT': starts a sync of the selected drive.
    bool invokeSyncNow();
    // Marks the sync cancelled and continuous sync off (forwarded as any change), then
    // sends 'STOP' when the agent runs.
    bool cancelSyncNow();

Q_SIGNALS:
    // The agent was found running after creation (queued, so connections made right after
    // creation receive it).
    void pellmereLaunched();
    void syncDestinationPathChanged();
    void syncPathsChanged();
    void quietModeChanged();
    void continuousSyncModeChanged();
    void syncMoviesModeChanged();
    void syncMusicModeChanged();
    void syncPicturesModeChanged();
    void syncDocumentsModeChanged();
    void syncParticipateModeChanged();
    void syncDeviceFilterModeChanged();
    void syncCancelledChanged();
    void enableSyncNowChanged();
    void toolTipsChanged();

private:
    bool launchPellmere(const LUMAgentPaths &paths, QDBusConnection connection);
    // Assigns a switch; when it changed, emits and sends its set event (agent running).
    void changeSwitch(bool &field, bool value, LUMAgentRequests::Switch which, void (LUMPellmereInterface::*changed)());
    void readDriveSettings();
    void sendSyncList();

    LUMAgentRequests m_requests;
    bool m_running = false;
    QString m_launchFailure;
    QString m_destination;
    QStringList m_syncPaths;
    bool m_quiet = false;
    bool m_continuous = false;
    bool m_movies = false;
    bool m_music = false;
    bool m_pictures = false;
    bool m_documents = false;
    bool m_participate = false;
    int m_deviceFilter = 0;
    bool m_cancelled = false;
};
