// The Pellmere agent. `pellmere sync ...` runs one sync from the command line; without a
// command it reports its version and where it keeps its log and preferences (the background
// service comes with the drive-arrival work).
#include "agent/app/PMSyncCommand.h"
#include "agent/log/PMAgentLog.h"
#include "platform/PlatformPaths.h"
#include "platform/SystemLog.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

int showInfo()
{
    PMAgentLog::setupLog();
    const bool flushed = PMAgentLog::flushLog();
    QTextStream out(stdout);
    out << "Pellmere agent " << PELLMERE_VERSION << "\n"
        << "  log:         " << platform::PlatformPaths::agentLogPath() << "\n"
        << "  preferences: " << platform::PlatformPaths::preferencesDirectory() << "\n"
        << "Commands:\n"
        << "  pellmere sync --drive DIR [--item PATH]... [--device-filter N] [--categories LIST] [--dry-run]\n";
    return flushed ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pellmere"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELLMERE_VERSION));
    platform::SystemLog::install(QStringLiteral("pellmere"));

    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (!arguments.isEmpty() && arguments.first() == QLatin1String("sync"))
        return PMSyncCommand::run(arguments.mid(1));
    if (!arguments.isEmpty()
        && (arguments.first() == QLatin1String("--version") || arguments.first() == QLatin1String("-v"))) {
        QTextStream(stdout) << "pellmere " << PELLMERE_VERSION << "\n";
        return 0;
    }
    if (!arguments.isEmpty() && arguments.first() != QLatin1String("--help")
        && arguments.first() != QLatin1String("-h")) {
        QTextStream(stderr) << "pellmere: unknown command \"" << arguments.first() << "\"\n";
        return 2;
    }
    return showInfo();
}
