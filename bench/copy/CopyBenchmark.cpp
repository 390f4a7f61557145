// Measures the copy engine against cp on one ext4 image in the same run and prints ratios
// (ours / cp; below 1 is faster): one 1 GiB file against `cp --preserve=all`, and 20,000
// small files (0-64 KiB) in 1,000 folders against `cp -a`. Also prints the peak resident
// memory of copying 2,000 and 20,000 files, which must not grow with the number of files.
//
//   pm_copy_bench [--runs N] [--scale F]     (root: the image is loop-mounted)
//
// Without root it runs in a temporary folder of the local file system and says so.
#include "agent/copy/PMCopyHandler.h"
#include "agent/copy/PMFileManager.h"
#include "support/DriveImage.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

struct CountingDelegate : PMCopyDelegate {
    bool accumulateCopiedDataUInt64(quint64 bytes) override
    {
        copied += bytes;
        return true;
    }
    bool resetPartiallyCopiedData() override { return true; }
    bool setFileCopyPath(const QString &) override { return true; }
    quint64 copied = 0;
};

struct CountingHandler : PMCopyHandler {
    PMCopyDelegate *delegate() override { return &progress; }
    bool agentUpdate(PMFileCopyAgent &, quint64 copiedBytes) override
    {
        partial = copiedBytes;
        return true;
    }
    CountingDelegate progress;
    quint64 partial = 0;
};

qint64 statusValueKiB(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

void resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

void removeTree(const QString &path)
{
    QDir(path).removeRecursively();
    QFile::remove(path);
    ::sync();
}

double cpuSeconds(int who)
{
    struct rusage usage = {};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double g_cpuOurs = 0;
double g_cpuTheirs = 0;

double timeProcess(const QStringList &arguments)
{
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    struct CpuCount {
        double before;
        ~CpuCount() { g_cpuTheirs += cpuSeconds(RUSAGE_CHILDREN) - before; }
    } count { cpuBefore };
    QElapsedTimer timer;
    timer.start();
    if (!testsupport::DriveImage::run(arguments.first(), arguments.mid(1), nullptr, 600000))
        std::fprintf(stderr, "reference command failed: %s\n", qPrintable(arguments.join(QLatin1Char(' '))));
    return double(timer.nsecsElapsed()) / 1e9;
}

double timeEngine(const QString &source, const QString &destination)
{
    PMFileManager fileManager;
    CountingHandler handler;
    struct CpuCount {
        double before = cpuSeconds(RUSAGE_SELF);
        ~CpuCount() { g_cpuOurs += cpuSeconds(RUSAGE_SELF) - before; }
    } count;
    QElapsedTimer timer;
    timer.start();
    if (!fileManager.copyPath(source, destination, true, &handler))
        std::fprintf(stderr, "copyPath failed: %s\n", qPrintable(source));
    return double(timer.nsecsElapsed()) / 1e9;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void makeSmallFiles(const QString &root, int folders, int filesPerFolder)
{
    QRandomGenerator random(42);
    QByteArray block(64 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < block.size(); ++i)
        block[i] = char(random.generate() & 0xFF);
    for (int folder = 0; folder < folders; ++folder) {
        const QString dir = root + QStringLiteral("/d%1/sub").arg(folder);
        QDir().mkpath(dir);
        for (int file = 0; file < filesPerFolder; ++file) {
            QFile out(dir + QStringLiteral("/f%1.dat").arg(file));
            if (out.open(QIODevice::WriteOnly))
                out.write(block.constData(), qint64(random.bounded(64 * 1024 + 1)));
        }
    }
    ::sync();
}

// Runs both alternately; answers the median ratio ours / reference.
double compare(const char *label, int runs, const QString &source, const QString &workDir, const QStringList &cpOptions)
{
    std::vector<double> ours;
    std::vector<double> theirs;
    g_cpuOurs = g_cpuTheirs = 0;
    for (int run = 0; run < runs; ++run) {
        const QString cpTarget = workDir + QStringLiteral("/cp-copy");
        const QString ourTarget = workDir + QStringLiteral("/pm-copy");
        theirs.push_back(
            timeProcess(QStringList { QStringLiteral("cp") } + cpOptions + QStringList { source, cpTarget }));
        removeTree(cpTarget);
        ours.push_back(timeEngine(source, ourTarget));
        removeTree(ourTarget);
    }
    const double ratio = median(ours) / median(theirs);
    std::printf("%-34s ours %.3f s  cp %.3f s  ratio %.3f  (processor time ours %.2f s, cp %.2f s)\n", label,
        median(ours), median(theirs), ratio, g_cpuOurs / runs, g_cpuTheirs / runs);
    return ratio;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    int runs = 3;
    double scale = 1.0;
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--runs"))
            runs = std::max(1, arguments[i + 1].toInt());
        if (arguments[i] == QLatin1String("--scale"))
            scale = std::clamp(arguments[i + 1].toDouble(), 0.01, 1.0);
    }
    const qint64 bigBytes = qint64(1024 * 1024 * 1024 * scale);
    const int folders = std::max(10, int(1000 * scale));

    QString whyNot;
    std::unique_ptr<testsupport::DriveImage> drive = testsupport::DriveImage::create(
        testsupport::DriveImage::FileSystem::Ext4, qint64(6144 * scale) + 256, &whyNot);
    QTemporaryDir fallback;
    QString root;
    if (drive && drive->mount(false, &whyNot)) {
        root = drive->mountPoint();
        std::printf("on an ext4 image mounted at %s\n", qPrintable(root));
    } else {
        root = fallback.path();
        std::printf("no ext4 image (%s); on the local file system at %s\n", qPrintable(whyNot), qPrintable(root));
    }

    const QString big = root + QStringLiteral("/big.bin");
    {
        QFile out(big);
        if (!out.open(QIODevice::WriteOnly))
            return 1;
        QByteArray block(8 * 1024 * 1024, Qt::Uninitialized);
        QRandomGenerator random(7);
        for (qsizetype i = 0; i < block.size(); i += 4)
            *reinterpret_cast<quint32 *>(block.data() + i) = random.generate();
        for (qint64 written = 0; written < bigBytes; written += block.size())
            out.write(block.constData(), std::min<qint64>(block.size(), bigBytes - written));
    }
    ::sync();
    compare("1 GiB file vs cp --preserve=all", runs, big, root, { QStringLiteral("--preserve=all") });
    QFile::remove(big);

    const QString small = root + QStringLiteral("/small");
    makeSmallFiles(small + QStringLiteral("/few"), folders / 10, 20);
    makeSmallFiles(small + QStringLiteral("/many"), folders, 20);
    compare("20,000 small files vs cp -a", runs, small + QStringLiteral("/many"), root, { QStringLiteral("-a") });

    resetPeakMemory();
    const qint64 baseline = statusValueKiB("VmHWM:");
    timeEngine(small + QStringLiteral("/few"), root + QStringLiteral("/mem-few"));
    const qint64 peakFew = statusValueKiB("VmHWM:");
    removeTree(root + QStringLiteral("/mem-few"));
    resetPeakMemory();
    timeEngine(small + QStringLiteral("/many"), root + QStringLiteral("/mem-many"));
    const qint64 peakMany = statusValueKiB("VmHWM:");
    removeTree(root + QStringLiteral("/mem-many"));
    std::printf("peak resident memory: before %lld KiB, copying %d files %lld KiB, copying %d files %lld KiB\n",
        static_cast<long long>(baseline), folders / 10 * 20, static_cast<long long>(peakFew), folders * 20,
        static_cast<long long>(peakMany));
    return 0;
}
