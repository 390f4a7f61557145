// The Pellmere agent: `pellmere` runs the background agent; `pellmere sync ...` runs one
// sync from the command line.
#include "agent/app/PMAgentLauncher.h"
#include "agent/app/PMDesktopFace.h"
#include "agent/app/PMDesktopFaceLoader.h"
#include "agent/app/PMSyncCommand.h"
#include "platform/SystemLog.h"

#include <QCoreApplication>
#include <QProcessEnvironment>

#include <cstring>
#include <memory>

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "sync") == 0) {
        QStringList arguments;
        for (int i = 2; i < argc; ++i)
            arguments.append(QString::fromLocal8Bit(argv[i]));
        // Only a sync that shows its plan in a window loads the desktop face, before Qt starts.
        std::unique_ptr<PMDesktopFace> face;
        QString noFace;
        if (PMSyncCommand::wantsPreview(arguments)) {
            if (PMDesktopFaceLoader::hasDisplay(QProcessEnvironment::systemEnvironment()))
                face = PMDesktopFaceLoader::load(PMDesktopFaceLoader::pluginPath(), &noFace);
            else
                noFace = QStringLiteral("none is set");
        }
        std::unique_ptr<QCoreApplication> app
            = face ? face->createApplication(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("pellmere"));
        QCoreApplication::setApplicationVersion(QStringLiteral(PELLMERE_VERSION));
        platform::SystemLog::install(QStringLiteral("pellmere"));
        const int status = PMSyncCommand::run(QCoreApplication::arguments().mid(2), face.get(), noFace);
        if (face)
            face->stop();
        face.reset();
        return status;
    }
    return PMAgentLauncher::run(argc, argv);
}
