// Shows a sync's progress on a terminal: a progress bar (bytes done of the total and the file
// being copied) rewritten in place on a terminal, or a plain line per phase otherwise. It is
// the owner of the command line's sync controller and so also learns when the job ended.
//
// Threads: the controller calls sendActivityNotification() on its worker; drawing happens on
// the main thread (queued). Output goes to standard error, so standard output keeps only the
// result for scripts.
#pragma once

#include "agent/sync/PMSyncControllerOwner.h"

#include <QObject>
#include <QVariantMap>

#include <atomic>
#include <cstdio>

class PMTerminalProgress : public QObject, public PMSyncControllerOwner {
    Q_OBJECT

public:
    explicit PMTerminalProgress(FILE *out = stderr, QObject *parent = nullptr);

    void sendActivityNotification(bool forced, const QVariantMap &progress) override;
    void addContinuousSyncItems(const QStringList &paths) override;
    void showLog() override;

    // The last activity type seen in a forced notification (6 completed, 5 failed).
    int lastActivity() const { return m_lastActivity.load(); }
    // The line drawn for a progress record on a terminal of the given width.
    static QString barLine(const QVariantMap &progress, int width);

    // Ends the bar's line so that other output starts on a fresh line.
    void finishLine();

Q_SIGNALS:
    // A forced notification reached the main thread (after it was drawn).
    void forcedActivityShown(int activity);

private:
    void draw(const QVariantMap &progress, bool forced);

    FILE *m_out;
    bool m_terminal;
    bool m_lineOpen = false;
    int m_lastDrawnActivity = -1;
    std::atomic<int> m_lastActivity { -1 };
};
