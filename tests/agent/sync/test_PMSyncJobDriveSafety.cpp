// A drive is untrusted: links it holds where its own folders belong must never lead a job to
// delete, write or create anything on the computer. Also the drive lock between processes
// and the attributes of the synced folders themselves.
#include "agent/copy/PMCopyHandler.h"
#include "agent/copy/PMCopyItemFilter.h"
#include "agent/log/PMLogController.h"
#include "agent/sync/PMDriveJobLock.h"
#include "agent/sync/PMDriveLayout.h"
#include "agent/sync/PMSyncController.h"
#include "agent/sync/PMSyncJob.h"

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

#include <atomic>
#include <functional>
#include <iostream>

using namespace synctest;

namespace {

const QString kUser = QStringLiteral("0A1B2C3D4E5F-501");

// Every entry below root (folders too), relative, with the contents of files and the
// targets of links: any deletion, change or creation shows.
QMap<QString, QByteArray> entriesOf(const QString &root)
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(
        root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        QByteArray value = info.isSymLink() ? "link:" + QFile::encodeName(info.symLinkTarget())
            : info.isDir()                  ? QByteArray("folder")
                                            : testsupport::readFile(path);
        entries.insert(path.mid(root.size() + 1), value);
    }
    return entries;
}

// Lazily unmounts the drive as soon as the first file's data reaches it, the way a cable
// pulled during a sync leaves the mount point: the path now leads into the computer's bare
// folder while the job's open descriptors still reach the detached drive.
class UnmountingHandler : public PMCopyHandler {
public:
    UnmountingHandler(QString mountPoint, std::atomic<bool> *unmounted)
        : m_mountPoint(std::move(mountPoint))
        , m_unmounted(unmounted)
    {
    }
    bool agentUpdate(PMFileCopyAgent &, quint64) override
    {
        if (!m_unmounted->load())
            m_unmounted->store(
                testsupport::DriveImage::run(QStringLiteral("umount"), { QStringLiteral("-l"), m_mountPoint }));
        return true;
    }

private:
    QString m_mountPoint;
    std::atomic<bool> *m_unmounted;
};

class DriveSafetyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        ASSERT_TRUE(m_folderDrive.isValid());
        ASSERT_TRUE(m_outside.isValid());
        m_driveRoot = m_folderDrive.path();
        // The computer's folder a drive would like to reach.
        testsupport::writeFile(m_outside.filePath(QStringLiteral("letter.txt")), "the user's letter");
        testsupport::writeFile(m_outside.filePath(QStringLiteral("Projects/plan.txt")), "the user's plan");
        testsupport::writeFile(m_outside.filePath(QStringLiteral(".config")), "hidden");
        m_outsideBefore = entriesOf(m_outside.path());
        testsupport::writeFile(local(QStringLiteral("Music/a.mp3")), "song a");
        testsupport::writeFile(local(QStringLiteral("Music/Album/b.mp3")), "song b");
    }

    std::unique_ptr<PMSyncController> makeController(
        std::function<std::unique_ptr<PMCopyHandler>(PMSyncController &)> makeCopyHandler = {})
    {
        const PMDriveLayout::Identity layoutIdentity = identity();
        auto controller = std::make_unique<PMSyncController>(m_driveRoot, QStringLiteral("Vendor"),
            QStringLiteral("UUID-1"), kUser, &m_owner, [layoutIdentity, makeCopyHandler](PMSyncController &c) {
                PMSyncJob::Options options;
                options.makeCopyHandler = makeCopyHandler;
                options.identity = layoutIdentity;
                options.limitTo4G = false;
                options.makeFilter = [] { return std::shared_ptr<const PMCopyItemFilter>(); };
                return std::make_unique<PMSyncJob>(c, options);
            });
        controller->setParticipateSyncState(true);
        EXPECT_TRUE(controller->deviceConfig().setSyncItemList(QStringList { QStringLiteral("~/Music") }));
        EXPECT_TRUE(controller->deviceConfig().writeConfigFile());
        return controller;
    }

    PMDriveLayout::Identity identity() const
    {
        return { QStringLiteral("alice"), QStringLiteral("Studio"), kUser, QStringLiteral("UUID-1"), m_home.path() };
    }

    int runSync(PMSyncController &controller) { return synctest::syncToTheEnd(controller, m_owner); }

    QString local(const QString &relative) const { return m_home.filePath(relative); }
    QString onDrive(const QString &relative) const { return m_driveRoot + QStringLiteral("/") + relative; }
    QString driveTemp() const { return onDrive(QStringLiteral("alice_Studio/.Z_PM_W/") + kUser); }
    static QString logText() { return PMLogController::sharedInstance().contents(); }

    // Replaces the drive's entry at relative (whatever it is) by a link to the computer's folder.
    void plantLink(const QString &relative)
    {
        const QString path = onDrive(relative);
        if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink()) {
            ASSERT_TRUE(QDir(path).removeRecursively());
        }
        QDir().mkpath(QFileInfo(path).path());
        ASSERT_TRUE(QFile::link(m_outside.path(), path)) << path.toStdString();
    }

    // A job on a drive with a link at relative: refused, logged with the link's name, and
    // the computer's folder the link points to exactly as it was.
    void expectRefused(PMSyncController &controller, const QString &relative)
    {
        EXPECT_EQ(runSync(controller), PMSyncController::kActivityFailed);
        EXPECT_TRUE(logText().contains(QStringLiteral("did not complete successfully.")));
        EXPECT_TRUE(
            logText().contains(QStringLiteral("has a link where the folder \"%1\" belongs").arg(onDrive(relative))))
            << logText().toStdString();
        EXPECT_EQ(entriesOf(m_outside.path()), m_outsideBefore) << "nothing changed, deleted or created outside";
        EXPECT_TRUE(QFileInfo(onDrive(relative)).isSymLink()) << "the drive's link itself is left alone";
    }

    QTemporaryDir m_home;
    QTemporaryDir m_folderDrive;
    QTemporaryDir m_outside;
    QString m_driveRoot;
    QMap<QString, QByteArray> m_outsideBefore;
    RecordingOwner m_owner;
};

} // namespace

TEST_F(DriveSafetyTest, ALinkInPlaceOfTheTemporaryFolderDeletesNothingOnTheComputer)
{
    auto controller = makeController();
    ASSERT_EQ(runSync(*controller), PMSyncController::kActivityCompleted) << logText().toStdString();
    plantLink(QStringLiteral("alice_Studio/.Z_PM_W/") + kUser);
    testsupport::writeFile(local(QStringLiteral("Music/new.mp3")), "new since");

    expectRefused(*controller, QStringLiteral("alice_Studio/.Z_PM_W/") + kUser);
    EXPECT_FALSE(QFileInfo::exists(onDrive(QStringLiteral("alice_Studio/Music/new.mp3"))));
}

TEST_F(DriveSafetyTest, ALinkInPlaceOfTheTemporaryAreaCreatesNothingOnTheComputer)
{
    auto controller = makeController();
    ASSERT_EQ(runSync(*controller), PMSyncController::kActivityCompleted) << logText().toStdString();
    plantLink(QStringLiteral("alice_Studio/.Z_PM_W"));
    testsupport::writeFile(local(QStringLiteral("Music/new.mp3")), "new since");

    expectRefused(*controller, QStringLiteral("alice_Studio/.Z_PM_W"));
}

TEST_F(DriveSafetyTest, ALinkInPlaceOfTheUsersFolderCopiesNothingOntoTheComputer)
{
    plantLink(QStringLiteral("alice_Studio"));
    auto controller = makeController();

    expectRefused(*controller, QStringLiteral("alice_Studio"));
}

TEST_F(DriveSafetyTest, ALinkInPlaceOfASyncedFolderIsNeitherMergedIntoNorEmptied)
{
    auto controller = makeController();
    ASSERT_EQ(runSync(*controller), PMSyncController::kActivityCompleted) << logText().toStdString();
    plantLink(QStringLiteral("alice_Studio/Music"));
    testsupport::writeFile(local(QStringLiteral("Music/new.mp3")), "new since");

    expectRefused(*controller, QStringLiteral("alice_Studio/Music"));
}

TEST_F(DriveSafetyTest, OnARealDriveALinkInPlaceOfTheTemporaryFolderDeletesNothing)
{
    QString whyNot;
    auto image = testsupport::DriveImage::create(testsupport::DriveImage::FileSystem::Ext4, 16, &whyNot);
    if (!image || !image->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    m_driveRoot = image->mountPoint();
    {
        auto controller = makeController();
        ASSERT_EQ(runSync(*controller), PMSyncController::kActivityCompleted) << logText().toStdString();
        plantLink(QStringLiteral("alice_Studio/.Z_PM_W/") + kUser);
        expectRefused(*controller, QStringLiteral("alice_Studio/.Z_PM_W/") + kUser);

        // Once the link is gone the drive syncs again.
        ASSERT_TRUE(QFile::remove(driveTemp()));
        EXPECT_EQ(runSync(*controller), PMSyncController::kActivityCompleted) << logText().toStdString();
    }
    EXPECT_EQ(entriesOf(m_outside.path()), m_outsideBefore);
    EXPECT_TRUE(image->unmount());
}

TEST_F(DriveSafetyTest, ADriveUnmountedDuringTheCopiesGetsNothingWrittenIntoItsMountPoint)
{
    QString whyNot;
    auto image = testsupport::DriveImage::create(testsupport::DriveImage::FileSystem::Ext4, 16, &whyNot);
    if (!image || !image->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    m_driveRoot = image->mountPoint();
    // Folders the walk finds new, so the copies after the first one need folders made.
    testsupport::writeFile(local(QStringLiteral("Music/a.mp3")), QByteArray(256 * 1024, 'a'));
    for (const QString &name : { QStringLiteral("Music/Later/c.mp3"), QStringLiteral("Music/Later/Deep/d.mp3"),
             QStringLiteral("Music/Other/e.mp3") })
        testsupport::writeFile(local(name), name.toUtf8());
    std::atomic<bool> unmounted { false };
    const QString mountPoint = m_driveRoot;
    {
        auto controller = makeController([mountPoint, &unmounted](PMSyncController &) {
            return std::make_unique<UnmountingHandler>(mountPoint, &unmounted);
        });
        EXPECT_EQ(runSync(*controller), PMSyncController::kActivityFailed) << logText().toStdString();
        ASSERT_TRUE(unmounted.load()) << "the drive was never unmounted during the copies";
        EXPECT_TRUE(logText().contains(QStringLiteral("The drive \"%1\" is no longer available.").arg(mountPoint)))
            << logText().toStdString();
        // Nothing of the job, its folders, its lock or the drive's settings, in the bare folder.
        EXPECT_EQ(entriesOf(mountPoint), (QMap<QString, QByteArray>())) << "written into the bare mount point";

        // Neither does a second job on the same controller.
        EXPECT_EQ(runSync(*controller), PMSyncController::kActivityFailed);
        EXPECT_TRUE(logText().contains(QStringLiteral("The drive \"%1\" is not available.").arg(mountPoint)));
        EXPECT_EQ(entriesOf(mountPoint), (QMap<QString, QByteArray>())) << "written into the bare mount point";
    }
    EXPECT_EQ(entriesOf(m_outside.path()), m_outsideBefore);
    image->unmount();
}

TEST_F(DriveSafetyTest, TheSyncedFolderKeepsItsModeAndDateOnTheDrive)
{
    const QString music = local(QStringLiteral("Music"));
    ASSERT_TRUE(QFile::setPermissions(
        music, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup));
    const qint64 in2001 = 978307200 + 12345; // 2001-01-01, a few hours in
    const struct timespec times[2] = { { time_t(in2001), 0 }, { time_t(in2001), 0 } };
    ASSERT_EQ(utimensat(AT_FDCWD, QFile::encodeName(music).constData(), times, 0), 0);
    auto controller = makeController();

    ASSERT_EQ(runSync(*controller), PMSyncController::kActivityCompleted) << logText().toStdString();

    struct stat copy = {};
    ASSERT_EQ(lstat(QFile::encodeName(onDrive(QStringLiteral("alice_Studio/Music"))).constData(), &copy), 0);
    EXPECT_EQ(copy.st_mode & 07777, 0750u);
    EXPECT_EQ(qint64(copy.st_mtim.tv_sec), in2001);

    // A second job that moves a new file into the folder leaves its date as the computer's.
    testsupport::writeFile(local(QStringLiteral("Music/later.mp3")), "later");
    ASSERT_EQ(utimensat(AT_FDCWD, QFile::encodeName(music).constData(), times, 0), 0);
    ASSERT_EQ(runSync(*controller), PMSyncController::kActivityCompleted) << logText().toStdString();
    ASSERT_EQ(lstat(QFile::encodeName(onDrive(QStringLiteral("alice_Studio/Music"))).constData(), &copy), 0);
    EXPECT_TRUE(QFileInfo::exists(onDrive(QStringLiteral("alice_Studio/Music/later.mp3"))));
    EXPECT_EQ(qint64(copy.st_mtim.tv_sec), in2001);
    EXPECT_EQ(copy.st_mode & 07777, 0750u);
}

namespace {

// Sets XDG_RUNTIME_DIR for its lifetime.
class RuntimeFolder {
public:
    explicit RuntimeFolder(const QString &path)
        : m_old(qgetenv("XDG_RUNTIME_DIR"))
        , m_hadOld(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"))
    {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path));
    }
    ~RuntimeFolder()
    {
        if (m_hadOld)
            qputenv("XDG_RUNTIME_DIR", m_old);
        else
            qunsetenv("XDG_RUNTIME_DIR");
    }

private:
    QByteArray m_old;
    bool m_hadOld;
};

PMDriveLayout layoutOn(const QString &root, const QString &home)
{
    return PMDriveLayout(
        root, { QStringLiteral("alice"), QStringLiteral("Studio"), kUser, QStringLiteral("UUID-1"), home });
}

} // namespace

TEST(PMDriveJobLock, JobsWithDifferentRuntimeFoldersExcludeEachOther)
{
    QTemporaryDir drive;
    QTemporaryDir home;
    QTemporaryDir firstRuntime;
    QTemporaryDir secondRuntime;
    const PMDriveLayout layout = layoutOn(drive.path(), home.path());

    PMDriveJobLock first(layout);
    {
        const RuntimeFolder runtime(firstRuntime.path());
        ASSERT_EQ(first.tryLock(), PMDriveJobLock::Outcome::Locked);
    }
    EXPECT_TRUE(first.holdsDriveLock()) << "a plain folder keeps locks";
    const RuntimeFolder runtime(secondRuntime.path());
    PMDriveJobLock second(layout);
    EXPECT_EQ(second.tryLock(), PMDriveJobLock::Outcome::Busy);
    EXPECT_FALSE(second.isLocked());

    first.unlock();
    EXPECT_EQ(second.tryLock(), PMDriveJobLock::Outcome::Locked);
    PMDriveJobLock third(layout);
    EXPECT_EQ(third.tryLock(), PMDriveJobLock::Outcome::Busy) << "the same runtime folder excludes too";
    second.unlock();
    EXPECT_EQ(QDir(drive.filePath(QStringLiteral("alice_Studio/.Z_PM_W"))).entryList(QDir::Files | QDir::Hidden),
        QStringList())
        << "no lock file is left on the drive";
}

TEST(PMDriveJobLock, ALinkedTemporaryAreaIsNeverUsedForTheLock)
{
    QTemporaryDir drive;
    QTemporaryDir home;
    QTemporaryDir outside;
    ASSERT_TRUE(QDir().mkpath(drive.filePath(QStringLiteral("alice_Studio"))));
    ASSERT_TRUE(QFile::link(outside.path(), drive.filePath(QStringLiteral("alice_Studio/.Z_PM_W"))));

    PMDriveJobLock lock(layoutOn(drive.path(), home.path()));
    EXPECT_EQ(lock.tryLock(), PMDriveJobLock::Outcome::Failed);
    EXPECT_TRUE(QDir(outside.path()).isEmpty()) << "no lock file written through the link";
}

TEST(PMDriveJobLock, DrivesOfEveryKindKeepTwoJobsApart)
{
    using FileSystem = testsupport::DriveImage::FileSystem;
    for (const FileSystem kind : { FileSystem::Ext4, FileSystem::ExFat, FileSystem::Ntfs }) {
        QString whyNot;
        auto image = testsupport::DriveImage::create(kind, 16, &whyNot);
        if (!image || !image->mount(false, &whyNot)) {
            std::cout << "[  SKIPPED ] " << whyNot.toStdString() << std::endl;
            continue;
        }
        QTemporaryDir home;
        QTemporaryDir firstRuntime;
        QTemporaryDir secondRuntime;
        const PMDriveLayout layout = layoutOn(image->mountPoint(), home.path());
        PMDriveJobLock first(layout);
        {
            const RuntimeFolder runtime(firstRuntime.path());
            ASSERT_EQ(first.tryLock(), PMDriveJobLock::Outcome::Locked);
        }
        {
            const RuntimeFolder runtime(secondRuntime.path());
            PMDriveJobLock second(layout);
            const PMDriveJobLock::Outcome outcome = second.tryLock();
            if (first.holdsDriveLock())
                EXPECT_EQ(outcome, PMDriveJobLock::Outcome::Busy) << int(kind);
            else
                std::cout << "drive kind " << int(kind) << " keeps no locks: one runtime folder guards it" << std::endl;
        }
        {
            const RuntimeFolder runtime(firstRuntime.path());
            PMDriveJobLock second(layout);
            EXPECT_EQ(second.tryLock(), PMDriveJobLock::Outcome::Busy) << int(kind);
        }
        first.unlock();
        EXPECT_TRUE(image->unmount());
    }
}
