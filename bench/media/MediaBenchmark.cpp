// Measures the media filter where a scan feels it:
//  1. name-only validation of 100,000 base names against the unlimited lists (movies, music,
//     pictures, documents), as list matching alone and through PMFileValidator, with the same
//     patterns run through plain regexec in the same run as the reference;
//  2. characterization of one small H.264 file: median time and peak memory, with ffprobe on
//     the same file as the reference, and the one-entry cache (opens per repeated question).
// Needs the ffmpeg and ffprobe commands for part 2. Prints figures; never fails on them.
#include "agent/media/PMFileValidator.h"
#include "agent/media/PMMediaCharacterizer.h"
#include "agent/media/PMMediaExtensionLists.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include <regex.h>
#include <sys/resource.h>
#include <time.h>

namespace {

std::vector<QString> makeNames(int count)
{
    // Roughly what a home folder holds: a third media and documents, the rest anything else.
    const char *const extensions[]
        = { "mp4", "MOV", "jpg", "JPG", "png", "mp3", "m4a", "pdf", "docx", "txt", "c", "h", "cpp", "o", "json", "xml",
              "plist", "log", "zip", "dat", "html", "css", "js", "py", "sh", "md", "ini", "conf", "bak", "tmp" };
    std::mt19937 random(42);
    std::vector<QString> names;
    names.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i) {
        const char *extension = extensions[random() % std::size(extensions)];
        names.push_back(QStringLiteral("file_%1_%2.%3").arg(i).arg(random() % 100000).arg(QLatin1String(extension)));
    }
    return names;
}

double seconds(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

// The machine is shared: CPU time of the process (all its threads) says what the work costs, wall time what it
// cost under today's load. Both are printed.
class CpuTimer {
public:
    CpuTimer() { restart(); }
    void restart() { m_start = now(); }
    double seconds() const { return now() - m_start; }

private:
    static double now()
    {
        timespec ts = {};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
    }
    double m_start = 0;
};

long maxRssKiB()
{
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

void benchmarkNames()
{
    constexpr int kNames = 100000;
    const std::vector<QString> names = makeNames(kNames);
    std::vector<QByteArray> utf8;
    std::vector<QString> paths;
    for (const QString &name : names) {
        utf8.push_back(name.toUtf8());
        paths.push_back(QStringLiteral("/nonexistent/pellmere-bench/") + name);
    }
    PMMediaExtensionLists lists;
    lists.updateAll(true, true, true, true, 0);
    const PMMediaLists::List validators = lists.mediaFileExtensions();

    // Reference: the same patterns compiled and asked one by one with regexec.
    std::vector<regex_t> compiled(validators.size());
    for (std::size_t i = 0; i < validators.size(); ++i)
        regcomp(&compiled[i], validators[i]->pattern().pattern().constData(), REG_EXTENDED | REG_ICASE);

    CpuTimer timer;
    int regexMatches = 0;
    for (const QByteArray &name : utf8) {
        for (const regex_t &pattern : compiled) {
            regmatch_t match[5];
            if (regexec(&pattern, name.constData(), 5, match, 0) == 0) {
                ++regexMatches;
                break;
            }
        }
    }
    const double regexSeconds = timer.seconds();

    int listCopies = 0;
    timer.restart();
    for (std::size_t n = 0; n < utf8.size(); ++n) {
        for (const auto &validator : validators) {
            bool copy = false;
            if (validator->matchItem(paths[n], utf8[n], copy) && copy) {
                ++listCopies;
                break;
            }
        }
    }
    const double listSeconds = timer.seconds();

    PMFileValidator validator;
    validator.addContainerValidators(validators);
    int validatorCopies = 0;
    timer.restart();
    for (std::size_t n = 0; n < names.size(); ++n)
        validatorCopies += validator.shouldCopyItem(paths[n], names[n], false) ? 1 : 0;
    const double validatorSeconds = timer.seconds();

    for (regex_t &pattern : compiled)
        regfree(&pattern);

    std::printf(
        "Name-only validation, %d names, %zu unlimited-list entries (per CPU second)\n", kNames, validators.size());
    std::printf("  regexec reference           : %10.0f names/s (%d matched)\n", kNames / regexSeconds, regexMatches);
    std::printf("  list matching (matchItem)   : %10.0f names/s (%d copied)  %.1fx the reference\n",
        kNames / listSeconds, listCopies, regexSeconds / listSeconds);
    std::printf("  PMFileValidator (with stat) : %10.0f names/s (%d copied)  %.1fx the reference\n",
        kNames / validatorSeconds, validatorCopies, regexSeconds / validatorSeconds);
}

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void benchmarkCharacterization()
{
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty()) {
        std::printf("Characterization: skipped (ffmpeg and ffprobe are needed)\n");
        return;
    }
    QTemporaryDir dir;
    const QString clip = dir.filePath(QStringLiteral("clip.mp4"));
    const QString clip720 = dir.filePath(QStringLiteral("clip720.mp4"));
    for (const auto &[path, size] :
        { std::pair { clip, QStringLiteral("640x480") }, std::pair { clip720, QStringLiteral("1280x720") } }) {
        const QStringList arguments = { QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
            QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
            QStringLiteral("testsrc=size=%1:rate=30:duration=2").arg(size), QStringLiteral("-f"),
            QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("sine=duration=2"), QStringLiteral("-c:v"),
            QStringLiteral("libx264"), QStringLiteral("-preset"), QStringLiteral("ultrafast"), QStringLiteral("-c:a"),
            QStringLiteral("aac"), path };
        if (!run(QStringLiteral("ffmpeg"), arguments)) {
            std::printf("Characterization: skipped (ffmpeg could not make the test file)\n");
            return;
        }
    }

    const long rssBefore = maxRssKiB();
    PMMediaCharacterizer::characterizeFile(clip, 0);
    const long rssAfterFirst = maxRssKiB();

    for (const QString &path : { clip, clip720 }) {
        std::vector<double> ours;
        std::vector<double> oursCpu;
        for (int i = 0; i < 200; ++i) {
            QElapsedTimer timer;
            timer.start();
            CpuTimer cpu;
            const MediaFileCharacterization c = PMMediaCharacterizer::characterizeFile(path, 0);
            oursCpu.push_back(cpu.seconds());
            ours.push_back(seconds(timer));
            if (!c.opened)
                std::printf("  (unexpected: %s did not open)\n", qPrintable(path));
        }
        std::vector<double> reference;
        for (int i = 0; i < 20; ++i) {
            QElapsedTimer timer;
            timer.start();
            run(QStringLiteral("ffprobe"),
                { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_streams"), path });
            reference.push_back(seconds(timer));
        }
        std::printf("Characterization of %s (%lld bytes)\n", qPrintable(QFileInfo(path).fileName()),
            static_cast<long long>(QFileInfo(path).size()));
        std::printf(
            "  ours, median of 200          : %8.3f ms wall, %.3f ms CPU\n", median(ours) * 1e3, median(oursCpu) * 1e3);
        std::printf("  ffprobe process, median of 20: %8.3f ms  (ours takes %.3f of its time)\n",
            median(reference) * 1e3, median(ours) / median(reference));
    }
    std::printf("  peak resident memory: %ld KiB before, %ld KiB after the first file (+%ld KiB), %ld KiB at the end\n",
        rssBefore, rssAfterFirst, rssAfterFirst - rssBefore, maxRssKiB());

    PMMediaCharacterizer cached;
    for (int i = 0; i < 5; ++i)
        cached.characterize(clip, i);
    std::printf("  the same file asked 5 times in a row: opened %llu time(s)\n",
        static_cast<unsigned long long>(cached.openCount()));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Optional argument "names" or "characterization" runs one part alone (for profiling).
    const QString part = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (part.isEmpty() || part == QLatin1String("names"))
        benchmarkNames();
    if (part.isEmpty() || part == QLatin1String("characterization"))
        benchmarkCharacterization();
    return 0;
}
