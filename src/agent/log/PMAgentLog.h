// The agent's two kinds of message, for every module of the agent:
//
//   PMAgentLog::logMessage("Sync of \"Drive\" completed successfully.");  // always written
//   PMAgentLog::debugMessage("scan: " + path);  // only while the "debug" default is YES
//
// Lines are time-stamped and kept in the shared log controller; flushLog() writes the log
// file. setupLog() configures the shared controller for the agent at launch. Any thread.
#pragma once

#include <QString>

class PMAgentLog {
public:
    static inline const QString kSeparatorLine = QStringLiteral("----------------------------------------------------");

    // Points the shared log at the agent's log file, reads it (pruning an oversized one) and
    // logs the separator, "Pellmere starting." and "Pellmere v<version>".
    static void setupLog();
    // The same for an explicit file (tests, the one-shot command line).
    static void setupLog(const QString &logFilePath);

    static void logMessage(const QString &text);
    static void debugMessage(const QString &text);
    static bool isDebugEnabled();
    // Debug messages for the rest of this run whatever the "debug" default says (the
    // agent's --debug); the stored default is left as the user set it.
    static void enableDebugForThisRun();
    static bool flushLog();
};
