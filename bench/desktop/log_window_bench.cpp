// Opens the log window on a log of 3,000 KiB (the size at which the log file is discarded, so
// the largest a user can have) and reports how long the window takes to take the text and show
// it, and how long 1,000 lines logged from a worker thread take to arrive afterwards.
//
//   xvfb-run -a pm_log_window_bench [runs]     (or QT_QPA_PLATFORM=offscreen)
//
// LOG_KIB=n sets another log size in KiB, for comparison.
//
// Prints figures; the exit status only says whether the measurement worked.
#include "agent/desktop/PMLogWindow.h"
#include "agent/log/PMLogController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

bool spinUntil(const std::function<bool()> &condition, qint64 timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    QTemporaryDir dir;
    const QString line = QStringLiteral("2026/12/08 10:00:00 Unable to copy \"/home/ada/Music/Some Artist/Some "
                                        "Album/07 Track.flac\" - Input/output error.\n");
    QString big;
    const qsizetype target
        = qEnvironmentVariableIntValue("LOG_KIB") ? qEnvironmentVariableIntValue("LOG_KIB") * 1024 : 3000 * 1024;
    while (big.size() < target)
        big += line;

    std::vector<double> opens;
    std::vector<double> appends;
    for (int run = 0; run < runs; ++run) {
        PMLogController log;
        log.setLogFilename(dir.filePath(QStringLiteral("bench.log")));
        log.addLogString(big, false, false);
        PMLogWindow window(QString {});
        QElapsedTimer timer;
        timer.start();
        log.attachView(&window);
        window.show();
        if (!spinUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }, 30000)) {
            std::fprintf(stderr, "the window was never shown\n");
            return 1;
        }
        window.repaint();
        opens.push_back(double(timer.nsecsElapsed()) / 1e6);

        std::atomic<bool> finished { false };
        timer.restart();
        std::thread worker([&] {
            for (int i = 0; i < 1000; ++i)
                log.addLogString(QStringLiteral("worker line %1").arg(i), true, true);
            finished = true;
        });
        const bool arrived = spinUntil([&] { return finished.load(); }, 60000);
        worker.join();
        if (!arrived)
            return 1;
        appends.push_back(double(timer.nsecsElapsed()) / 1e6);
        log.attachView(nullptr);
    }
    std::printf("platform %s, log %lld characters, %d runs\n", qPrintable(QApplication::platformName()),
        static_cast<long long>(big.size()), runs);
    std::printf("open (text into the window, shown and painted): median %.1f ms, max %.1f ms\n", median(opens),
        *std::max_element(opens.begin(), opens.end()));
    std::printf("1,000 lines from a worker thread: median %.1f ms, max %.1f ms\n", median(appends),
        *std::max_element(appends.begin(), appends.end()));
    return 0;
}
