// Starts the agent as a background program: `pellmere` with no command.
//
//   pellmere [--foreground] [--debug]     runs the agent
//   pellmere --show-log                   the running agent shows its log window
//   pellmere --open PATH...               the running agent syncs the drives holding PATHs
//   pellmere --help | --version
//
// Started from a terminal without --foreground, the agent detaches (new session, standard
// streams on /dev/null) and the command returns once the agent is running, or with the
// reason it could not start (a second agent, for one). Started by a session manager or by
// D-Bus activation (no terminal), or with --foreground, it runs in place and logs to
// standard error as well. SIGTERM and SIGINT end it cleanly, a running sync canceled first.
//
// Called from main() before any QCoreApplication exists (detaching forks).
#pragma once

#include <QStringList>

class PMAgentLauncher {
public:
    enum ExitCode { kStopped = 0, kFailed = 1, kUsage = 2 };

    // arguments: the command line without the program name.
    static int run(int argc, char **argv);
    static QString usage();
};
