// Measures the change watcher on a large tree (100,000 files in 10,100 folders) and, when it is
// installed, `inotifywait -r -m` on the same tree in the same run, and prints ratios (ours /
// inotifywait; below 1 is better): time to watch the whole tree, resident memory the watching
// costs, CPU used while nothing changes, and the delay from a write to its report beyond the
// coalescing window.
//
//   pm_watcher_bench [--folders N] [--files F] [--idle SECONDS] [--samples K]
//
// --folders is the number of leaf folders (spread over sqrt(N) parents), --files the files
// per leaf folder. The tree lives in a temporary folder of $TMPDIR.
#include "platform/ChangeWatcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

using namespace std::chrono_literals;

namespace {

struct Settings {
    int folders = 10'000;
    int filesPerFolder = 10;
    int idleSeconds = 10;
    int samples = 10;
};

struct Figures {
    double setupMs = 0;
    double rssKiB = 0;
    double idleCpuMs = 0;
    double medianDelayMs = 0;
    double maxDelayMs = 0;
};

qint64 statusKiB(const QString &statusFile, const char *key)
{
    QFile status(statusFile);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qsizetype(qstrlen(key))).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

double ownCpuMs()
{
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// User plus system time of another process, from /proc/<pid>/stat.
double processCpuMs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble();
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

void runEventLoop(std::chrono::milliseconds period)
{
    QEventLoop loop;
    QTimer::singleShot(period, &loop, &QEventLoop::quit);
    loop.exec();
}

// Waits (processing events) until done() holds; false after the timeout.
bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

QStringList buildTree(const QString &root, const Settings &settings)
{
    const int parents = std::max(1, int(std::lround(std::sqrt(double(settings.folders)))));
    QStringList leaves;
    const QByteArray content(512, 'x');
    for (int i = 0; i < settings.folders; ++i) {
        const QString folder = QStringLiteral("%1/p%2/f%3").arg(root).arg(i % parents).arg(i);
        QDir().mkpath(folder);
        for (int j = 0; j < settings.filesPerFolder; ++j) {
            QFile file(QStringLiteral("%1/file%2.dat").arg(folder).arg(j));
            if (file.open(QIODevice::WriteOnly))
                file.write(content);
        }
        leaves.append(folder);
    }
    return leaves;
}

void touch(const QString &folder, int sample)
{
    QFile file(folder + QStringLiteral("/file0.dat"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(QByteArray::number(sample));
}

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

Figures measureOurs(const QString &root, const QStringList &leaves, const Settings &settings, int *folders)
{
    Figures figures;
    const platform::ChangeWatcherOptions options; // the defaults the agent uses
    auto watcher = platform::ChangeWatcher::create(root, options);
    int reports = 0;
    QObject::connect(watcher.get(), &platform::ChangeWatcher::changed, [&] { ++reports; });

    const qint64 rssBefore = statusKiB(QStringLiteral("/proc/self/status"), "VmRSS:");
    QElapsedTimer timer;
    timer.start();
    if (!watcher->start()) {
        std::fprintf(stderr, "watcher did not start\n");
        return figures;
    }
    figures.setupMs = double(timer.nsecsElapsed()) / 1e6;
    figures.rssKiB = double(statusKiB(QStringLiteral("/proc/self/status"), "VmRSS:") - rssBefore);
    *folders = int(watcher->watchedFolderCount());

    const double cpuBefore = ownCpuMs();
    runEventLoop(std::chrono::seconds(settings.idleSeconds));
    figures.idleCpuMs = ownCpuMs() - cpuBefore;

    std::vector<double> delays;
    for (int sample = 0; sample < settings.samples; ++sample) {
        const int before = reports;
        timer.restart();
        touch(leaves.at(QRandomGenerator::global()->bounded(leaves.size())), sample);
        if (!waitUntil([&] { return reports > before; }, 10s))
            continue;
        delays.push_back(double(timer.nsecsElapsed()) / 1e6 - double(options.latency.count()));
        runEventLoop(options.latency * 2); // let the window close before the next write
    }
    figures.medianDelayMs = median(delays);
    figures.maxDelayMs = delays.empty() ? -1 : *std::max_element(delays.begin(), delays.end());
    return figures;
}

bool measureInotifywait(
    const QString &program, const QString &root, const QStringList &leaves, const Settings &settings, Figures *figures)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments({ QStringLiteral("-r"), QStringLiteral("-m"), QStringLiteral("-e"),
        QStringLiteral("create,delete,modify,close_write,moved_from,moved_to,attrib,delete_self,move_self"), root });
    QElapsedTimer timer;
    timer.start();
    process.start();
    if (!process.waitForStarted())
        return false;
    QByteArray errors;
    if (!waitUntil(
            [&] {
                errors += process.readAllStandardError();
                return errors.contains("Watches established");
            },
            300s))
        return false;
    figures->setupMs = double(timer.nsecsElapsed()) / 1e6;
    const QString status = QStringLiteral("/proc/%1/status").arg(process.processId());
    figures->rssKiB = double(statusKiB(status, "VmRSS:"));

    const double cpuBefore = processCpuMs(process.processId());
    runEventLoop(std::chrono::seconds(settings.idleSeconds));
    figures->idleCpuMs = processCpuMs(process.processId()) - cpuBefore;

    std::vector<double> delays;
    for (int sample = 0; sample < settings.samples; ++sample) {
        process.readAllStandardOutput();
        timer.restart();
        touch(leaves.at(QRandomGenerator::global()->bounded(leaves.size())), sample);
        if (!waitUntil([&] { return process.bytesAvailable() > 0 || process.canReadLine(); }, 10s))
            continue;
        delays.push_back(double(timer.nsecsElapsed()) / 1e6);
        runEventLoop(100ms);
    }
    figures->medianDelayMs = median(delays);
    figures->maxDelayMs = delays.empty() ? -1 : *std::max_element(delays.begin(), delays.end());
    process.kill();
    process.waitForFinished();
    return true;
}

double ratio(double ours, double theirs)
{
    return theirs > 0 ? ours / theirs : -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Settings settings;
    const QStringList arguments = app.arguments();
    for (qsizetype i = 1; i + 1 < arguments.size(); i += 2) {
        const int value = arguments.at(i + 1).toInt();
        if (arguments.at(i) == QLatin1String("--folders"))
            settings.folders = std::max(1, value);
        else if (arguments.at(i) == QLatin1String("--files"))
            settings.filesPerFolder = std::max(1, value);
        else if (arguments.at(i) == QLatin1String("--idle"))
            settings.idleSeconds = std::max(1, value);
        else if (arguments.at(i) == QLatin1String("--samples"))
            settings.samples = std::max(1, value);
    }

    QTemporaryDir temp(QDir::tempPath() + QStringLiteral("/pm-watcher-bench-XXXXXX"));
    if (!temp.isValid())
        return 1;
    const QString root = temp.path() + QStringLiteral("/tree");
    QElapsedTimer timer;
    timer.start();
    const QStringList leaves = buildTree(root, settings);
    std::printf("tree: %d leaf folders, %d files, built in %.1f s\n", settings.folders,
        settings.folders * settings.filesPerFolder, double(timer.elapsed()) / 1000.0);

    int folders = 0;
    const Figures ours = measureOurs(root, leaves, settings, &folders);
    std::printf("\nchange watcher (%d folders watched, latency window 500 ms)\n", folders);
    std::printf("  setup            %10.1f ms\n", ours.setupMs);
    std::printf("  resident memory  %10.0f KiB (growth of this process)\n", ours.rssKiB);
    std::printf("  CPU while idle   %10.1f ms over %d s\n", ours.idleCpuMs, settings.idleSeconds);
    std::printf("  delay after window median %.2f ms, max %.2f ms (%d samples)\n", ours.medianDelayMs, ours.maxDelayMs,
        settings.samples);

    const QString inotifywait = QStandardPaths::findExecutable(QStringLiteral("inotifywait"));
    Figures theirs;
    if (inotifywait.isEmpty() || !measureInotifywait(inotifywait, root, leaves, settings, &theirs)) {
        std::printf("\ninotifywait not available (package inotify-tools): no reference figures\n");
        return 0;
    }
    std::printf("\ninotifywait -r -m (no coalescing window)\n");
    std::printf("  setup            %10.1f ms\n", theirs.setupMs);
    std::printf("  resident memory  %10.0f KiB (whole process)\n", theirs.rssKiB);
    std::printf("  CPU while idle   %10.1f ms over %d s\n", theirs.idleCpuMs, settings.idleSeconds);
    std::printf("  delay            median %.2f ms, max %.2f ms\n", theirs.medianDelayMs, theirs.maxDelayMs);

    std::printf("\nratios ours / inotifywait (below 1 is better)\n");
    std::printf("  setup            %6.2f\n", ratio(ours.setupMs, theirs.setupMs));
    std::printf("  resident memory  %6.2f\n", ratio(ours.rssKiB, theirs.rssKiB));
    std::printf("  median delay     %6.2f\n", ratio(ours.medianDelayMs, theirs.medianDelayMs));
    return 0;
}
