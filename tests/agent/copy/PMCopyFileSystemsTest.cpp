// What a copy keeps on each kind of drive (mode, times, extended attributes, links), the
// FAT 4 GiB rule decided by the destination's file system, and moves on a full FUSE drive.
#include "CopyTestDoubles.h"
#include "CopyTestSupport.h"

#include "agent/copy/PMFileManager.h"
#include "agent/copy/PMFileSystemKind.h"
#include "agent/copy/PMItemOperations.h"
#include "support/DriveImage.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <ostream>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>

namespace {

using namespace copytest;
using testsupport::DriveImage;

constexpr time_t kMtimeSeconds = 981173106; // 2001-02-03 04:05:06 UTC
constexpr long kMtimeNanoseconds = 123456789;

// What each file system must keep of a copied file.
struct Expectations {
    DriveImage::FileSystem fileSystem;
    const char *name;
    const char *kind; // PMFileSystemKind's answer
    bool keepsMode;
    bool keepsXattrs;
    bool keepsLinks;
    long timeResolutionNs; // 1 = nanoseconds
};

void PrintTo(const Expectations &expectations, std::ostream *stream)
{
    *stream << expectations.name;
}

class PMCopyFileSystemsTest : public ::testing::TestWithParam<Expectations> {
protected:
    void SetUp() override
    {
        QString whyNot;
        m_drive = DriveImage::create(GetParam().fileSystem, 64, &whyNot);
        if (!m_drive || !m_drive->mount(false, &whyNot))
            GTEST_SKIP() << whyNot.toStdString();
        const QString file = join(m_source.path(), QStringLiteral("Docs/report.txt"));
        testsupport::writeFile(file, "report");
        const QByteArray encoded = QFile::encodeName(file);
        ASSERT_EQ(::chmod(encoded.constData(), 0604), 0);
        ASSERT_EQ(::lsetxattr(encoded.constData(), "user.pellmere", "tag", 3, 0), 0);
        const struct timespec times[2] = { { kMtimeSeconds, kMtimeNanoseconds }, { kMtimeSeconds, kMtimeNanoseconds } };
        ASSERT_EQ(::utimensat(AT_FDCWD, encoded.constData(), times, 0), 0);
        makeLink(QStringLiteral("report.txt"), join(m_source.path(), QStringLiteral("Docs/link")));
    }

    QTemporaryDir m_source;
    std::unique_ptr<DriveImage> m_drive;
    RecordingHandler m_handler;
};

TEST_P(PMCopyFileSystemsTest, CopyKeepsWhatTheFileSystemCanHold)
{
    const Expectations expected = GetParam();
    EXPECT_EQ(PMFileSystemKind::kindForPath(m_drive->mountPoint()), QString::fromLatin1(expected.kind));
    EXPECT_FALSE(PMFileSystemKind::isFATPath(m_drive->mountPoint()));
    PMFileManager fileManager;
    // As in a sync: the copy learns what the drive keeps and asks it for nothing else.
    fileManager.setDriveRoot(m_drive->mountPoint());
    const QString destination = join(m_drive->mountPoint(), QStringLiteral("Docs"));
    // Copy the file on its own first: a failing link must not hide the file's outcome.
    ASSERT_TRUE(fileManager.copyPath(join(m_source.path(), QStringLiteral("Docs/report.txt")),
        join(destination, QStringLiteral("report.txt")), true, &m_handler));
    const bool linkCopied = fileManager.copyPath(join(m_source.path(), QStringLiteral("Docs/link")),
        join(destination, QStringLiteral("link")), true, &m_handler);

    const QString copy = join(destination, QStringLiteral("report.txt"));
    EXPECT_EQ(testsupport::readFile(copy), QByteArray("report"));
    const struct stat copied = lstatOf(copy);
    if (expected.keepsMode) {
        EXPECT_EQ(copied.st_mode & 07777, 0604u);
    }
    EXPECT_EQ(copied.st_mtim.tv_sec, kMtimeSeconds);
    EXPECT_EQ(copied.st_mtim.tv_nsec, kMtimeNanoseconds / expected.timeResolutionNs * expected.timeResolutionNs);
    char value[8] = {};
    const ssize_t length = ::lgetxattr(QFile::encodeName(copy).constData(), "user.pellmere", value, sizeof value);
    EXPECT_EQ(length == 3, expected.keepsXattrs);
    // Metadata the drive cannot hold is no error.
    EXPECT_TRUE(m_handler.agentErrors.isEmpty());

    EXPECT_EQ(linkCopied, expected.keepsLinks);
    if (expected.keepsLinks) {
        EXPECT_EQ(linkText(join(destination, QStringLiteral("link"))), QStringLiteral("report.txt"));
        EXPECT_TRUE(m_handler.fileManagerErrors.isEmpty());
    } else {
        // The drive refused the link; the handler was asked and the copy was counted anyway.
        EXPECT_EQ(m_handler.fileManagerErrors.size(), 1);
        EXPECT_EQ(m_handler.progress.copiedReports, 2);
    }
}

INSTANTIATE_TEST_SUITE_P(Drives, PMCopyFileSystemsTest,
    ::testing::Values(Expectations { DriveImage::FileSystem::Ext4, "ext4", "ext4", true, true, true, 1 },
        Expectations { DriveImage::FileSystem::Ntfs, "ntfs", "ntfs", false, true, true, 100 },
        Expectations { DriveImage::FileSystem::ExFat, "exfat", "exfat", false, false, false, 1000000000 }),
    [](const ::testing::TestParamInfo<Expectations> &param) { return std::string(param.param.name); });

class PMCopyFatLimitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString whyNot;
        m_drive = DriveImage::create(DriveImage::FileSystem::Fat32, 64, &whyNot);
        if (!m_drive)
            GTEST_SKIP() << whyNot.toStdString();
        ASSERT_TRUE(m_drive->fatMakeFolder(QStringLiteral("/Movies")));
        // FAT can be mounted read-only only; the filter rejects what would be written.
        if (!m_drive->mount(true, &whyNot))
            GTEST_SKIP() << whyNot.toStdString();
        // Sparse: 5 GiB long, nothing written.
        QFile big(join(m_source.path(), QStringLiteral("Movies/long.mkv")));
        ASSERT_TRUE(QDir().mkpath(join(m_source.path(), QStringLiteral("Movies"))));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize(kBigSize));
    }

    static constexpr qint64 kBigSize = qint64(5) * 1024 * 1024 * 1024;
    QTemporaryDir m_source;
    std::unique_ptr<DriveImage> m_drive;
    RecordingFilter m_filter;
    RecordingHandler m_handler;
};

TEST_F(PMCopyFatLimitTest, ExistingFatDestinationTurnsTheLimitOnAndTheLongFileIsRefused)
{
    EXPECT_EQ(PMFileSystemKind::kindForPath(m_drive->mountPoint()), QStringLiteral("vfat"));
    EXPECT_TRUE(PMFileSystemKind::isFATPath(join(m_drive->mountPoint(), QStringLiteral("Movies"))));
    PMFileManager fileManager(&m_filter);

    EXPECT_TRUE(fileManager.copyPath(join(m_source.path(), QStringLiteral("Movies")),
        join(m_drive->mountPoint(), QStringLiteral("Movies")), true, &m_handler));

    ASSERT_FALSE(m_filter.limits.isEmpty());
    EXPECT_FALSE(m_filter.limits.contains(false));
    EXPECT_EQ(m_handler.progress.skippedFiltered, quint64(kBigSize));
    EXPECT_EQ(m_handler.progress.copiedReports, 0);
}

TEST_F(PMCopyFatLimitTest, MissingDestinationOnAFatDriveHasTheLimitToo)
{
    PMFileManager fileManager(&m_filter);

    // The new folder would hold nothing but the long file: it is not even created.
    EXPECT_TRUE(fileManager.copyPath(join(m_source.path(), QStringLiteral("Movies")),
        join(m_drive->mountPoint(), QStringLiteral("NewMovies/Deeper")), true, &m_handler));

    ASSERT_FALSE(m_filter.limits.isEmpty());
    EXPECT_FALSE(m_filter.limits.contains(false));
    EXPECT_EQ(m_handler.progress.skippedFiltered, quint64(kBigSize));
    EXPECT_EQ(m_handler.progress.copiedReports, 0);
    EXPECT_FALSE(QFileInfo::exists(join(m_drive->mountPoint(), QStringLiteral("NewMovies"))));
}

TEST_F(PMCopyFatLimitTest, TheNearestExistingFolderStandsForAMissingDestination)
{
    const QString mount = m_drive->mountPoint();
    EXPECT_EQ(PMFileManager::nearestExistingPath(join(mount, QStringLiteral("Movies/a/b/c.mkv"))),
        join(mount, QStringLiteral("Movies")));
    EXPECT_EQ(PMFileManager::nearestExistingPath(join(mount, QStringLiteral("Movies"))),
        join(mount, QStringLiteral("Movies")));
    EXPECT_EQ(PMFileManager::nearestExistingPath(QStringLiteral("/no/such/folder")), QStringLiteral("/"));
}

} // namespace

namespace {

// One writable FAT32 mount through the kernel's own vfat driver (slow to start, so one test
// checks everything FAT does differently).
TEST(PMCopyFatDriveTest, FatKeepsDataAndTwoSecondTimesRefusesLinksAndFilesOf4GiB)
{
    QString whyNot;
    auto drive = DriveImage::create(DriveImage::FileSystem::Fat32, 64, &whyNot);
    if (!drive || !drive->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    const QString mount = drive->mountPoint();
    EXPECT_EQ(PMFileSystemKind::kindForPath(mount), QStringLiteral("vfat"));
    EXPECT_TRUE(PMFileSystemKind::isFATPath(mount));

    QTemporaryDir source;
    const QString file = join(source.path(), QStringLiteral("Docs/Report.txt"));
    testsupport::writeFile(file, "report");
    const QByteArray encoded = QFile::encodeName(file);
    ASSERT_EQ(::chmod(encoded.constData(), 0604), 0);
    ASSERT_EQ(::lsetxattr(encoded.constData(), "user.pellmere", "tag", 3, 0), 0);
    const struct timespec times[2]
        = { { kMtimeSeconds + 1, kMtimeNanoseconds }, { kMtimeSeconds + 1, kMtimeNanoseconds } };
    ASSERT_EQ(::utimensat(AT_FDCWD, encoded.constData(), times, 0), 0);
    makeLink(QStringLiteral("Report.txt"), join(source.path(), QStringLiteral("Docs/link")));

    PMFileManager fileManager;
    RecordingHandler handler;
    // Mode and extended attributes cannot be held: silently left behind.
    ASSERT_TRUE(fileManager.copyPath(file, join(mount, QStringLiteral("Docs/Report.txt")), true, &handler));
    const QString copy = join(mount, QStringLiteral("Docs/Report.txt"));
    EXPECT_EQ(testsupport::readFile(copy), QByteArray("report"));
    EXPECT_EQ(lstatOf(copy).st_mtim.tv_sec, kMtimeSeconds); // rounded down to 2 seconds
    EXPECT_TRUE(handler.agentErrors.isEmpty());

    // Links are refused by the drive and the handler is asked.
    EXPECT_FALSE(fileManager.copyPath(
        join(source.path(), QStringLiteral("Docs/link")), join(mount, QStringLiteral("Docs/link")), true, &handler));
    EXPECT_EQ(handler.fileManagerErrors.size(), 1);

    // Names differing only in case are the same file there.
    testsupport::writeFile(join(source.path(), QStringLiteral("REPORT.TXT")), "other");
    EXPECT_FALSE(fileManager.copyPath(join(source.path(), QStringLiteral("REPORT.TXT")),
        join(mount, QStringLiteral("Docs/REPORT.TXT")), true, &handler));
    EXPECT_EQ(testsupport::readFile(copy), QByteArray("report"));

    // Without the filter a file of 4 GiB is attempted and the drive refuses it: the reason the
    // limit exists. (Sparse: nothing is really written.)
    const QString big = join(source.path(), QStringLiteral("big.mkv"));
    {
        QFile out(big);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        ASSERT_TRUE(out.resize(qint64(4) * 1024 * 1024 * 1024));
    }
    EXPECT_FALSE(fileManager.copyPath(big, join(mount, QStringLiteral("Docs/big.mkv")), true, &handler));
    ASSERT_FALSE(handler.agentErrors.isEmpty());
    EXPECT_EQ(handler.agentErrors.last().code, EFBIG);
    // With the filter and an existing FAT folder, the limit is on and the file never starts.
    RecordingFilter filter;
    PMFileManager filtered(&filter);
    RecordingHandler filteredHandler;
    QTemporaryDir movies;
    ASSERT_TRUE(QFile::rename(big, join(movies.path(), QStringLiteral("big.mkv"))));
    EXPECT_TRUE(filtered.copyPath(movies.path(), join(mount, QStringLiteral("Docs")), true, &filteredHandler));
    EXPECT_EQ(filter.limits, QList<bool> { true });
    EXPECT_TRUE(filteredHandler.agentErrors.isEmpty());
    // A folder new to the drive is judged by the drive it goes to: the limit holds there too,
    // so the big file is left out instead of failing half-written.
    testsupport::writeFile(join(movies.path(), QStringLiteral("small.mkv")), "small");
    filter.limits.clear();
    EXPECT_TRUE(filtered.copyPath(movies.path(), join(mount, QStringLiteral("New/Movies")), true, &filteredHandler));
    EXPECT_FALSE(filter.limits.isEmpty());
    EXPECT_FALSE(filter.limits.contains(false));
    EXPECT_TRUE(filteredHandler.agentErrors.isEmpty());
    EXPECT_EQ(testsupport::readFile(join(mount, QStringLiteral("New/Movies/small.mkv"))), QByteArray("small"));
    EXPECT_FALSE(QFileInfo::exists(join(mount, QStringLiteral("New/Movies/big.mkv"))));
    // Bound to the drive as a sync binds it, the answer is learnt once and holds for every copy
    // onto the drive; bound to another root (a local folder here), it is asked again.
    PMFileManager bound(&filter);
    bound.setDriveRoot(mount);
    bound.setDriveDevice(lstatOf(mount).st_dev);
    for (const QString &folder : { QStringLiteral("Bound/One"), QStringLiteral("Bound/Two/Deeper") }) {
        filter.limits.clear();
        EXPECT_TRUE(bound.copyPath(movies.path(), join(mount, folder), true, &filteredHandler));
        EXPECT_FALSE(filter.limits.isEmpty());
        EXPECT_FALSE(filter.limits.contains(false)) << folder.toStdString();
        EXPECT_FALSE(QFileInfo::exists(join(mount, folder + QStringLiteral("/big.mkv"))));
    }
    QTemporaryDir local;
    bound.setDriveRoot(local.path());
    bound.setDriveDevice(lstatOf(local.path()).st_dev);
    filter.limits.clear();
    EXPECT_TRUE(bound.copyPath(join(movies.path(), QStringLiteral("small.mkv")),
        join(local.path(), QStringLiteral("Local/small.mkv")), true, &filteredHandler));
    EXPECT_EQ(filter.limits, QList<bool> { false });

    // Folders move on FAT (the last step of every sync).
    ASSERT_TRUE(fileManager.movePath(
        join(mount, QStringLiteral("Docs")), join(mount, QStringLiteral("Moved/Docs")), true, &handler));
    EXPECT_EQ(testsupport::readFile(join(mount, QStringLiteral("Moved/Docs/Report.txt"))), QByteArray("report"));
    EXPECT_FALSE(QFileInfo::exists(join(mount, QStringLiteral("Docs"))));
}

} // namespace

namespace {

// Fills the mounted drive until less than `leave` bytes are free.
void fillDrive(const QString &mount, qint64 leave)
{
    const QByteArray filler = QFile::encodeName(join(mount, QStringLiteral("filler.bin")));
    const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    const QByteArray block(64 * 1024, 'f');
    for (;;) {
        struct statvfs info = {};
        ASSERT_EQ(::fstatvfs(fd, &info), 0);
        const qint64 room = static_cast<qint64>(info.f_bavail) * static_cast<qint64>(info.f_frsize);
        if (room < leave)
            break;
        const qint64 chunk = std::min<qint64>(block.size(), std::max<qint64>(room - leave / 2, 4096));
        if (::write(fd, block.constData(), static_cast<size_t>(chunk)) <= 0)
            break;
    }
    ::fsync(fd);
    ::close(fd);
}

// ntfs-3g, run out of space in the middle of a rename, leaves the folder naming an entry that
// cannot be found, and the name can never be made again until the drive is repaired: a move
// on a nearly full FUSE drive must be refused as "no space" before the driver tries it, and
// must work once there is room.
TEST(PMItemOperationsFuseTest, MovesOnANearlyFullNtfsDriveAreRefusedBeforeTheDriverCanDamageIt)
{
    QString whyNot;
    auto drive = DriveImage::create(DriveImage::FileSystem::Ntfs, 16, &whyNot);
    if (!drive || !drive->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    const QString mount = drive->mountPoint();
    ASSERT_TRUE(QDir(mount).mkpath(QStringLiteral("temp")) && QDir(mount).mkpath(QStringLiteral("Docs")));
    for (int i = 0; i < 40; ++i)
        testsupport::writeFile(join(mount, QStringLiteral("temp/copy %1 日本語.gif").arg(i)), QByteArray(300, 'x'));
    fillDrive(mount, 256 * 1024);

    RecordingHandler handler;
    for (int i = 0; i < 40; ++i) {
        PMItemOperations operations(&handler);
        EXPECT_FALSE(operations.moveItem(join(mount, QStringLiteral("temp/copy %1 日本語.gif").arg(i)),
            join(mount, QStringLiteral("Docs/copy %1 日本語.gif").arg(i))));
    }
    EXPECT_EQ(handler.fileManagerErrors, QList<int>(40, ENOSPC));
    EXPECT_TRUE(QDir(join(mount, QStringLiteral("Docs"))).isEmpty());

    ASSERT_TRUE(QFile::remove(join(mount, QStringLiteral("filler.bin"))));
    for (int i = 0; i < 40; ++i) {
        PMItemOperations operations(&handler);
        EXPECT_TRUE(operations.moveItem(join(mount, QStringLiteral("temp/copy %1 日本語.gif").arg(i)),
            join(mount, QStringLiteral("Docs/copy %1 日本語.gif").arg(i))));
    }
    EXPECT_EQ(QDir(join(mount, QStringLiteral("Docs"))).entryList(QDir::Files).size(), 40);
}

// ntfs-3g refuses to rename a file onto an existing one whose name is near the 255-character
// limit (it first renames the old one to a longer name of its own): a changed file with such
// a name must still replace its old copy, every time, and a short name is replaced as before.
TEST(PMItemOperationsFuseTest, AFileWithANameNearTheLimitReplacesItsOldCopyOnNtfs)
{
    QString whyNot;
    auto drive = DriveImage::create(DriveImage::FileSystem::Ntfs, 16, &whyNot);
    if (!drive || !drive->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    const QString mount = drive->mountPoint();
    const QString folderName = QStringLiteral("n1-") + QString(240, QLatin1Char('L'));
    ASSERT_TRUE(QDir(mount).mkpath(QStringLiteral("temp/") + folderName) && QDir(mount).mkpath(folderName));
    RecordingHandler handler;
    for (const int length : { 20, 250, 255 }) {
        const QString name = QStringLiteral("n13-") + QString(length - 8, QLatin1Char('L')) + QStringLiteral(".doc");
        const QString staged = join(mount, QStringLiteral("temp/") + folderName + QLatin1Char('/') + name);
        const QString target = join(mount, folderName + QLatin1Char('/') + name);
        testsupport::writeFile(target, "old");
        for (const QByteArray &contents : { QByteArray("new"), QByteArray("newer") }) {
            testsupport::writeFile(staged, contents);
            PMItemOperations operations(&handler);
            EXPECT_TRUE(operations.replaceItem(staged, target)) << length;
            EXPECT_EQ(testsupport::readFile(target), contents) << length;
            EXPECT_FALSE(QFileInfo::exists(staged)) << length;
        }
    }
    EXPECT_TRUE(handler.fileManagerErrors.isEmpty());
}

} // namespace
