// corvane-pellmere, the manager. Its window is still to come; what runs today is the command
// line: --help, --version, --list-volumes (the drives Pellmere can sync to, one per line:
// name, mount path, file system and capacity, separated by tabs) and --start-agent (install
// the agent's launch entries for this user and start it, as the window will on opening).
#include "manager/client/LUMPellmereInterface.h"
#include "manager/log/LUMFileLog.h"
#include "manager/volumes/LUMVolumeBase.h"
#include "manager/volumes/LUMVolumeMonitor.h"
#include "netstorage/FSNamesAndTags.h"
#include "platform/VolumeDescription.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

namespace {

int listVolumes()
{
    const std::unique_ptr<platform::VolumeDescriber> describer = platform::VolumeDescriber::create();
    LUMVolumeMonitor monitor(*describer, FSNamesAndTags::sharedManager());
    // Watching is not needed for one listing; start() lists what is mounted now either way.
    (void)monitor.start();
    QTextStream out(stdout);
    for (const std::shared_ptr<LUMVolumeBase> &volume : monitor.volumes()) {
        out << volume->volumeName() << '\t' << volume->volumePathName() << '\t' << volume->fsName() << '\t'
            << volume->capacityString() << '\n';
    }
    return 0;
}

int startAgent()
{
    const LUMPellmereInterface agent;
    if (!agent.pellmereIsRunning()) {
        QTextStream(stderr) << QCoreApplication::translate(
            "main", "corvane-pellmere: cannot start the Pellmere agent: %1")
                                   .arg(agent.launchFailure())
                            << '\n';
        return 1;
    }
    QTextStream(stdout) << QCoreApplication::translate("main", "The Pellmere agent is running.") << '\n';
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-pellmere"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELLMERE_VERSION));
    LUMFileLog::installMessageHandler();

    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "main", "Chooses what Pellmere copies onto your drives and shows how the copying goes."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption listOption(QStringLiteral("list-volumes"),
        QCoreApplication::translate("main",
            "Print the drives Pellmere can sync to, one per line (name, mount path, file system, capacity, "
            "separated by tabs), then exit."));
    parser.addOption(listOption);
    const QCommandLineOption startOption(QStringLiteral("start-agent"),
        QCoreApplication::translate("main",
            "Install the Pellmere agent's launch entries for this user if needed, start the agent and "
            "wait until it runs, then exit."));
    parser.addOption(startOption);
    parser.process(app);

    if (parser.isSet(listOption))
        return listVolumes();
    if (parser.isSet(startOption))
        return startAgent();

    QTextStream(stderr) << QCoreApplication::translate("main",
        "corvane-pellmere: the manager's window is not built yet. Use --list-volumes to see "
        "the drives, --start-agent to start the agent, or pellmerectl to control it.")
                        << '\n';
    return 1;
}
