// The read-ahead of files about to be copied: files within the window come into the page
// cache before anyone reads them, files beyond it do not, and FIFOs, missing files and empty
// names are passed over without blocking.
#include "agent/copy/PMCopyReadAhead.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <vector>

namespace {

constexpr qint64 kFileBytes = 256 * 1024;

// How many of the file's pages are in the page cache; -1 when that cannot be told.
qint64 residentPages(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    void *map = mmap(nullptr, size_t(kFileBytes), PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED)
        return -1;
    const long page = sysconf(_SC_PAGESIZE);
    std::vector<unsigned char> pages(size_t((kFileBytes + page - 1) / page));
    qint64 resident = -1;
    if (mincore(map, size_t(kFileBytes), pages.data()) == 0) {
        resident = 0;
        for (unsigned char flags : pages)
            resident += flags & 1;
    }
    munmap(map, size_t(kFileBytes));
    return resident;
}

bool evict(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool done = fdatasync(fd) == 0 && posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    ::close(fd);
    return done && residentPages(path) == 0;
}

TEST(PMCopyReadAhead, FilesWithinTheWindowAreReadBeforeTheCopyReachesThem)
{
    // The page cache of a memory file system cannot be emptied: use a disk-backed folder.
    QTemporaryDir dir(QStringLiteral("/var/tmp/pm-readahead-XXXXXX"));
    ASSERT_TRUE(dir.isValid());
    struct statfs fs = {};
    ASSERT_EQ(statfs(QFile::encodeName(dir.path()).constData(), &fs), 0);
    if (fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC)
        GTEST_SKIP() << "/var/tmp is a memory file system here; its pages cannot be evicted";

    QStringList paths;
    for (int i = 0; i < 5; ++i) {
        const QString path = dir.filePath(QStringLiteral("f%1.mp3").arg(i));
        testsupport::writeFile(path, QByteArray(kFileBytes, char('a' + i)));
        paths << path;
    }
    for (const QString &path : std::as_const(paths))
        if (!evict(path))
            GTEST_SKIP() << "this file system keeps its pages; nothing to measure";
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    // 0 is being copied; the window of 3 covers the FIFO, 1, a missing file and nothing more.
    const QStringList order { paths[0], fifo, paths[1], dir.filePath(QStringLiteral("gone")), QString(), paths[2],
        paths[3], paths[4] };
    PMCopyReadAhead readAhead(order, 3);
    readAhead.reached(0);
    EXPECT_EQ(readAhead.advisedCount(), 1);
    EXPECT_TRUE(testsupport::waitFor([&] { return residentPages(paths[1]) == kFileBytes / sysconf(_SC_PAGESIZE); }));
    EXPECT_EQ(residentPages(paths[0]), 0);
    EXPECT_EQ(residentPages(paths[2]), 0);

    // Reaching further advises each file once, never one behind.
    readAhead.reached(2);
    readAhead.reached(1);
    EXPECT_EQ(readAhead.advisedCount(), 2);
    EXPECT_TRUE(testsupport::waitFor([&] { return residentPages(paths[2]) > 0; }));
    EXPECT_EQ(residentPages(paths[3]), 0);
    readAhead.reached(7);
    EXPECT_EQ(readAhead.advisedCount(), 2);
    EXPECT_EQ(residentPages(paths[4]), 0);
}

} // namespace
