// What the window shows about the agent's activity, worked out from the agent's
// notifications ("com.corvane.pellmere.syncInProgress.notification.evt"): the activity and
// failure types, the drive the activity is about, the progress of a running sync and which
// section of the activity box is showing.
//
//   type  agent meaning                 idle  box   section
//   0     idle                          yes   no    none
//   1     sync preparing                no    yes   none
//   2, 3  running or queued; finishing  no    yes   progress
//   4     settings job                  no    no    none
//   5     failed, cancelled, drive gone yes   yes   failure
//   6     completed                     yes   yes   success
//
// A watchdog guards against an agent that stops talking: a notification without user
// information, or one that neither changes the activity type nor names a drive, (re)arms a
// one-shot timer (30 s); progress reports leave it alone. When it fires while the activity is
// not idle the window shows the failure "ContactLostError".
//
// The drive selected in the window and the user's stop request live in the agent client,
// which this reads and, for the stop request, writes.
//
// Main thread.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>

#include <chrono>

class LUMPellmereInterface;

class LUMActivityState : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kWatchdogInterval { 30000 };
    // The progress bar's range: the fraction done in thousandths.
    static constexpr int kBarMaximum = 1000;

    enum class Section { None, Progress, Success, Failure };
    Q_ENUM(Section)

    explicit LUMActivityState(LUMPellmereInterface &client, QObject *parent = nullptr);

    void setWatchdogInterval(std::chrono::milliseconds interval) { m_watchdog.setInterval(interval); }
    bool isWatchdogArmed() const { return m_watchdog.isActive(); }

    int activityType() const { return m_activityType; }
    int failureType() const { return m_failureType; }
    bool syncIsBusy() const { return m_syncIsBusy; }
    QString activePath() const { return m_activePath; }
    QString currentSourcePath() const { return m_currentSourcePath; }
    int syncActivityCount() const { return m_syncActivityCount; }
    quint64 lastExcludedSize() const { return m_lastExcluded; }
    quint64 lastPreviouslyCopied() const { return m_lastPreviouslyCopied; }
    quint64 lastCurrentlyCopied() const { return m_lastCopied; }
    quint64 lastTotal() const { return m_lastTotal; }
    // Bytes dealt with (skipped by the filter, already present, copied), at most the total.
    quint64 processed() const { return m_processed; }

    bool isIdle() const;
    bool activityBoxVisible() const;
    Section section() const { return m_section; }
    // 0..kBarMaximum; determinate once a report with a non-zero total came.
    int barValue() const { return m_barValue; }
    bool barDeterminate() const { return m_barDeterminate; }
    bool barAnimating() const { return m_section == Section::Progress; }

    QString boxTitle() const;
    QString progressText() const;
    QString progressLegendToolTip() const;
    QString successText() const;
    // "SyncSourceError", "SyncDestError", "ContactLostError", "ConnectionLostError",
    // "CancelError", else "SyncUnknownError".
    static QString failureReasonKey(int failureType);
    static QString failureReasonText(int failureType);
    QString failureText() const;
    // The drive's name, and " — <file>" while a file is being copied.
    QString activeVolume() const;

    bool currentSyncInactive() const;
    bool syncNowActiveEnable() const;
    bool syncNowState() const;
    bool configEnabled() const;

    void setActivityType(int type);
    void setActivePath(const QString &path);

public Q_SLOTS:
    // Every notification of the agent, with its user information (empty when it had none).
    void updateActivity(const QVariantMap &userInfo);
    // No drive selected: nothing is going on.
    void reset();

Q_SIGNALS:
    // Any of the values above may have changed.
    void changed();
    // The sync-now button should take syncNowState().
    void buttonStateShouldUpdate();
    // One copy-picture cycle for this file (empty: none).
    void copyCycle(const QString &sourcePath);

private:
    void armWatchdog();
    void watchdogFired();
    void updateProgress(const QVariantMap &userInfo);
    void showSection(Section section);
    bool pathsEqual() const;
    static bool isRunningType(int type) { return type >= 1 && type <= 3; }

    LUMPellmereInterface &m_client;
    QTimer m_watchdog;
    int m_activityType = 0;
    int m_failureType = 0;
    bool m_syncIsBusy = false;
    QString m_activePath;
    QString m_currentSourcePath;
    int m_syncActivityCount = 0;
    quint64 m_lastExcluded = 0;
    quint64 m_lastPreviouslyCopied = 0;
    quint64 m_lastCopied = 0;
    quint64 m_lastTotal = 0;
    quint64 m_processed = 0;
    Section m_section = Section::None;
    int m_barValue = 0;
    bool m_barDeterminate = false;
};
