// `pellmere sync`: runs exactly one sync job onto a drive folder with the agent's own
// controller and engine, for people without the manager and for scripts.
//
//   pellmere sync --drive /media/alice/Stick [--item ~/Music]... [--device-filter N]
//                 [--categories music,pictures] [--dry-run]
//
// Exit status: 0 the sync completed, 1 it failed or was canceled, 2 bad usage or an unusable
// drive. Progress and log lines go to standard error; the result line is the last line of
// standard output. Log lines, errors about the arguments included, also reach the agent's log
// file whichever way the command ends. Ctrl-C cancels cleanly (the temporary folder on the drive is removed).
//
// Main thread; runs its own event loop until the job has ended.
#pragma once

#include <QStringList>

class PMSyncCommand {
public:
    enum ExitCode { kCompleted = 0, kFailed = 1, kUsage = 2 };

    // arguments: everything after "sync".
    static int run(const QStringList &arguments);
};
