// A sync, tested the way a user sees it: make a tree on the computer and a drive, run one
// job through the real controller and worker thread, compare the drive with what the rules
// say it must hold.
#include "agent/copy/PMCopyItemFilter.h"
#include "agent/log/PMLogController.h"
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

#include <fcntl.h>
#include <sys/stat.h>

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

    std::unique_ptr<PMSyncController> makeController(
        const QString &id = kUser, std::optional<PMDriveLayout::Identity> who = std::nullopt)
    {
        const PMDriveLayout::Identity layoutIdentity = who.value_or(identity());
        auto controller = std::make_unique<PMSyncController>(m_drive.path(), QStringLiteral("Vendor"),
            QStringLiteral("UUID-1"), id, &m_owner, [layoutIdentity](PMSyncController &c) {
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
    int runSync(PMSyncController &controller)
    {
        const qsizetype before = m_owner.forcedActivities().size();
        controller.sync();
        int ended = -1;
        testsupport::waitFor(
            [&] {
                const QList<int> activities = m_owner.forcedActivities().mid(before);
                for (int activity : activities)
                    if (activity == PMSyncController::kActivityCompleted
                        || activity == PMSyncController::kActivityFailed)
                        ended = activity;
                return ended != -1 && !controller.busy();
            },
            std::chrono::seconds(30));
        return ended;
    }

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

TEST_F(SyncJobTest, WhenTheDrivesCopyIsNewerBothCopiesAreLeftAlone)
{
    testsupport::writeFile(local(QStringLiteral("Music/a.mp3")), "computer");
    setModificationTime(local(QStringLiteral("Music/a.mp3")), 1500000000);
    testsupport::writeFile(onDrive(QStringLiteral("Music/a.mp3")), "drive, edited later");
    setModificationTime(onDrive(QStringLiteral("Music/a.mp3")), 1600000000);
    auto controller = makeController();
    setSyncList(*controller, { QStringLiteral("~/Music") });

    EXPECT_EQ(runSync(*controller), PMSyncController::kActivityCompleted);
    EXPECT_EQ(testsupport::readFile(onDrive(QStringLiteral("Music/a.mp3"))), QByteArray("drive, edited later"));
    EXPECT_EQ(testsupport::readFile(local(QStringLiteral("Music/a.mp3"))), QByteArray("computer"));
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
