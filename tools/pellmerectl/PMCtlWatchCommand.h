// `pellmerectl watch`: listens to the agent's sync-in-progress notifications and shows one
// progress line per drive, redrawn in place on a terminal, or one plain line per update
// otherwise. Runs until Ctrl-C (SIGINT or SIGTERM), or with `once` until the first record
// of a finished job (activity 6 completed, 5 failed or stopped).
//
//   PMCtlWatchCommand watch(QDBusConnection::sessionBus(), stdout, stderr);
//   watch.setOnce(true);
//   return watch.run();   // 0, or 1 when the job that ended with --once had failed
//
// Lives on the main thread and runs a local event loop in run(); notifications and signals
// arrive through it.
#pragma once

#include "tools/pellmerectl/PMCtlProgressRenderer.h"

#include <QDBusConnection>
#include <QEventLoop>
#include <QObject>
#include <QVariantMap>

#include <cstdio>

namespace pmctl {

class PMCtlWatchCommand : public QObject {
    Q_OBJECT

public:
    PMCtlWatchCommand(QDBusConnection connection, FILE *out, FILE *err, QObject *parent = nullptr);

    void setOnce(bool once) { m_once = once; }
    // Only records of this drive (its mount path) are shown; empty: every drive.
    void setDrive(const QString &drive) { m_drive = drive; }
    // Bars redrawn in place (a terminal) or plain lines; decided from the output by default.
    void setTerminal(bool terminal) { m_terminal = terminal; }

    int run();

private:
    void onPosted(const QVariantMap &record);
    void redraw();
    void finish(int exitCode);

    QDBusConnection m_connection;
    FILE *m_out;
    FILE *m_err;
    bool m_once = false;
    bool m_terminal = false;
    QString m_drive;
    PMCtlProgressRenderer m_renderer;
    int m_linesDrawn = 0;
    QEventLoop m_loop;
};

} // namespace pmctl
