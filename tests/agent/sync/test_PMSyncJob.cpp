// A sync, tested the way a user sees it: make a tree on the computer and a drive, run one
// job through the real controller and worker thread, compare the drive with what the rules
// say it must hold.
#include "agent/copy/PMCopyItemFilter.h"
#include "agent/log/PMLogController.h"
#include "agent/sync/KRTCopyErrorReporter.h"
#include "agent/sync/PMDriveJobLock.h"
#include "agent/sync/PMItemScanner.h"
#include "agent/sync/PMSyncController.h"
#include "agent/sync/PMSyncJob.h"
#include "agent/sync/PMTimestampPrecision.h"

#include "SyncTestDoubles.h"
#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace synctest;

namespace {

const QString kUser = QStringLiteral("0A1B2C3D4E5F-501");
constexpr qint64 kSecond = 1000000000;

void setModificationTime(const QString &path, qint64 seconds, long nanoseconds = 0)
{
    const struct timespec times[2] = { { time_t(seconds), nanoseconds }, { time_t(seconds), nanoseconds } };
    ASSERT_EQ(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0)
        << path.toStdString();
}

qint64 modificationTime(const QString &path)
{
    struct stat sb = {};
    if (lstat(QFile::encodeName(path).constData(), &sb) != 0)
        return -1;
    return qint64(sb.st_mtim.tv_sec) * kSecond + sb.st_mtim.tv_nsec;
}

// Every file below root, relative, with its contents.
QMap<QString, QByteArray> treeOf(const QString &root)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(
        root, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        tree.insert(path.mid(root.size() + 1), testsupport::readFile(path));
    }
    return tree;
}

class SyncJobTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        ASSERT_TRUE(m_drive.isValid());
    }

    PMDriveLayout::Identity identity(const QString &user = QStringLiteral("alice"),
        const QString &computer = QStringLiteral("Studio"), const QString &id = kUser) const
    {
        return { user, computer, id, QStringLiteral("UUID-1"), m_home.path() };
    }

    std::unique_ptr<PMSyncController> makeController(const QString &id = kUser,
        std::optional<PMDriveLayout::Identity> who = std::nullopt, const QString &mountPoint = QString())
    {
        const PMDriveLayout::Identity layoutIdentity = who.value_or(identity());
        auto controller = std::make_unique<PMSyncController>(mountPoint.isEmpty() ? m_drive.path() : mountPoint,
            QStringLiteral("Vendor"), QStringLiteral("UUID-1"), id, &m_owner, [layoutIdentity](PMSyncController &c) {
                PMSyncJob::Options options;
                options.identity = layoutIdentity;
                options.limitTo4G = false;
                // The engine itself; media filtering has tests of its own.
                options.makeFilter = [] { return std::shared_ptr<const PMCopyItemFilter>(); };
                return std::make_unique<PMSyncJob>(c, options);
            });
        controller->setParticipateSyncState(true);
        return controller;
    }

    void setSyncList(PMSyncController &controller, const QStringList &items)
    {
        ASSERT_TRUE(controller.deviceConfig().setSyncItemList(items));
        ASSERT_TRUE(controller.deviceConfig().writeConfigFile());
    }

    // Runs one full job; answers the activity it ended with (6 completed, 5 failed).
    int runSync(PMSyncController &controller) { return synctest::syncToTheEnd(controller, m_owner); }

    QString local(const QString &relative) const { return m_home.filePath(relative); }
    QString onDrive(const QString &relative) const
    {
        return m_drive.filePath(QStringLiteral("alice_Studio/") + relative);
    }
    static QString logText() { return PMLogController::sharedInstance().contents(); }

    QTemporaryDir m_home;
    QTemporaryDir m_drive;
    RecordingOwner m_owner;
};

} // namespace

TEST_F(SyncJobTest, AFirstSyncCopiesTheWholeTreeIntoTheComputerUsersFolder)
{
    testsupport::writeFile(local(QStringLiteral("Music/a.mp3")), "song a");
    testsupport::writeFile(local(QStringLiteral("Music/Album/b.mp3")), "song b");
    testsupport::writeFile(local(QStringLiteral("Music/.hidden")), "hidden");
    testsupport::writeFile(local(QStringLiteral("Notes.txt")), "a single file item");
    setModificationTime(local(QStringLiteral("Music/a.mp3")), 1600000000, 123456789);
    auto controller = makeController();
    setSyncList(*controller, { QStringLiteral("~/Music"), QStringLiteral("~/Notes.txt") });

    ASSERT_EQ(runSync(*controller), PMSyncController::kActivityCompleted) << logText().toStdString();

    QMap<QString, QByteArray> expected = treeOf(local(QStringLiteral("Music")));
    EXPECT_EQ(treeOf(onDrive(QStringLiteral("Music"))), expected);
    EXPECT_EQ(testsupport::readFile(onDrive(QStringLiteral("Notes.txt"))), QByteArray("a single file item"));
    EXPECT_EQ(modificationTime(onDrive(QStringLiteral("Music/a.mp3"))), 1600000000 * kSecond + 123456789)
        << "times are kept";
    EXPECT_FALSE(QFileInfo::exists(m_drive.filePath(QStringLiteral("alice_Studio/.Z_PM_W/") + kUser)))
        << "the drive temporary folder is gone";
    EXPECT_FALSE(QFileInfo::exists(local(QStringLiteral(".Z_PM_W/UUID-1"))));
    EXPECT_TRUE(controller->lastSyncTime().isValid()) << "a complete sync records its time";
    EXPECT_EQ(controller->failureType(), PMSyncController::kFailureNone);
}

TEST_F(SyncJobTest, ASecondSyncCopiesNothingAndANewerFileIsOverwritten)
{
    testsupport::writeFile(local(QStringLiteral("Music/same.mp3")), "same");
    testsupport::writeFile(local(QStringLiteral("Music/newer.mp3")), "old text");
    setModificationTime(local(QStringLiteral("Music/newer.mp3")), 1500000000);
    auto controller = makeController();
    setSyncList(*controller, { QStringLiteral("~/Music") });
    ASSERT_EQ(runSync(*controller), PMSyncController::kActivityCompleted);

    struct stat before = {};
    ASSERT_EQ(lstat(QFile::encodeName(onDrive(QStringLiteral("Music/same.mp3"))).constData(), &before), 0);
    testsupport::writeFile(local(QStringLiteral("Music/newer.mp3")), "new text");
    setModificationTime(local(QStringLiteral("Music/newer.mp3")), 1500000001); // one second newer
    // Both sides changed since the last sync would be a conflict; forget it to test plain overwrite.
    controller->updateLastSyncTime(QDateTime());
    ASSERT_EQ(runSync(*controller), PMSyncController::kActivityCompleted);

    struct stat after = {};
    ASSERT_EQ(lstat(QFile::encodeName(onDrive(QStringLiteral("Music/same.mp3"))).constData(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino) << "an unchanged file is not copied again";
    EXPECT_EQ(testsupport::readFile(onDrive(QStringLiteral("Music/newer.mp3"))), QByteArray("new text"));
    EXPECT_EQ(controller->totalCopied(), 0u) << "counters are reset after each job";
}

TEST_F(SyncJobTest, FilesOnlyOnTheDriveStayAndLinksAreNeverCopied)
{
    testsupport::writeFile(local(QStringLiteral("Music/keep.mp3")), "keep");
    testsupport::writeFile(local(QStringLiteral("Music/gone.mp3")), "deleted later");
    ASSERT_TRUE(QFile::link(local(QStringLiteral("Music/keep.mp3")), local(QStringLiteral("Music/link.mp3"))));
    auto controller = makeController();
    setSyncList(*controller, { QStringLiteral("~/Music") });
    ASSERT_EQ(runSync(*controller), PMSyncController::kActivityCompleted);
    EXPECT_FALSE(QFileInfo(onDrive(QStringLiteral("Music/link.mp3"))).exists()
        || QFileInfo(onDrive(QStringLiteral("Music/link.mp3"))).isSymLink());

    ASSERT_TRUE(QFile::remove(local(QStringLiteral("Music/gone.mp3"))));
    ASSERT_EQ(runSync(*controller), PMSyncController::kActivityCompleted);
    EXPECT_EQ(testsupport::readFile(onDrive(QStringLiteral("Music/gone.mp3"))), QByteArray("deleted later"))
        << "a file deleted on the computer stays on the drive";
}

TEST_F(SyncJobTest, AFileWhereTheDriveHasAFolderStopsTheSyncBeforeAnythingIsCopied)
{
    testsupport::writeFile(local(QStringLiteral("Music/a.mp3")), "a");
    testsupport::writeFile(local(QStringLiteral("Music/clash")), "a file here");
    QDir().mkpath(onDrive(QStringLiteral("Music/clash")));
    auto controller = makeController();
    setSyncList(*controller, { QStringLiteral("~/Music") });

    EXPECT_EQ(runSync(*controller), PMSyncController::kActivityFailed);
    EXPECT_EQ(controller->failureType(), PMSyncController::kFailureIncomplete);
    EXPECT_FALSE(QFileInfo::exists(onDrive(QStringLiteral("Music/a.mp3")))) << "the walk stops before copying";
    EXPECT_FALSE(controller->lastSyncTime().isValid());
    EXPECT_TRUE(logText().contains(QStringLiteral("did not complete successfully")));
}

TEST_F(SyncJobTest, ANewerCopyOnTheDriveIsReplacedByTheComputersWhenOnlyTheDriveChanged)
{
    testsupport::writeFile(local(QStringLiteral("Music/a.mp3")), "computer");
    setModificationTime(local(QStringLiteral("Music/a.mp3")), 1500000000);
    testsupport::writeFile(onDrive(QStringLiteral("Music/a.mp3")), "drive, edited later");
    setModificationTime(onDrive(QStringLiteral("Music/a.mp3")), 1600000000);
    auto controller = makeController();
    setSyncList(*controller, { QStringLiteral("~/Music") });

    // No last sync time: nothing tells that both sides changed, so the drive follows the computer.
    EXPECT_EQ(runSync(*controller), PMSyncController::kActivityCompleted);
    EXPECT_EQ(testsupport::readFile(onDrive(QStringLiteral("Music/a.mp3"))), QByteArray("computer"));
    EXPECT_EQ(QDir(onDrive(QStringLiteral("Music"))).entryList(QDir::Files), QStringList { QStringLiteral("a.mp3") });
}

TEST_F(SyncJobTest, DifferentCopiesAreSyncedWhateverTheLastSyncTimeSays)
{
    testsupport::writeFile(local(QStringLiteral("Music/stale.mp3")), "brought over late");
    setModificationTime(local(QStringLiteral("Music/stale.mp3")), 1600000000);
    testsupport::writeFile(onDrive(QStringLiteral("Music/stale.mp3")), "an old copy never replaced");
    setModificationTime(onDrive(QStringLiteral("Music/stale.mp3")), 1500000000);
    testsupport::writeFile(local(QStringLiteral("Music/restored.mp3")), "restored from a backup");
    setModificationTime(local(QStringLiteral("Music/restored.mp3")), 1400000000);
    testsupport::writeFile(onDrive(QStringLiteral("Music/restored.mp3")), "the version the backup replaced");
    setModificationTime(onDrive(QStringLiteral("Music/restored.mp3")), 1500000000);
    testsupport::writeFile(local(QStringLiteral("Music/resized.mp3")), "same date, longer text");
    setModificationTime(local(QStringLiteral("Music/resized.mp3")), 1500000000);
    testsupport::writeFile(onDrive(QStringLiteral("Music/resized.mp3")), "same date");
    setModificationTime(onDrive(QStringLiteral("Music/resized.mp3")), 1500000000);
    testsupport::writeFile(local(QStringLiteral("Music/same.mp3")), "equal");
    setModificationTime(local(QStringLiteral("Music/same.mp3")), 1500000000);
    testsupport::writeFile(onDrive(QStringLiteral("Music/same.mp3")), "EQUAL");
    setModificationTime(onDrive(QStringLiteral("Music/same.mp3")), 1500000000);
    auto controller = makeController();
    setSyncList(*controller, { QStringLiteral("~/Music") });
    // A sync recorded after every date above, as after a job killed while moving copies into place.
    controller->updateLastSyncTime(QDateTime::currentDateTimeUtc());

    ASSERT_EQ(runSync(*controller), PMSyncController::kActivityCompleted) << logText().toStdString();
    EXPECT_EQ(testsupport::readFile(onDrive(QStringLiteral("Music/stale.mp3"))), QByteArray("brought over late"));
    EXPECT_EQ(
        testsupport::readFile(onDrive(QStringLiteral("Music/restored.mp3"))), QByteArray("restored from a backup"));
    EXPECT_EQ(modificationTime(onDrive(QStringLiteral("Music/restored.mp3"))), 1400000000 * kSecond);
    EXPECT_EQ(
        testsupport::readFile(onDrive(QStringLiteral("Music/resized.mp3"))), QByteArray("same date, longer text"));
    EXPECT_EQ(testsupport::readFile(onDrive(QStringLiteral("Music/same.mp3"))), QByteArray("EQUAL"))
        << "equal date and size: taken as the same file, not copied again";
}

TEST_F(SyncJobTest, AConflictTheDriveWonKeepsTheDrivesCopyUnderAClearName)
{
    testsupport::writeFile(local(QStringLiteral("Music/a.mp3")), "first");
    testsupport::writeFile(local(QStringLiteral("Music/b.mp3")), "b first");
    auto controller = makeController();
    setSyncList(*controller, { QStringLiteral("~/Music") });
    ASSERT_EQ(runSync(*controller), PMSyncController::kActivityCompleted);
    const qint64 lastSync = controller->lastSyncTime().toSecsSinceEpoch();
    ASSERT_GT(lastSync, 0);

    // Both sides edited after that sync; the drive's edits are the later ones.
    const qint64 computerEdit = lastSync + 3600;
    const qint64 driveEdit = lastSync + 7200;
    testsupport::writeFile(local(QStringLiteral("Music/a.mp3")), "computer's edit");
    setModificationTime(local(QStringLiteral("Music/a.mp3")), computerEdit);
    testsupport::writeFile(onDrive(QStringLiteral("Music/a.mp3")), "drive's edit");
    setModificationTime(onDrive(QStringLiteral("Music/a.mp3")), driveEdit);
    testsupport::writeFile(local(QStringLiteral("Music/b.mp3")), "computer's b");
    setModificationTime(local(QStringLiteral("Music/b.mp3")), computerEdit);
    testsupport::writeFile(onDrive(QStringLiteral("Music/b.mp3")), "drive's b");
    setModificationTime(onDrive(QStringLiteral("Music/b.mp3")), driveEdit);
    const QString stamp
        = QDateTime::fromSecsSinceEpoch(driveEdit).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HHmm"));
    const QString keptB = QStringLiteral("Music/b (drive copy %1).mp3").arg(stamp);
    // A name already taken on the drive is left alone; the kept copy takes the next one.
    testsupport::writeFile(onDrive(keptB), "an earlier kept copy");

    ASSERT_EQ(runSync(*controller), PMSyncController::kActivityCompleted) << logText().toStdString();
    EXPECT_EQ(testsupport::readFile(onDrive(QStringLiteral("Music/a.mp3"))), QByteArray("computer's edit"));
    const QString keptA = QStringLiteral("Music/a (drive copy %1).mp3").arg(stamp);
    EXPECT_EQ(testsupport::readFile(onDrive(keptA)), QByteArray("drive's edit"));
    EXPECT_EQ(modificationTime(onDrive(keptA)), driveEdit * kSecond);
    EXPECT_TRUE(logText().contains(onDrive(keptA))) << "the kept copy is named in the log";
    EXPECT_EQ(testsupport::readFile(onDrive(QStringLiteral("Music/b.mp3"))), QByteArray("computer's b"));
    EXPECT_EQ(testsupport::readFile(onDrive(keptB)), QByteArray("an earlier kept copy"));
    EXPECT_EQ(testsupport::readFile(onDrive(QStringLiteral("Music/b (drive copy %1) 2.mp3").arg(stamp))),
        QByteArray("drive's b"));
    EXPECT_FALSE(QFileInfo::exists(local(keptA))) << "nothing is written on the computer";

    // The next sync finds the two sides equal and keeps nothing more.
    ASSERT_EQ(runSync(*controller), PMSyncController::kActivityCompleted);
    EXPECT_EQ(QDir(onDrive(QStringLiteral("Music"))).entryList(QDir::Files).size(), 5);
}

TEST_F(SyncJobTest, AFolderTheUserCannotReadIsNamedAndTheSyncIsNotComplete)
{
    testsupport::writeFile(local(QStringLiteral("Music/Open/a.mp3")), "a");
    testsupport::writeFile(local(QStringLiteral("Music/Closed/b.mp3")), "b");
    testsupport::writeFile(local(QStringLiteral("Notes/n.txt")), "n");
    QDir().mkpath(onDrive(QStringLiteral("Music/Closed"))); // so the walk goes into the folder itself
    const QString closed = local(QStringLiteral("Music/Closed"));
    // The job runs as an unprivileged user (root reads every folder): in a child process that
    // gave up root, when there is root. Everything else is open to it.
    QDirIterator it(m_home.path(), QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QStringList open { m_home.path(), m_drive.path() };
    while (it.hasNext())
        open << it.next();
    QDirIterator driveIt(m_drive.path(), QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (driveIt.hasNext())
        open << driveIt.next();
    for (const QString &path : open)
        ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0777), 0);
    ASSERT_EQ(chmod(QFile::encodeName(closed).constData(), 0), 0);
    // The job lock lives in the runtime folder, which must be the unprivileged user's own.
    QTemporaryDir runtime;
    ASSERT_EQ(chown(QFile::encodeName(runtime.path()).constData(), 65534, 65534), 0);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(10);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        const int code = [&] {
            auto controller = makeController();
            if (!controller->deviceConfig().setSyncItemList(
                    QStringList { QStringLiteral("~/Music"), QStringLiteral("~/Notes") })
                || !controller->deviceConfig().writeConfigFile())
                return 11;
            if (runSync(*controller) != PMSyncController::kActivityFailed)
                return 12;
            if (controller->failureType() != PMSyncController::kFailureIncomplete)
                return 13;
            if (!logText().contains(QStringLiteral("Cannot read \"%1\"").arg(closed)))
                return 14;
            if (testsupport::readFile(onDrive(QStringLiteral("Music/Open/a.mp3"))) != QByteArray("a")
                || testsupport::readFile(onDrive(QStringLiteral("Notes/n.txt"))) != QByteArray("n"))
                return 15; // what could be read is synced
            if (controller->lastSyncTime().isValid())
                return 16;
            return 0;
        }();
        if (code != 0)
            fputs(logText().toLocal8Bit().constData(), stderr); // for the parent's report
        _exit(code);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    chmod(QFile::encodeName(closed).constData(), 0700);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no unprivileged user, 12/13: reported complete, 14: folder not named";
}

namespace {

// A file "café.txt" with the é in Latin-1 (the single byte 0xE9) and a folder "d" 0xFF holding
// one file, in "Walked" (on the drive already, so the walk lists it) and "New" (copied whole).
void makeTreeWithNamesThatAreNotUtf8(const QString &home)
{
    for (const QString &folder : { QStringLiteral("Walked"), QStringLiteral("New") }) {
        testsupport::writeFile(home + QLatin1Char('/') + folder + QStringLiteral("/plain.txt"), "plain");
        const QByteArray base = QFile::encodeName(home + QLatin1Char('/') + folder);
        ASSERT_EQ(::mkdir(QByteArray(base + "/d\xFF").constData(), 0755), 0);
        for (const QByteArray &file : { QByteArray("/caf\xE9.txt"), QByteArray("/d\xFF/inner.txt") }) {
            const int fd = ::open(QByteArray(base + file).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::write(fd, file.constData(), size_t(file.size())), ssize_t(file.size()));
            ::close(fd);
        }
    }
}

// Every file below root by the bytes of its relative path, with its contents, read with
// readdir and open so names that are not text are seen exactly as stored.
QMap<QByteArray, QByteArray> byteTreeOf(const QByteArray &root, const QByteArray &relative = QByteArray())
{
    QMap<QByteArray, QByteArray> tree;
    const QByteArray folder = relative.isEmpty() ? root : root + '/' + relative;
    DIR *listing = opendir(folder.constData());
    if (!listing)
        return tree;
    while (const dirent *entry = readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray child = relative.isEmpty() ? name : relative + '/' + name;
        struct stat sb = {};
        if (lstat(QByteArray(root + '/' + child).constData(), &sb) != 0)
            continue;
        if (S_ISDIR(sb.st_mode)) {
            tree.insert(child + '/', QByteArray());
            tree.insert(byteTreeOf(root, child));
            continue;
        }
        QByteArray content;
        const int fd = ::open(QByteArray(root + '/' + child).constData(), O_RDONLY);
        char buffer[256];
        for (ssize_t got = 0; fd >= 0 && (got = ::read(fd, buffer, sizeof buffer)) > 0;)
            content.append(buffer, got);
        if (fd >= 0)
            ::close(fd);
        tree.insert(child, content);
    }
    closedir(listing);
    return tree;
}

} // namespace

class NamesNotUtf8Test : public SyncJobTest {
protected:
    // QTemporaryDir cannot remove names that are not text: they go by their bytes first.
    void TearDown() override
    {
        for (const QString &root : { m_home.path(), m_drive.path() })
            nftw(
                QFile::encodeName(root).constData(),
                [](const char *path, const struct stat *, int, struct FTW *level) {
                    return level->level > 0 ? ::remove(path) : 0;
                },
                16, FTW_DEPTH | FTW_PHYS);
    }

    // Syncs the tree twice to the drive at mountPoint, which takes any bytes in names: both
    // times complete, the first copies every name byte for byte, the second nothing.
    void expectCopiedByteForByte(const QString &mountPoint)
    {
        makeTreeWithNamesThatAreNotUtf8(m_home.path());
        if (HasFatalFailure())
            return;
        const QString target = mountPoint + QStringLiteral("/alice_Studio/");
        QDir().mkpath(target + QStringLiteral("Walked"));
        auto controller = makeController(kUser, std::nullopt, mountPoint);
        setSyncList(*controller, { QStringLiteral("~/Walked"), QStringLiteral("~/New") });

        ASSERT_EQ(runSync(*controller), PMSyncController::kActivityCompleted) << logText().toStdString();
        EXPECT_TRUE(controller->lastSyncTime().isValid());
        const QByteArray latin = "caf\xE9.txt";
        for (const QString &folder : { QStringLiteral("Walked"), QStringLiteral("New") }) {
            const QByteArray there = QFile::encodeName(target + folder);
            const QMap<QByteArray, QByteArray> tree = byteTreeOf(there);
            EXPECT_EQ(tree, byteTreeOf(QFile::encodeName(local(folder)))) << folder.toStdString();
            EXPECT_EQ(tree.value(latin), QByteArray("/") + latin);
            EXPECT_EQ(tree.value("d\xFF/inner.txt"), QByteArray("/d\xFF/inner.txt"));
        }
        EXPECT_FALSE(logText().contains(QStringLiteral("not valid UTF-8"))) << logText().toStdString();

        struct stat before = {};
        const QByteArray copied = QFile::encodeName(target + QStringLiteral("New/")) + latin;
        ASSERT_EQ(lstat(copied.constData(), &before), 0);
        ASSERT_EQ(runSync(*controller), PMSyncController::kActivityCompleted) << logText().toStdString();
        struct stat after = {};
        ASSERT_EQ(lstat(copied.constData(), &after), 0);
        EXPECT_EQ(before.st_ino, after.st_ino) << "found equal on the drive, so not copied again";
        controller.reset();
    }
};

TEST_F(NamesNotUtf8Test, AreCopiedByteForByteToAPlainFolderDrive)
{
    expectCopiedByteForByte(m_drive.path());
}

TEST_F(NamesNotUtf8Test, AreCopiedByteForByteToAnExt4Drive)
{
    QString whyNot;
    auto drive = testsupport::DriveImage::create(testsupport::DriveImage::FileSystem::Ext4, 16, &whyNot);
    if (!drive || !drive->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    expectCopiedByteForByte(drive->mountPoint());
}

TEST_F(NamesNotUtf8Test, AreReportedByTheirBytesOnAnExFatDriveAndTheSyncIsNotComplete)
{
    QString whyNot;
    auto drive = testsupport::DriveImage::create(testsupport::DriveImage::FileSystem::ExFat, 16, &whyNot);
    if (!drive || !drive->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    makeTreeWithNamesThatAreNotUtf8(m_home.path());
    const QString target = drive->mountPoint() + QStringLiteral("/alice_Studio/");
    QDir().mkpath(target + QStringLiteral("Walked"));
    auto controller = makeController(kUser, std::nullopt, drive->mountPoint());
    setSyncList(*controller, { QStringLiteral("~/Walked"), QStringLiteral("~/New") });

    EXPECT_EQ(runSync(*controller), PMSyncController::kActivityFailed);
    EXPECT_EQ(controller->failureType(), PMSyncController::kFailureIncomplete);
    const QString log = logText();
    for (const QString &folder : { QStringLiteral("Walked"), QStringLiteral("New") }) {
        for (const QString &name : { QStringLiteral("caf\\xE9.txt"), QStringLiteral("d\\xFF") })
            EXPECT_TRUE(log.contains(QStringLiteral("\"%1\" in \"%2\"").arg(name, local(folder))))
                << name.toStdString() << " in " << folder.toStdString() << "\n"
                << log.toStdString();
        const QMap<QByteArray, QByteArray> tree = byteTreeOf(QFile::encodeName(target + folder));
        EXPECT_EQ(tree.value("plain.txt"), QByteArray("plain"));
        EXPECT_EQ(tree.size(), 1) << "only the file with a text name is on the drive";
    }
    EXPECT_FALSE(controller->lastSyncTime().isValid());
    controller.reset();
}

TEST_F(SyncJobTest, NamesThatDifferOnlyInCaseAreReportedTogetherOnADriveThatIgnoresCase)
{
    QString whyNot;
    auto drive = testsupport::DriveImage::create(testsupport::DriveImage::FileSystem::ExFat, 16, &whyNot);
    if (!drive || !drive->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    for (const QString &folder : { QStringLiteral("Walked"), QStringLiteral("New") }) {
        testsupport::writeFile(local(folder + QStringLiteral("/Song.mp3")), "upper");
        testsupport::writeFile(local(folder + QStringLiteral("/song.mp3")), "lower");
        testsupport::writeFile(local(folder + QStringLiteral("/other.mp3")), "other");
    }
    const QString target = drive->mountPoint() + QStringLiteral("/alice_Studio/");
    QDir().mkpath(target + QStringLiteral("Walked"));
    testsupport::writeFile(drive->mountPoint() + QStringLiteral("/probe"), "x");
    const bool ignoresCase = QFileInfo::exists(drive->mountPoint() + QStringLiteral("/PROBE"));
    QFile::remove(drive->mountPoint() + QStringLiteral("/probe"));
    auto controller = makeController(kUser, std::nullopt, drive->mountPoint());
    setSyncList(*controller, { QStringLiteral("~/Walked"), QStringLiteral("~/New") });

    const int activity = runSync(*controller);
    for (const QString &folder : { QStringLiteral("Walked"), QStringLiteral("New") }) {
        EXPECT_EQ(testsupport::readFile(target + folder + QStringLiteral("/other.mp3")), QByteArray("other"));
        if (!ignoresCase) {
            EXPECT_EQ(testsupport::readFile(target + folder + QStringLiteral("/song.mp3")), QByteArray("lower"));
            continue;
        }
        // One of the two is on the drive, unchanged by the other; both are named in the log.
        const QStringList names = QDir(target + folder).entryList(QDir::Files);
        EXPECT_EQ(names.size(), 2) << names.join(QLatin1Char(',')).toStdString();
        const QString kept
            = names.contains(QStringLiteral("Song.mp3")) ? QStringLiteral("Song.mp3") : QStringLiteral("song.mp3");
        EXPECT_EQ(testsupport::readFile(target + folder + QLatin1Char('/') + kept),
            kept == QStringLiteral("Song.mp3") ? QByteArray("upper") : QByteArray("lower"));
        const QString log = logText();
        const QString both = QStringLiteral("The drive cannot hold both \"%1\" and \"%2\" in \"%3\"");
        const QString folderPath = local(folder);
        EXPECT_TRUE(log.contains(both.arg(QStringLiteral("Song.mp3"), QStringLiteral("song.mp3"), folderPath))
            || log.contains(both.arg(QStringLiteral("song.mp3"), QStringLiteral("Song.mp3"), folderPath)))
            << log.toStdString();
    }
    if (ignoresCase) {
        EXPECT_EQ(activity, PMSyncController::kActivityFailed);
        EXPECT_EQ(controller->failureType(), PMSyncController::kFailureIncomplete);
    } else {
        EXPECT_EQ(activity, PMSyncController::kActivityCompleted);
    }
    controller.reset();
}

TEST_F(SyncJobTest, ATwinTheFilterLeavesOutDoesNotKeepItsSiblingOffADriveThatIgnoresCase)
{
    QString whyNot;
    auto drive = testsupport::DriveImage::create(testsupport::DriveImage::FileSystem::ExFat, 16, &whyNot);
    if (!drive || !drive->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    // Links never go to a drive. Several pairs, so that the folder's listing order puts a link
    // before its twin in some of them; one folder the drive holds (walked), one it does not
    // (copied whole).
    const QStringList folders { QStringLiteral("Walked"), QStringLiteral("New") };
    for (const QString &folder : folders) {
        for (int i = 0; i < 8; ++i) {
            const QString file = local(folder + QStringLiteral("/track%1.mp3").arg(i));
            testsupport::writeFile(file, QByteArray::number(i));
            ASSERT_TRUE(QFile::link(file, local(folder + QStringLiteral("/Track%1.mp3").arg(i))));
        }
    }
    const QString target = drive->mountPoint() + QStringLiteral("/alice_Studio/");
    QDir().mkpath(target + QStringLiteral("Walked"));
    auto controller = makeController(kUser, std::nullopt, drive->mountPoint());
    setSyncList(*controller, { QStringLiteral("~/Walked"), QStringLiteral("~/New") });

    EXPECT_EQ(runSync(*controller), PMSyncController::kActivityCompleted) << logText().toStdString();
    for (const QString &folder : folders) {
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(
                testsupport::readFile(target + folder + QStringLiteral("/track%1.mp3").arg(i)), QByteArray::number(i))
                << folder.toStdString() << i;
    }
    for (const QString &line : logText().split(QLatin1Char('\n')))
        EXPECT_FALSE(line.contains(QStringLiteral("cannot hold both")) && line.contains(QStringLiteral("rack")))
            << line.toStdString();
    controller.reset();
}

TEST_F(SyncJobTest, TwoComputerUsersShareOneDriveWithSeparateFoldersAndOneConfiguration)
{
    testsupport::writeFile(local(QStringLiteral("Music/a.mp3")), "alice's");
    const QString bob = QStringLiteral("FFEEDDCCBBAA-502");
    auto first = makeController();
    setSyncList(*first, { QStringLiteral("~/Music") });
    ASSERT_EQ(runSync(*first), PMSyncController::kActivityCompleted);
    first.reset();

    auto second = makeController(bob, identity(QStringLiteral("bob"), QStringLiteral("Laptop"), bob));
    setSyncList(*second, { QStringLiteral("~/Music") });
    ASSERT_EQ(runSync(*second), PMSyncController::kActivityCompleted);

    EXPECT_TRUE(QFileInfo::exists(m_drive.filePath(QStringLiteral("alice_Studio/Music/a.mp3"))));
    EXPECT_TRUE(QFileInfo::exists(m_drive.filePath(QStringLiteral("bob_Laptop/Music/a.mp3"))));
    const auto users = second->deviceConfig().configSyncUserList().value_or(QStringList());
    EXPECT_TRUE(users.contains(kUser));
    EXPECT_TRUE(users.contains(bob));
}

TEST_F(SyncJobTest, ASecondJobOnTheSameDriveIsRefusedWhileTheFirstHoldsIt)
{
    testsupport::writeFile(local(QStringLiteral("Music/a.mp3")), "a");
    auto controller = makeController();
    setSyncList(*controller, { QStringLiteral("~/Music") });
    const PMDriveLayout layout(m_drive.path(), identity());
    PMDriveJobLock other(layout);
    ASSERT_EQ(other.tryLock(), PMDriveJobLock::Outcome::Locked);

    EXPECT_EQ(runSync(*controller), PMSyncController::kActivityFailed);
    EXPECT_TRUE(logText().contains(QStringLiteral("is already involved in a sync operation")));
    EXPECT_FALSE(QFileInfo::exists(onDrive(QStringLiteral("Music/a.mp3"))));

    other.unlock();
    EXPECT_EQ(runSync(*controller), PMSyncController::kActivityCompleted);
}

TEST_F(SyncJobTest, AnItemLeadingOutOfTheDriveIsRefused)
{
    QTemporaryDir outside;
    testsupport::writeFile(local(QStringLiteral("Music/a.mp3")), "a");
    QDir().mkpath(m_drive.filePath(QStringLiteral("alice_Studio")));
    ASSERT_TRUE(QFile::link(outside.path(), onDrive(QStringLiteral("Music"))));
    auto controller = makeController();
    setSyncList(*controller, { QStringLiteral("~/Music/a.mp3") });

    EXPECT_EQ(runSync(*controller), PMSyncController::kActivityFailed);
    EXPECT_TRUE(QDir(outside.path()).isEmpty()) << "nothing written through the link";
    EXPECT_TRUE(logText().contains(
        QStringLiteral("has a link where the folder \"%1\" belongs").arg(onDrive(QStringLiteral("Music")))));
}

TEST(PMItemScannerPaths, ChangedPathsCollapseByWholeComponents)
{
    EXPECT_EQ(PMItemScanner::collapseChangedPaths({ QStringLiteral("/a/b/x"), QStringLiteral("/a/bc"),
                  QStringLiteral("/a/b"), QStringLiteral("/a/b c/y"), QStringLiteral("/a/b") }),
        (QStringList { QStringLiteral("/a/b"), QStringLiteral("/a/b c/y"), QStringLiteral("/a/bc") }));
    EXPECT_TRUE(PMItemScanner::isSameOrBelow(QStringLiteral("~/Music/x"), QStringLiteral("~/Music")));
    EXPECT_FALSE(PMItemScanner::isSameOrBelow(QStringLiteral("~/Music2"), QStringLiteral("~/Music")));
    EXPECT_TRUE(PMItemScanner::isSameOrBelow(QStringLiteral("/x"), QStringLiteral("/")));
}

TEST(PMTimestampPrecision, TellsTheDrivesStepFromWhatItKept)
{
    const qint64 written = 1234567891 * kSecond + 987654321;
    EXPECT_EQ(PMTimestampPrecision::granularityFor(written, written), 1);
    EXPECT_EQ(PMTimestampPrecision::granularityFor(written, 1234567891 * kSecond + 987654300), 100);
    EXPECT_EQ(PMTimestampPrecision::granularityFor(written, 1234567891 * kSecond + 980000000), 10000000);
    EXPECT_EQ(PMTimestampPrecision::granularityFor(written, 1234567891 * kSecond), kSecond);
    EXPECT_EQ(PMTimestampPrecision::granularityFor(written, 1234567890 * kSecond), 2 * kSecond);

    const PMTimestampPrecision fat(2 * kSecond);
    EXPECT_EQ(fat.difference(11 * kSecond + 500, 10 * kSecond), 0) << "as FAT stored it: the same time";
    EXPECT_GT(fat.difference(12 * kSecond, 10 * kSecond), 0);
    EXPECT_EQ(PMTimestampPrecision().difference(kSecond + 1, kSecond), 1) << "exact on a nanosecond drive";
}

TEST(PMTimestampPrecision, ProbesRealDrives)
{
    struct Case {
        testsupport::DriveImage::FileSystem fileSystem;
        qint64 expected;
    };
    const QList<Case> cases = { { testsupport::DriveImage::FileSystem::Ext4, 1 },
        { testsupport::DriveImage::FileSystem::Ntfs, 100 }, { testsupport::DriveImage::FileSystem::ExFat, -1 } };
    for (const Case &c : cases) {
        QString whyNot;
        auto drive = testsupport::DriveImage::create(c.fileSystem, 16, &whyNot);
        if (!drive || !drive->mount(false, &whyNot)) {
            std::cout << "[  SKIPPED ] " << whyNot.toStdString() << std::endl;
            continue;
        }
        const qint64 granularity = PMTimestampPrecision::probe(drive->mountPoint()).granularityNs();
        if (c.expected > 0)
            EXPECT_EQ(granularity, c.expected);
        else
            EXPECT_GE(granularity, 10000000) << "exFAT keeps at best 10 ms";
        EXPECT_TRUE(QDir(drive->mountPoint()).entryList(QDir::Files | QDir::Hidden).isEmpty()) << "probe removed";
    }
}

namespace {

// A media filter that lets everything through and runs a hook for one name, to make things
// happen at an exact point of a job.
class HookFilter : public PMCopyItemFilter {
public:
    HookFilter(QString name, std::function<void(const QString &)> hook)
        : m_name(std::move(name))
        , m_hook(std::move(hook))
    {
    }
    bool shouldCopyItem(const QString &path, const QString &baseName, bool) const override
    {
        if (baseName == m_name)
            m_hook(path);
        return true;
    }

private:
    QString m_name;
    std::function<void(const QString &)> m_hook;
};

// Lets a sync item's folder through; of the folder's children, lets through only the first
// one it is asked about, removing that file at once so its copy fails, and filters out the rest.
class FirstChildFailsFilter : public PMCopyItemFilter {
public:
    FirstChildFailsFilter(QString folder, std::shared_ptr<QString> first)
        : m_folder(std::move(folder))
        , m_first(std::move(first))
    {
    }
    bool shouldCopyItem(const QString &path, const QString &, bool) const override
    {
        if (!path.startsWith(m_folder + QLatin1Char('/')))
            return true;
        if (m_first->isEmpty()) {
            *m_first = path;
            QFile::remove(path);
            return true;
        }
        return path == *m_first;
    }

private:
    QString m_folder;
    std::shared_ptr<QString> m_first;
};

class HookedSyncJobTest : public SyncJobTest {
protected:
    std::unique_ptr<PMSyncController> makeHookedController(
        const QString &name, std::function<void(PMSyncController &, const QString &)> hook)
    {
        const PMDriveLayout::Identity layoutIdentity = identity();
        auto controller = std::make_unique<PMSyncController>(m_drive.path(), QStringLiteral("Vendor"),
            QStringLiteral("UUID-1"), kUser, &m_owner, [layoutIdentity, name, hook](PMSyncController &c) {
                PMSyncJob::Options options;
                options.identity = layoutIdentity;
                options.limitTo4G = false;
                options.makeFilter = [&c, name, hook]() -> std::shared_ptr<const PMCopyItemFilter> {
                    return std::make_shared<HookFilter>(name, [&c, hook](const QString &path) { hook(c, path); });
                };
                return std::make_unique<PMSyncJob>(c, options);
            });
        controller->setParticipateSyncState(true);
        return controller;
    }
};

} // namespace

TEST_F(HookedSyncJobTest, ACancelWhileCopyingReportsCanceledAndLeavesNoTraceOnTheDrive)
{
    for (int i = 0; i < 5; ++i)
        testsupport::writeFile(local(QStringLiteral("Music/%1.mp3").arg(i)), QByteArray(1000, char('a' + i)));
    testsupport::writeFile(local(QStringLiteral("Music/trigger.mp3")), "the user presses Cancel here");
    // The drive has no Music folder, so the whole folder is one entry and the cancel arrives
    // while the copy engine works through it.
    auto controller = makeHookedController(
        QStringLiteral("trigger.mp3"), [](PMSyncController &c, const QString &) { c.setCancelPending(true, false); });
    setSyncList(*controller, { QStringLiteral("~/Music") });

    EXPECT_EQ(runSync(*controller), PMSyncController::kActivityFailed);
    EXPECT_EQ(controller->failureType(), PMSyncController::kFailureCanceled);
    EXPECT_FALSE(QFileInfo::exists(onDrive(QStringLiteral("Music")))) << "copies never reach the synced tree";
    EXPECT_FALSE(QFileInfo::exists(m_drive.filePath(QStringLiteral("alice_Studio/.Z_PM_W/") + kUser)));
    EXPECT_FALSE(controller->lastSyncTime().isValid());
    EXPECT_TRUE(logText().contains(QStringLiteral("canceled.")));
}

TEST_F(HookedSyncJobTest, AFileEditedDuringASyncAfterItsCopyWasMadeIsBroughtOverByTheNextSync)
{
    testsupport::writeFile(local(QStringLiteral("A/a.mp3")), "before the edit");
    setModificationTime(local(QStringLiteral("A/a.mp3")), 1500000000);
    testsupport::writeFile(local(QStringLiteral("Z/trigger.mp3")), "copied after a.mp3");
    // Items are applied in list order: a.mp3 is copied before the trigger is asked about
    // again (walk, application, copy: the second question), and edited then.
    auto calls = std::make_shared<int>(0);
    const QString edited = local(QStringLiteral("A/a.mp3"));
    auto controller
        = makeHookedController(QStringLiteral("trigger.mp3"), [calls, edited](PMSyncController &, const QString &) {
              if (++*calls == 2)
                  testsupport::writeFile(edited, "after the edit");
          });
    setSyncList(*controller, { QStringLiteral("~/A/a.mp3"), QStringLiteral("~/Z/trigger.mp3") });

    ASSERT_EQ(runSync(*controller), PMSyncController::kActivityCompleted) << logText().toStdString();
    ASSERT_GE(*calls, 2);
    ASSERT_EQ(testsupport::readFile(onDrive(QStringLiteral("A/a.mp3"))), QByteArray("before the edit"))
        << "the edit came after the copy";

    ASSERT_EQ(runSync(*controller), PMSyncController::kActivityCompleted) << logText().toStdString();
    EXPECT_EQ(testsupport::readFile(onDrive(QStringLiteral("A/a.mp3"))), QByteArray("after the edit"));
}

TEST_F(HookedSyncJobTest, AFailedFileInACopiedFolderKeepsTheJobFromCountingAsCompleteWhateverFollowsIt)
{
    for (int i = 0; i < 6; ++i)
        testsupport::writeFile(local(QStringLiteral("Music/%1.mp3").arg(i)), "song");
    const QString music = local(QStringLiteral("Music"));
    // The drive has no Music folder: the whole folder is one copy. The first file the copy
    // looks at vanishes before its data is read; every file it looks at afterwards is
    // filtered out, so filtered files follow the failed one whatever the listing order.
    // Errors are let pass, so only the copy's result can tell the job.
    auto first = std::make_shared<QString>();
    auto controller = std::make_unique<PMSyncController>(m_drive.path(), QStringLiteral("Vendor"),
        QStringLiteral("UUID-1"), kUser, &m_owner, [layoutIdentity = identity(), music, first](PMSyncController &c) {
            PMSyncJob::Options options;
            options.identity = layoutIdentity;
            options.limitTo4G = false;
            options.makeFilter = [music, first]() -> std::shared_ptr<const PMCopyItemFilter> {
                return std::make_shared<FirstChildFailsFilter>(music, first);
            };
            // As when the user chose to go on after every error: the copy does not stop there.
            options.makeCopyHandler = [](PMSyncController &owner) -> std::unique_ptr<PMCopyHandler> {
                auto reporter = KRTCopyErrorReporter::copyErrorReporter(&owner);
                reporter->setErrorHandling(1);
                return reporter;
            };
            return std::make_unique<PMSyncJob>(c, options);
        });
    controller->setParticipateSyncState(true);
    setSyncList(*controller, { QStringLiteral("~/Music") });

    EXPECT_EQ(runSync(*controller), PMSyncController::kActivityFailed) << logText().toStdString();
    EXPECT_EQ(controller->failureType(), PMSyncController::kFailureIncomplete);
    ASSERT_FALSE(first->isEmpty());
    EXPECT_TRUE(logText().contains(QStringLiteral("Copy of %1 onto").arg(*first)));
    EXPECT_FALSE(controller->lastSyncTime().isValid());
}

TEST_F(HookedSyncJobTest, AFailedCopyKeepsTheJobFromCountingAsComplete)
{
    testsupport::writeFile(local(QStringLiteral("Music/keep.mp3")), "keep");
    testsupport::writeFile(local(QStringLiteral("Music/vanish.mp3")), "removed between walk and copy");
    QDir().mkpath(onDrive(QStringLiteral("Music"))); // so the walk records each file on its own
    // The walk asks first and sees the file; by the time the copy asks, it is gone.
    auto calls = std::make_shared<int>(0);
    auto controller
        = makeHookedController(QStringLiteral("vanish.mp3"), [calls](PMSyncController &, const QString &path) {
              if (++*calls == 2)
                  QFile::remove(path);
          });
    setSyncList(*controller, { QStringLiteral("~/Music") });

    EXPECT_EQ(runSync(*controller), PMSyncController::kActivityFailed);
    EXPECT_EQ(controller->failureType(), PMSyncController::kFailureIncomplete);
    EXPECT_EQ(testsupport::readFile(onDrive(QStringLiteral("Music/keep.mp3"))), QByteArray("keep"))
        << "the files that could be copied are in place";
    EXPECT_FALSE(controller->lastSyncTime().isValid()) << "a sync with a failed copy records no time";
}
