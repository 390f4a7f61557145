// The change watcher on real temporary trees: what it reports, when, and which folders the
// kernel watches for it. The overflow and watch-limit cases lower kernel limits for a moment
// and therefore need root.
#include "platform/ChangeWatcher.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>

using namespace std::chrono_literals;
using platform::ChangeWatcher;
using platform::ChangeWatcherOptions;

namespace {

// Latency short enough for quick tests; the bounded "nothing more comes" waits are a few
// times this.
constexpr auto kLatency = 100ms;
constexpr auto kQuiet = 400ms;

void quietPeriod()
{
    testsupport::waitFor([] { return false; }, kQuiet);
}

void makeFolder(const QString &path)
{
    ASSERT_TRUE(QDir().mkpath(path)) << path.toStdString();
}

void rename(const QString &from, const QString &to)
{
    ASSERT_EQ(::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()), 0)
        << from.toStdString() << " -> " << to.toStdString();
}

// Watches the kernel holds for this process, read from /proc: proves that no watch leaks.
int kernelWatchCount()
{
    int count = 0;
    QDirIterator fds(QStringLiteral("/proc/self/fdinfo"), QDir::Files);
    while (fds.hasNext()) {
        QFile info(fds.next());
        if (!info.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : info.readAll().split('\n'))
            count += line.startsWith("inotify wd:") ? 1 : 0;
    }
    return count;
}

int folderCount(const QString &root)
{
    int count = 1;
    QDirIterator it(root, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        count += it.fileInfo().isSymLink() ? 0 : 1;
    }
    return count;
}

class ChangeWatcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_temp.isValid());
        m_root = m_temp.path() + QStringLiteral("/root");
        m_outside = m_temp.path() + QStringLiteral("/outside");
        makeFolder(m_root);
        makeFolder(m_outside);
    }

    // Creates and starts the watcher; the spy records every changed() signal.
    void startWatcher(std::chrono::milliseconds rescanPeriod = 30s)
    {
        ChangeWatcherOptions options;
        options.latency = kLatency;
        options.rescanPeriod = rescanPeriod;
        m_watcher = ChangeWatcher::create(m_root, options);
        m_spy = std::make_unique<QSignalSpy>(m_watcher.get(), &ChangeWatcher::changed);
        ASSERT_TRUE(m_watcher->start());
    }

    bool waitForEmissions(qsizetype count)
    {
        return testsupport::waitFor([&] { return m_spy->size() >= count; });
    }

    // Waits for the next report and checks that exactly one came for the changes so far.
    void expectOneMoreReport()
    {
        const qsizetype before = m_spy->size();
        ASSERT_TRUE(waitForEmissions(before + 1)) << "no change reported";
        quietPeriod();
        ASSERT_EQ(m_spy->size(), before + 1) << "changes reported more than once";
        EXPECT_EQ(m_spy->last().at(0).toString(), m_root);
    }

    void expectNoReport()
    {
        const qsizetype before = m_spy->size();
        quietPeriod();
        EXPECT_EQ(m_spy->size(), before) << "a change was reported";
    }

    QTemporaryDir m_temp;
    QString m_root;
    QString m_outside;
    std::unique_ptr<ChangeWatcher> m_watcher;
    std::unique_ptr<QSignalSpy> m_spy;
};

TEST_F(ChangeWatcherTest, StartFailsForAMissingRootOrAFile)
{
    auto missing = ChangeWatcher::create(m_root + QStringLiteral("/nowhere"));
    EXPECT_FALSE(missing->start());
    EXPECT_EQ(missing->mode(), ChangeWatcher::Mode::Stopped);

    testsupport::writeFile(m_root + QStringLiteral("/file"), "x");
    auto file = ChangeWatcher::create(m_root + QStringLiteral("/file"));
    EXPECT_FALSE(file->start());
    EXPECT_EQ(file->mode(), ChangeWatcher::Mode::Stopped);
}

TEST_F(ChangeWatcherTest, BurstOfWritesInANestedFolderIsReportedOnceWithTheRoot)
{
    makeFolder(m_root + QStringLiteral("/a/b/c"));
    testsupport::writeFile(m_root + QStringLiteral("/a/top.txt"), "top");
    startWatcher();
    EXPECT_EQ(m_watcher->mode(), ChangeWatcher::Mode::Watching);
    EXPECT_EQ(m_watcher->watchedFolderCount(), 4);
    EXPECT_EQ(kernelWatchCount(), 4);
    expectNoReport();

    for (int i = 0; i < 50; ++i)
        testsupport::writeFile(m_root + QStringLiteral("/a/b/c/f%1.txt").arg(i % 5), QByteArray::number(i));
    expectOneMoreReport();

    // A change of attributes alone is a change too.
    ASSERT_EQ(::chmod(QFile::encodeName(m_root + QStringLiteral("/a/top.txt")).constData(), 0600), 0);
    expectOneMoreReport();
}

TEST_F(ChangeWatcherTest, FoldersCreatedAfterStartAreWatchedAtAnyDepth)
{
    startWatcher();
    makeFolder(m_root + QStringLiteral("/a/b/c"));
    expectOneMoreReport();
    EXPECT_EQ(m_watcher->watchedFolderCount(), 4);

    testsupport::writeFile(m_root + QStringLiteral("/a/b/c/new.txt"), "new");
    expectOneMoreReport();
}

TEST_F(ChangeWatcherTest, TreeMovedInFromOutsideIsWatched)
{
    makeFolder(m_outside + QStringLiteral("/album/disc1/extras"));
    testsupport::writeFile(m_outside + QStringLiteral("/album/disc1/track.mp3"), "audio");
    startWatcher();

    rename(m_outside + QStringLiteral("/album"), m_root + QStringLiteral("/album"));
    expectOneMoreReport();
    EXPECT_EQ(m_watcher->watchedFolderCount(), 4);
    EXPECT_EQ(kernelWatchCount(), 4);

    testsupport::writeFile(m_root + QStringLiteral("/album/disc1/extras/booklet.pdf"), "pdf");
    expectOneMoreReport();
}

TEST_F(ChangeWatcherTest, FolderMovedOutIsForgotten)
{
    makeFolder(m_root + QStringLiteral("/keep"));
    makeFolder(m_root + QStringLiteral("/leave/inner/deeper"));
    startWatcher();
    EXPECT_EQ(kernelWatchCount(), 5);

    rename(m_root + QStringLiteral("/leave"), m_outside + QStringLiteral("/leave"));
    expectOneMoreReport();
    EXPECT_EQ(m_watcher->watchedFolderCount(), 2);
    EXPECT_EQ(kernelWatchCount(), 2);

    testsupport::writeFile(m_outside + QStringLiteral("/leave/inner/deeper/file.txt"), "outside");
    testsupport::writeFile(m_outside + QStringLiteral("/leave/new.txt"), "outside");
    expectNoReport();

    testsupport::writeFile(m_root + QStringLiteral("/keep/file.txt"), "inside");
    expectOneMoreReport();
}

TEST_F(ChangeWatcherTest, FolderRenamedInsideTheTreeKeepsReporting)
{
    makeFolder(m_root + QStringLiteral("/old/inner"));
    startWatcher();

    rename(m_root + QStringLiteral("/old"), m_root + QStringLiteral("/new"));
    expectOneMoreReport();
    EXPECT_EQ(m_watcher->watchedFolderCount(), 3);
    EXPECT_EQ(kernelWatchCount(), 3);

    // Folders created below the renamed one are found under its new name.
    makeFolder(m_root + QStringLiteral("/new/inner/later"));
    expectOneMoreReport();
    testsupport::writeFile(m_root + QStringLiteral("/new/inner/later/file.txt"), "x");
    expectOneMoreReport();
    EXPECT_EQ(m_watcher->watchedFolderCount(), 4);
}

TEST_F(ChangeWatcherTest, DeletedFoldersReleaseTheirWatchesAndLaterChangesAreSeen)
{
    makeFolder(m_root + QStringLiteral("/gone/a/b"));
    makeFolder(m_root + QStringLiteral("/gone/c"));
    makeFolder(m_root + QStringLiteral("/stays"));
    startWatcher();
    EXPECT_EQ(kernelWatchCount(), 6);

    ASSERT_TRUE(QDir(m_root + QStringLiteral("/gone")).removeRecursively());
    expectOneMoreReport();
    EXPECT_EQ(m_watcher->watchedFolderCount(), 2);
    EXPECT_EQ(kernelWatchCount(), 2);

    testsupport::writeFile(m_root + QStringLiteral("/stays/file.txt"), "x");
    expectOneMoreReport();
    makeFolder(m_root + QStringLiteral("/gone/again"));
    expectOneMoreReport();
    testsupport::writeFile(m_root + QStringLiteral("/gone/again/file.txt"), "x");
    expectOneMoreReport();
    EXPECT_EQ(kernelWatchCount(), folderCount(m_root));
}

TEST_F(ChangeWatcherTest, SymbolicLinksAreNotFollowedOutOfTheTree)
{
    makeFolder(m_outside + QStringLiteral("/target/sub"));
    ASSERT_EQ(::symlink(QFile::encodeName(m_outside + QStringLiteral("/target")).constData(),
                  QFile::encodeName(m_root + QStringLiteral("/link")).constData()),
        0);
    startWatcher();
    EXPECT_EQ(m_watcher->watchedFolderCount(), 1);

    testsupport::writeFile(m_outside + QStringLiteral("/target/sub/file.txt"), "x");
    expectNoReport();

    // A link created while watching is not followed either.
    ASSERT_EQ(::symlink(QFile::encodeName(m_outside + QStringLiteral("/target")).constData(),
                  QFile::encodeName(m_root + QStringLiteral("/link2")).constData()),
        0);
    expectOneMoreReport();
    EXPECT_EQ(m_watcher->watchedFolderCount(), 1);
    testsupport::writeFile(m_outside + QStringLiteral("/target/file2.txt"), "x");
    expectNoReport();
}

TEST_F(ChangeWatcherTest, RootRemovedIsReportedOnceAndWatchedAgainWhenItReturns)
{
    makeFolder(m_root + QStringLiteral("/sub"));
    startWatcher(100ms);

    ASSERT_TRUE(QDir(m_root).removeRecursively());
    expectOneMoreReport();
    EXPECT_EQ(m_watcher->mode(), ChangeWatcher::Mode::WaitingForRoot);
    EXPECT_EQ(kernelWatchCount(), 0);
    expectNoReport();

    makeFolder(m_root + QStringLiteral("/sub"));
    expectOneMoreReport();
    EXPECT_EQ(m_watcher->mode(), ChangeWatcher::Mode::Watching);
    testsupport::writeFile(m_root + QStringLiteral("/sub/file.txt"), "x");
    expectOneMoreReport();
}

TEST_F(ChangeWatcherTest, RootMovedAwayNoLongerReportsFromItsNewPlace)
{
    startWatcher();
    rename(m_root, m_outside + QStringLiteral("/moved"));
    expectOneMoreReport();
    EXPECT_EQ(m_watcher->mode(), ChangeWatcher::Mode::WaitingForRoot);

    testsupport::writeFile(m_outside + QStringLiteral("/moved/file.txt"), "x");
    expectNoReport();
}

TEST_F(ChangeWatcherTest, StopDropsThePendingChangeAndEndsReporting)
{
    makeFolder(m_root + QStringLiteral("/sub"));
    startWatcher();
    testsupport::writeFile(m_root + QStringLiteral("/sub/file.txt"), "x");
    // Let the watcher read the event, but stop it before the latency ends.
    ASSERT_TRUE(testsupport::waitFor([] { return true; }));
    m_watcher->stop();
    EXPECT_EQ(m_watcher->mode(), ChangeWatcher::Mode::Stopped);
    EXPECT_EQ(kernelWatchCount(), 0);
    testsupport::writeFile(m_root + QStringLiteral("/sub/file.txt"), "y");
    expectNoReport();

    ASSERT_TRUE(m_watcher->start());
    testsupport::writeFile(m_root + QStringLiteral("/sub/file.txt"), "z");
    expectOneMoreReport();
}

// Lowers a kernel limit for as long as it lives and always restores it.
class KernelLimitOverride {
public:
    explicit KernelLimitOverride(const QString &name)
        : m_path(QStringLiteral("/proc/sys/fs/inotify/") + name)
    {
        QFile file(m_path);
        if (file.open(QIODevice::ReadOnly))
            m_saved = file.readAll().trimmed();
    }
    ~KernelLimitOverride() { restore(); }

    bool canChange() const { return ::geteuid() == 0 && !m_saved.isEmpty() && ::access(qPrintable(m_path), W_OK) == 0; }
    qint64 saved() const { return m_saved.toLongLong(); }
    bool set(qint64 value) { return write(QByteArray::number(value)); }
    void restore()
    {
        if (m_changed && write(m_saved))
            m_changed = false;
    }

private:
    bool write(const QByteArray &value)
    {
        QFile file(m_path);
        const bool ok = file.open(QIODevice::WriteOnly) && file.write(value + '\n') > 0;
        m_changed = m_changed || ok;
        return ok;
    }

    QString m_path;
    QByteArray m_saved;
    bool m_changed = false;
};

TEST_F(ChangeWatcherTest, LostEventsCountAsAChangeAndTheWatchesAreRebuilt)
{
    KernelLimitOverride queueLimit(QStringLiteral("max_queued_events"));
    if (!queueLimit.canChange())
        GTEST_SKIP() << "needs root to lower fs.inotify.max_queued_events";
    // The queue size is fixed when the inotify instance is created.
    ASSERT_TRUE(queueLimit.set(8));
    startWatcher();
    queueLimit.restore();

    // Far more events than the queue holds, then a folder whose creation event is lost.
    for (int i = 0; i < 40; ++i)
        testsupport::writeFile(m_root + QStringLiteral("/file%1.txt").arg(i), "x");
    makeFolder(m_root + QStringLiteral("/late/deeper"));
    expectOneMoreReport();
    EXPECT_EQ(m_watcher->watchedFolderCount(), 3);
    EXPECT_EQ(kernelWatchCount(), 3);

    testsupport::writeFile(m_root + QStringLiteral("/late/deeper/file.txt"), "x");
    expectOneMoreReport();
}

// Inotify watches this user holds now, from every process's descriptors.
qint64 watchesInUse()
{
    qint64 count = 0;
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : processes) {
        struct stat st = {};
        if (pid.toInt() <= 0 || ::stat(qPrintable(QStringLiteral("/proc/") + pid), &st) != 0
            || st.st_uid != ::geteuid())
            continue;
        QDirIterator fds(QStringLiteral("/proc/") + pid + QStringLiteral("/fdinfo"), QDir::Files);
        while (fds.hasNext()) {
            QFile info(fds.next());
            if (info.open(QIODevice::ReadOnly))
                count += info.readAll().count("inotify wd:");
        }
    }
    return count;
}

QStringList g_changeWarnings;

void recordWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && context.category && QByteArray(context.category) == "pellmere.changes")
        g_changeWarnings.append(message);
}

TEST_F(ChangeWatcherTest, WatchLimitFallsBackToRescanningAndSaysSoOnce)
{
    KernelLimitOverride watchLimit(QStringLiteral("max_user_watches"));
    if (!watchLimit.canChange())
        GTEST_SKIP() << "needs root to lower fs.inotify.max_user_watches";
    for (int i = 0; i < 100; ++i)
        makeFolder(m_root + QStringLiteral("/d%1/e").arg(i));

    g_changeWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordWarnings);
    // Room for a few of the tree's 201 folders only; the limit is back as soon as the
    // watcher has started.
    ASSERT_TRUE(watchLimit.set(watchesInUse() + 3));
    startWatcher(100ms);
    watchLimit.restore();
    qInstallMessageHandler(previous);

    EXPECT_EQ(m_watcher->mode(), ChangeWatcher::Mode::Polling);
    EXPECT_EQ(kernelWatchCount(), 0) << "the partial watch set must be released";
    ASSERT_EQ(g_changeWarnings.size(), 1) << g_changeWarnings.join(u'\n').toStdString();
    EXPECT_TRUE(g_changeWarnings.first().contains(QStringLiteral("fs.inotify.max_user_watches")));

    expectNoReport();
    testsupport::writeFile(m_root + QStringLiteral("/d99/e/file.txt"), "x");
    expectOneMoreReport();
    ASSERT_TRUE(QDir(m_root + QStringLiteral("/d42")).removeRecursively());
    expectOneMoreReport();
    expectNoReport();
}

TEST_F(ChangeWatcherTest, WatchLimitReachedByNewFoldersFallsBackToRescanning)
{
    KernelLimitOverride watchLimit(QStringLiteral("max_user_watches"));
    if (!watchLimit.canChange())
        GTEST_SKIP() << "needs root to lower fs.inotify.max_user_watches";
    startWatcher(100ms);
    ASSERT_EQ(m_watcher->mode(), ChangeWatcher::Mode::Watching);

    g_changeWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordWarnings);
    ASSERT_TRUE(watchLimit.set(watchesInUse() + 2));
    // Far deeper than the room left, so that watches other processes release meanwhile
    // cannot make room for all of it.
    QString deep = m_root;
    for (int level = 0; level < 40; ++level)
        deep += QStringLiteral("/l%1").arg(level);
    makeFolder(deep);
    const bool fellBack = testsupport::waitFor([&] { return m_watcher->mode() == ChangeWatcher::Mode::Polling; }, 3s);
    watchLimit.restore();
    qInstallMessageHandler(previous);
    ASSERT_TRUE(fellBack);
    EXPECT_EQ(g_changeWarnings.size(), 1) << g_changeWarnings.join(u'\n').toStdString();
    EXPECT_EQ(kernelWatchCount(), 0);
    expectOneMoreReport();

    testsupport::writeFile(deep + QStringLiteral("/file.txt"), "x");
    expectOneMoreReport();
}

} // namespace
