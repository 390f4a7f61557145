// `pellmere sync`: runs exactly one sync job onto a drive folder with the agent's own
// controller and engine, for people without the manager and for scripts.
//
//   pellmere sync --drive /media/alice/Stick [--item ~/Music]... [--device-filter N]
//                 [--categories music,pictures] [--dry-run [--explain] | --preview]
//
// --dry-run prints the plan as a text table (with --explain also every file the media filter
// leaves out, and why); --preview shows the plan in the desktop face's preview window before
// anything is copied (Apply goes on, Cancel ends the sync as canceled) and needs a display.
//
// Exit status: 0 the sync completed, 1 it failed or was canceled, 2 bad usage or an unusable
// drive. Progress and log lines go to standard error; the result line is the last line of
// standard output. Log lines, errors about the arguments included, also reach the agent's log
// file whichever way the command ends. Ctrl-C cancels cleanly (the temporary folder on the drive is removed).
//
// Main thread; runs its own event loop until the job has ended.
#pragma once

#include <QString>
#include <QStringList>

class PMDesktopFace;

class PMSyncCommand {
public:
    enum ExitCode { kCompleted = 0, kFailed = 1, kUsage = 2 };

    // Whether the arguments (everything after "sync") ask for the preview window, which needs
    // the desktop face loaded before the application object is made.
    static bool wantsPreview(const QStringList &arguments);
    // arguments: everything after "sync". face: the loaded desktop face for --preview, or null
    // and why there is none.
    static int run(const QStringList &arguments, PMDesktopFace *face = nullptr, const QString &noFace = {});
};
