// The Pellmere agent: `pellmere` runs the background agent; `pellmere sync ...` runs one
// sync from the command line.
#include "agent/app/PMAgentLauncher.h"
#include "agent/app/PMSyncCommand.h"
#include "platform/SystemLog.h"

#include <QCoreApplication>

#include <cstring>

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "sync") == 0) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("pellmere"));
        QCoreApplication::setApplicationVersion(QStringLiteral(PELLMERE_VERSION));
        platform::SystemLog::install(QStringLiteral("pellmere"));
        return PMSyncCommand::run(QCoreApplication::arguments().mid(2));
    }
    return PMAgentLauncher::run(argc, argv);
}
