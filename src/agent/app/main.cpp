// The Pellmere agent. Until the background service lands, it reports its version and where
// it keeps its log and preferences.
#include "agent/log/PMAgentLog.h"
#include "platform/PlatformPaths.h"
#include "platform/SystemLog.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pellmere"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELLMERE_VERSION));
    platform::SystemLog::install(QStringLiteral("pellmere"));

    PMAgentLog::setupLog();
    const bool flushed = PMAgentLog::flushLog();

    QTextStream out(stdout);
    out << "Pellmere agent " << PELLMERE_VERSION << "\n"
        << "  log:         " << platform::PlatformPaths::agentLogPath() << "\n"
        << "  preferences: " << platform::PlatformPaths::preferencesDirectory() << "\n";
    return flushed ? 0 : 1;
}
