#include "agent/app/PMAgentLauncher.h"

#include "agent/app/PMActivityNotifier.h"
#include "agent/app/PMAgentDesktopHost.h"
#include "agent/app/PMApplicationController.h"
#include "agent/app/PMDesktopFace.h"
#include "agent/app/PMDesktopFaceLoader.h"
#include "agent/app/PMDesktopPreviewPresenter.h"
#include "agent/log/PMAgentLog.h"
#include "platform/DesktopNotificationAlertPresenter.h"
#include "platform/HeadlessAlertPresenter.h"
#include "platform/PlatformPaths.h"
#include "platform/SystemLog.h"
#include "platform/UnixSignalNotifier.h"
#include "protocol/AEConstants.h"
#include "protocol/PMControlClient.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Options {
    bool foreground = false;
    bool debug = false;
    bool help = false;
    bool version = false;
    bool showLog = false;
    bool open = false;
    QStringList openPaths;
    // The SMB port of network storage devices, when not the standard one.
    quint16 smbPort = 0;
    QString badValue;
    QString unknown;
};

Options parse(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == QLatin1String("--foreground") || argument == QLatin1String("-f"))
            options.foreground = true;
        else if (argument == QLatin1String("--debug"))
            options.debug = true;
        else if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            options.help = true;
        else if (argument == QLatin1String("--version") || argument == QLatin1String("-v"))
            options.version = true;
        else if (argument == QLatin1String("--show-log"))
            options.showLog = true;
        else if (argument == QLatin1String("--open"))
            options.open = true;
        else if (argument == QLatin1String("--smb-port")) {
            bool ok = false;
            const uint port = i + 1 < argc ? QString::fromLocal8Bit(argv[++i]).toUInt(&ok) : 0;
            if (!ok || port == 0 || port > 65535)
                options.badValue = argument;
            else
                options.smbPort = quint16(port);
        } else if (options.open && !argument.startsWith(QLatin1Char('-')))
            options.openPaths.append(argument);
        else if (options.unknown.isEmpty())
            options.unknown = argument;
    }
    return options;
}

void writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return;
        done += wrote;
    }
}

// The agent proper. statusFd, when not -1, receives "ok\n" once the agent runs, or the
// reason it cannot, and is closed then.
int runAgent(int argc, char **argv, const Options &options, int statusFd)
{
    // The face is chosen before Qt starts: with a display the application object is the
    // plugin's windowed one, without one the Widgets libraries are never loaded.
    std::unique_ptr<PMDesktopFace> face;
    QString noFace;
    if (PMDesktopFaceLoader::hasDisplay(QProcessEnvironment::systemEnvironment()))
        face = PMDesktopFaceLoader::load(PMDesktopFaceLoader::pluginPath(), &noFace);
    std::unique_ptr<QCoreApplication> app
        = face ? face->createApplication(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pellmere"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PELLMERE_VERSION));
    platform::SystemLog::install(QStringLiteral("pellmere"));
    if (options.debug)
        PMAgentLog::enableDebugForThisRun();
    if (!noFace.isEmpty())
        qWarning("pellmere: running without windows: %s", qPrintable(noFace));

    PMApplicationController &agent = PMApplicationController::sharedInstance();
    agent.setAlertPresenter(face
            ? face->createAlertPresenter()
            : platform::DesktopNotificationAlertPresenter::createBest(QDBusConnection::sessionBus()));
    agent.enableNetworkStorage({ options.smbPort });
    PMAgentDesktopHost host(agent);
    platform::UnixSignalNotifier stopSignals({ SIGTERM, SIGINT });
    QObject::connect(
        &stopSignals, &platform::UnixSignalNotifier::signalReceived, &agent, [&agent](int) { agent.terminate(); });

    QString why;
    if (!agent.applicationWillFinishLaunching(&why)) {
        const QByteArray message = QStringLiteral("pellmere: %1\n").arg(why).toLocal8Bit();
        if (statusFd >= 0) {
            writeAll(statusFd, message);
            ::close(statusFd);
        } else {
            fputs(message.constData(), stderr);
        }
        PMAgentLog::flushLog();
        return PMAgentLauncher::kFailed;
    }
    if (face) {
        face->start(host);
        PMDesktopFace *shown = face.get();
        agent.setLogShower([shown] { shown->showLogWindow(); });
        agent.setLogFileOpener([shown] { shown->openLogFile(); });
        agent.setPreviewPresenter(std::make_unique<PMDesktopPreviewPresenter>(*shown));
        QObject::connect(&agent.activityNotifier(), &PMActivityNotifier::activityReported, app.get(),
            [shown](const QVariantMap &progress) { shown->showActivity(progress); });
    }
    if (statusFd >= 0) {
        writeAll(statusFd, QByteArrayLiteral("ok\n"));
        ::close(statusFd);
    }
    const int code = QCoreApplication::exec();
    agent.cleanUp();
    if (face) {
        // The windows go before the application object that owns their resources.
        agent.setLogShower({});
        agent.setLogFileOpener({});
        agent.setPreviewPresenter(nullptr);
        agent.setAlertPresenter(std::make_unique<platform::HeadlessAlertPresenter>());
        face->stop();
        face.reset();
    }
    return code;
}

// Forks the agent into its own session and reports what it said about its start.
int detach(int argc, char **argv, const Options &options)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        fprintf(stderr, "pellmere: cannot start the agent: %s\n", strerror(errno));
        return PMAgentLauncher::kFailed;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        fprintf(stderr, "pellmere: cannot start the agent: %s\n", strerror(errno));
        return PMAgentLauncher::kFailed;
    }
    if (child == 0) {
        ::close(pipeFds[0]);
        ::setsid();
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
        }
        ::_exit(runAgent(argc, argv, options, pipeFds[1]));
    }
    ::close(pipeFds[1]);
    QByteArray said;
    char buffer[512];
    for (;;) {
        const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        said.append(buffer, got);
    }
    ::close(pipeFds[0]);
    if (said == "ok\n") {
        printf("Pellmere agent started (process %d).\n", int(child));
        return PMAgentLauncher::kStopped;
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    fputs(said.isEmpty() ? "pellmere: the agent ended while starting\n" : said.constData(), stderr);
    return PMAgentLauncher::kFailed;
}

// `pellmere --show-log` and `pellmere --open PATH...`: requests to the running agent.
int askRunningAgent(int argc, char **argv, const Options &options)
{
    QCoreApplication app(argc, argv);
    protocol::PMControlClient client(QDBusConnection::sessionBus());
    if (options.showLog) {
        bool shown = false;
        if (client.showLog(&shown) != protocol::kNoErr) {
            fprintf(stderr, "pellmere: %s\n", client.lastErrorText().toLocal8Bit().constData());
            return PMAgentLauncher::kFailed;
        }
        if (!shown)
            printf("The agent has no window; its log is %s\n",
                platform::PlatformPaths::agentLogPath().toLocal8Bit().constData());
    }
    if (options.open) {
        QStringList absolute;
        for (const QString &path : options.openPaths)
            absolute.append(QFileInfo(path).absoluteFilePath());
        QStringList refused;
        if (client.openPaths(absolute, &refused) != protocol::kNoErr) {
            fprintf(stderr, "pellmere: %s\n", client.lastErrorText().toLocal8Bit().constData());
            return PMAgentLauncher::kFailed;
        }
        for (const QString &path : refused)
            fprintf(stderr, "pellmere: \"%s\" is not on a connected drive\n", path.toLocal8Bit().constData());
        if (!refused.isEmpty())
            return PMAgentLauncher::kFailed;
    }
    return PMAgentLauncher::kStopped;
}

} // namespace

QString PMAgentLauncher::usage()
{
    return QStringLiteral("Usage: pellmere [--foreground] [--debug] [--smb-port PORT]\n"
                          "       pellmere sync --drive DIR [--item PATH]... [--device-filter N] "
                          "[--categories LIST] [--dry-run]\n"
                          "       pellmere --show-log\n"
                          "       pellmere --open PATH...\n"
                          "       pellmere --help | --version\n\n"
                          "Without a command, runs the Pellmere agent, which syncs drives as they are connected.\n"
                          "  -f, --foreground  stay attached to the terminal (log lines on standard error)\n"
                          "      --debug       write debug messages to the log for this run\n"
                          "      --smb-port PORT  the SMB port of network storage devices (default 445)\n"
                          "      --show-log    show the running agent's log window (or say where its log is)\n"
                          "      --open PATH   sync the drives that hold the paths, in the running agent\n"
                          "  -h, --help        show this help\n"
                          "  -v, --version     show the version\n");
}

int PMAgentLauncher::run(int argc, char **argv)
{
    const Options options = parse(argc, argv);
    if (!options.unknown.isEmpty()) {
        fprintf(stderr, "pellmere: unknown %s \"%s\"\n%s",
            options.unknown.startsWith(QLatin1Char('-')) ? "option" : "command",
            options.unknown.toLocal8Bit().constData(), usage().toLocal8Bit().constData());
        return kUsage;
    }
    if (!options.badValue.isEmpty()) {
        fprintf(stderr, "pellmere: %s needs a port number (1-65535)\n%s", options.badValue.toLocal8Bit().constData(),
            usage().toLocal8Bit().constData());
        return kUsage;
    }
    if (options.help) {
        fputs(usage().toLocal8Bit().constData(), stdout);
        return kStopped;
    }
    if (options.version) {
        printf("pellmere %s\n", PELLMERE_VERSION);
        return kStopped;
    }
    if (options.open && options.openPaths.isEmpty()) {
        fprintf(stderr, "pellmere: --open needs at least one path\n%s", usage().toLocal8Bit().constData());
        return kUsage;
    }
    if (options.showLog || options.open)
        return askRunningAgent(argc, argv, options);
    if (!options.foreground && ::isatty(STDERR_FILENO))
        return detach(argc, argv, options);
    return runAgent(argc, argv, options, -1);
}
