// corvane-pellmere, the manager. Started without options it opens its window; the command
// line also answers --help, --version, --list-volumes (the drives Pellmere can sync to, one
// per line: name, mount path, file system and capacity, separated by tabs) and --start-agent
// (install the agent's launch entries for this user and start it). The updater starts a new
// copy as "corvane-pellmere installOver DEST" to replace the copy installed at DEST.
#include "manager/client/LUMLog.h"
#include "manager/client/LUMPellmereInterface.h"
#include "manager/log/LUMFileLog.h"
#include "manager/update/LUMAutoUpdate.h"
#include "manager/update/LUMSoftwareUpdateWindowController.h"
#include "manager/volumes/LUMVolumeBase.h"
#include "manager/volumes/LUMVolumeMonitor.h"
#include "manager/window/LUMInstallOver.h"
#include "manager/window/LUMMainWindow.h"
#include "manager/window/LUMManagerSession.h"
#include "netstorage/FSNamesAndTags.h"
#include "platform/VolumeDescription.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QListView>
#include <QTextStream>
#include <QTimer>
#include <QWindow>

#include <cstring>

namespace {

constexpr const char *kClass = "LUMApplicationController";

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

void setIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("corvane-pellmere"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELLMERE_VERSION));
}

// Long options (ours, or unknown ones the parser reports) and the short help and version
// options run the command line mode; anything else, Qt's own single-dash options included,
// opens the window.
bool wantsCommandLine(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--", 2) == 0)
            return true;
        for (const char *option : { "-h", "-?", "-v" }) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

int runCommandLine(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    setIdentity();
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
    parser.showHelp(1);
}

int runInstallOver(int argc, char **argv, const QString &destination)
{
    QCoreApplication app(argc, argv);
    setIdentity();
    LUMFileLog::installMessageHandler();
    const QString source = LUMInstallOver::installTreeOf(QCoreApplication::applicationFilePath());
    const QString relative = QStringLiteral("bin/") + QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    (void)LUMInstallOver::run(source, destination, relative);
    return 0;
}

// With PELLMERE_REPORT_SHOWN set, prints "shown <ms>" on stdout (milliseconds since main began)
// once the window is exposed on the display with at least one drive in its list; the start-up
// benchmark (bench/manager/startup_bench.py) waits for that line. Polled: the two conditions
// come from different places and the line is printed once.
void reportWhenShown(const LUMMainWindow &window, const QElapsedTimer &sinceStart)
{
    if (!qEnvironmentVariableIsSet("PELLMERE_REPORT_SHOWN"))
        return;
    auto *poll = new QTimer(QCoreApplication::instance());
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, &window, &sinceStart] {
        const QWindow *handle = window.windowHandle();
        if (!handle || !handle->isExposed() || window.volumeList()->model()->rowCount() == 0)
            return;
        QTextStream(stdout) << "shown " << sinceStart.elapsed() << Qt::endl;
        poll->deleteLater();
    });
    poll->start();
}

int runWindow(int argc, char **argv, const QElapsedTimer &sinceStart)
{
    QApplication app(argc, argv);
    setIdentity();
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Pellmere"));
    LUMFileLog::installMessageHandler();
    QApplication::setQuitOnLastWindowClosed(true);
    LUMLog::debug(kClass, QStringLiteral("applicationDidFinishLaunching"),
        QStringLiteral("----------------------------\nApplication started\n"));
    LUMManagerSession session;
    session.window().show();
    int status = 0;
    {
        LUMSoftwareUpdateWindowController updates(LUMAutoUpdate::shared());
        QObject::connect(&session.window(), &LUMMainWindow::softwareUpdateRequested, &updates,
            &LUMSoftwareUpdateWindowController::showWindow);
        updates.initialCheckForUpdate();
        reportWhenShown(session.window(), sinceStart);
        status = app.exec();
    }
    LUMAutoUpdate::releaseShared();
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    // The saved window state of other systems has no counterpart here: Qt restores no
    // window by itself, so there is nothing to clean up before or after a run.
    if (argc >= 3 && std::strcmp(argv[1], "installOver") == 0)
        return runInstallOver(argc, argv, QString::fromLocal8Bit(argv[2]));
    if (wantsCommandLine(argc, argv))
        return runCommandLine(argc, argv);
    return runWindow(argc, argv, sinceStart);
}
