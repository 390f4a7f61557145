// The copy and delete error reporters against real folders and, where root is available,
// real drive images: link repair, the free-space diagnosis, refused names, counting, the
// log lines, the alerts and the cancel a "no" turns into.
#include "agent/copy/PMFileCopyAgent.h"
#include "agent/copy/PMFileManager.h"
#include "agent/copy/PMItemOperations.h"
#include "agent/sync/KRTCopyErrorReporter.h"
#include "agent/sync/KRTDeleteErrorReporter.h"
#include "agent/sync/PMDriveNameRules.h"
#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

namespace {

struct Alert {
    QString title;
    QString message;
    bool cancelButton;
    bool logButton;
};

// The sync job as a reporter sees it: records what it is told and answers alerts as set.
class FakeJob : public PMErrorReporterDelegate {
public:
    bool cancelPending() const override { return pending; }
    void setCancelPending(bool isPending, bool rval) override
    {
        pending = isPending;
        cancelRVal = rval;
        ++cancelRequests;
    }
    void setPartiallyCopiedData(quint64 bytes) override { partiallyCopied = bytes; }
    void logMessage(const QString &text) const override { log.append(text); }
    void debugMessage(const QString &text) const override { debug.append(text); }
    bool syncThreadPerformAlert(
        const QString &title, const QString &message, bool cancelButton, bool logButton, platform::AlertAnswer) override
    {
        alerts.append({ title, message, cancelButton, logButton });
        return answer;
    }
    QString deviceMountPoint() const override { return mountPoint; }
    bool continuousSyncInProgress() const override { return continuous; }

    // The log without the mounted-volume listing written at each error.
    QStringList errorLines() const
    {
        QStringList lines;
        for (const QString &line : log) {
            if (!line.startsWith(QLatin1String("path: ")))
                lines.append(line);
        }
        return lines;
    }

    QString mountPoint;
    bool pending = false;
    bool cancelRVal = true;
    int cancelRequests = 0;
    quint64 partiallyCopied = 0;
    mutable QStringList log;
    mutable QStringList debug;
    QList<Alert> alerts;
    bool answer = true;
    bool continuous = false;
};

QString linkText(const QString &path)
{
    return PMItemOperations::linkText(path);
}

// A local temporary folder standing for the computer, and a plain folder beside it, no mount
// point, as the job's drive (as `pellmere sync --drive DIR` has it).
class CopyReporterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        local = m_dir.filePath(QStringLiteral("local"));
        drive = m_dir.filePath(QStringLiteral("drive"));
        ASSERT_TRUE(QDir().mkpath(local));
        ASSERT_TRUE(QDir().mkpath(drive));
        job.mountPoint = drive;
        reporter.setDelegate(&job); // the reporter notes the drive as it is when the job starts
    }
    // The drive's folder disappears, as a drive pulled out takes its mount point with it.
    void removeDrive() const { ASSERT_TRUE(QDir(drive).removeRecursively()); }

    QTemporaryDir m_dir;
    QString local;
    QString drive;
    FakeJob job;
    KRTCopyErrorReporter reporter { &job };
};

TEST_F(CopyReporterTest, FailedLinkIsRecreatedWithoutAsking)
{
    const QString source = local + QStringLiteral("/current");
    ASSERT_EQ(symlink("photos/2024", QFile::encodeName(source).constData()), 0);

    // Nothing at the destination yet.
    const QString fresh = drive + QStringLiteral("/current");
    EXPECT_EQ(reporter.shouldProceedAfterError({ { PMCopyHandler::kErrorKey, QStringLiteral("Input/output error") },
                  { PMCopyHandler::kPathKey, source }, { PMCopyHandler::kToPathKey, fresh } }),
        true);
    EXPECT_EQ(linkText(fresh), QStringLiteral("photos/2024"));

    // The engine's own link creation failing on a link to another place: replaced.
    const QString stale = drive + QStringLiteral("/stale");
    ASSERT_EQ(symlink("elsewhere", QFile::encodeName(stale).constData()), 0);
    PMItemOperations operations(&reporter);
    EXPECT_TRUE(operations.createSymbolicLink(stale, QStringLiteral("photos/2024"), source));
    EXPECT_EQ(linkText(stale), QStringLiteral("photos/2024"));

    // Already the same link: nothing to do.
    EXPECT_EQ(reporter.shouldProceedAfterErrorCopyingItem(EEXIST, source, stale), true);

    EXPECT_TRUE(job.alerts.isEmpty());
    EXPECT_TRUE(job.errorLines().isEmpty());
    EXPECT_EQ(reporter.errorCount(), 0);
    EXPECT_FALSE(job.pending);
}

TEST_F(CopyReporterTest, LinkIsNeverRecreatedOverUserData)
{
    const QString source = local + QStringLiteral("/current");
    ASSERT_EQ(symlink("photos", QFile::encodeName(source).constData()), 0);
    const QString occupied = drive + QStringLiteral("/current");
    testsupport::writeFile(occupied, "the user's own file");

    job.answer = true;
    EXPECT_EQ(reporter.shouldProceedAfterErrorCopyingItem(EEXIST, source, occupied), true);
    EXPECT_EQ(testsupport::readFile(occupied), QByteArray("the user's own file"));
    ASSERT_EQ(job.alerts.size(), 1);
    EXPECT_EQ(job.alerts[0].title, QStringLiteral("Copy Failed."));
    EXPECT_EQ(reporter.errorCount(), 1);

    // Not asking: a link that could not be recreated stops the operation.
    reporter.setErrorHandling(1);
    EXPECT_EQ(reporter.shouldProceedAfterErrorCopyingItem(EEXIST, source, occupied), false);
    EXPECT_EQ(job.alerts.size(), 1);
}

TEST_F(CopyReporterTest, IsADirectoryIsCountedAndAskedButNotLogged)
{
    const QString source = local + QStringLiteral("/song.mp3");
    testsupport::writeFile(source, "tune");
    const QString destination = drive + QStringLiteral("/song.mp3");
    ASSERT_TRUE(QDir().mkpath(destination));

    PMFileManager fileManager;
    EXPECT_TRUE(fileManager.copyPath(source, destination, true, &reporter)); // the user said OK
    EXPECT_EQ(reporter.errorCount(), 1);
    EXPECT_TRUE(job.errorLines().isEmpty()) << job.errorLines().join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(job.alerts.size(), 1);
    EXPECT_EQ(job.alerts[0].title, QStringLiteral("Copy Failed."));
    EXPECT_EQ(job.alerts[0].message,
        QStringLiteral("There was a problem copying \"song.mp3\" (Is a directory).  Do you want to continue with the "
                       "sync operation?"));
    EXPECT_TRUE(job.alerts[0].cancelButton);
    EXPECT_TRUE(job.alerts[0].logButton);
    EXPECT_FALSE(job.pending);
}

TEST_F(CopyReporterTest, CancelInTheAlertCancelsTheJob)
{
    const QString source = local + QStringLiteral("/movie.mp4");
    testsupport::writeFile(source, "frames");
    const QString destination = drive + QStringLiteral("/movie.mp4");

    job.answer = false;
    EXPECT_EQ(reporter.shouldProceedAfterErrorCopyingItem(EIO, source, destination), false);
    EXPECT_TRUE(job.pending);
    EXPECT_FALSE(job.cancelRVal);
    ASSERT_EQ(job.errorLines().size(), 1);
    EXPECT_EQ(job.errorLines()[0],
        QStringLiteral("Unable to copy \"%1\" to \"%2\" - Input/output error.").arg(source, destination));
    ASSERT_TRUE(job.log.first().startsWith(QLatin1String("path: ")));

    // Through the copy agent, a "no" quits the copy.
    job.pending = false;
    job.answer = false;
    PMFileCopyError error;
    error.code = EIO;
    error.userInfo
        = { { PMFileCopyError::PMFileCopyFromPathKey, source }, { PMFileCopyError::PMFileCopyToPathKey, destination } };
    PMFileCopyAgent agent;
    EXPECT_EQ(reporter.agentActionRequired(agent, error), PMFileCopyAgentDelegate::Quit);
    EXPECT_TRUE(job.pending);
    job.answer = true;
    job.pending = false;
    EXPECT_EQ(reporter.agentActionRequired(agent, error), PMFileCopyAgentDelegate::Skip);
    EXPECT_FALSE(job.pending);
    EXPECT_EQ(reporter.errorCount(), 3);
}

TEST_F(CopyReporterTest, ErrorHandlingPolicyAnswersWithoutAsking)
{
    const QString source = local + QStringLiteral("/a.txt");
    testsupport::writeFile(source, "a");
    reporter.setErrorHandling(1);
    EXPECT_EQ(reporter.shouldProceedAfterErrorMovingItem(EIO, source, drive + QStringLiteral("/a.txt")), true);
    reporter.setErrorHandling(-1);
    EXPECT_EQ(reporter.shouldProceedAfterErrorMovingItem(EIO, source, drive + QStringLiteral("/a.txt")), false);
    EXPECT_TRUE(job.alerts.isEmpty());
    EXPECT_FALSE(job.pending);
    EXPECT_EQ(reporter.errorCount(), 2);
    EXPECT_EQ(job.errorLines().size(), 2);
}

TEST_F(CopyReporterTest, DriveThatWentAwayIsReportedAsLostConnection)
{
    const QString source = local + QStringLiteral("/a.txt");
    testsupport::writeFile(source, "a");
    removeDrive();
    EXPECT_EQ(reporter.shouldProceedAfterErrorCopyingItem(EIO, source, drive + QStringLiteral("/a.txt")), false);
    ASSERT_EQ(job.alerts.size(), 1);
    EXPECT_EQ(job.alerts[0].title, QStringLiteral("Copy Failed."));
    EXPECT_EQ(job.alerts[0].message, QStringLiteral("There was a problem with the connection to the wireless device."));
    EXPECT_FALSE(job.alerts[0].cancelButton);
    EXPECT_FALSE(job.alerts[0].logButton);
    EXPECT_FALSE(job.pending);
    EXPECT_EQ(reporter.errorCount(), 1);
}

TEST_F(CopyReporterTest, APlainFolderDriveReportsTheRealErrorAndAsks)
{
    const QString source = local + QStringLiteral("/a.txt");
    testsupport::writeFile(source, "a");
    const QString destination = drive + QStringLiteral("/") + QString(300, QLatin1Char('n'));
    job.answer = true;
    EXPECT_EQ(reporter.shouldProceedAfterErrorCopyingItem(ENAMETOOLONG, source, destination), true);
    ASSERT_EQ(job.errorLines().size(), 1);
    EXPECT_EQ(job.errorLines()[0],
        QStringLiteral("Unable to copy \"%1\" to \"%2\" - File name too long.").arg(source, destination));
    ASSERT_EQ(job.alerts.size(), 1);
    EXPECT_EQ(job.alerts[0].title, QStringLiteral("Copy Failed."));
    EXPECT_EQ(job.alerts[0].message,
        QStringLiteral("There was a problem copying \"%1\" (File name too long).  Do you want to continue with the "
                       "sync operation?")
            .arg(QString(300, QLatin1Char('n'))));
    EXPECT_TRUE(job.alerts[0].cancelButton);
    EXPECT_TRUE(job.alerts[0].logButton);

    job.answer = false;
    EXPECT_EQ(
        reporter.shouldProceedAfterErrorCopyingItem(EACCES, source, drive + QStringLiteral("/locked/a.txt")), false);
    ASSERT_EQ(job.alerts.size(), 2);
    EXPECT_TRUE(job.alerts[1].message.contains(QLatin1String("(Permission denied)")))
        << job.alerts[1].message.toStdString();
    EXPECT_TRUE(job.pending) << "the user's no cancels the job";
}

TEST_F(CopyReporterTest, ANameThatIsNotUtf8IsShownByItsEscapedBytes)
{
    // "caf" 0xE9 ".txt" as the walk carries it: the byte as the lone surrogate U+DCE9.
    const QString name = QStringLiteral("caf") + QChar(0xDCE9) + QStringLiteral(".txt");
    const QString source = local + QLatin1Char('/') + name;
    job.answer = true;
    EXPECT_EQ(reporter.shouldProceedAfterErrorCopyingItem(EACCES, source, drive + QLatin1Char('/') + name), true);
    ASSERT_EQ(job.alerts.size(), 1);
    EXPECT_TRUE(job.alerts[0].message.contains(QLatin1String("\"caf\\xE9.txt\" (Permission denied)")))
        << job.alerts[0].message.toStdString();
}

TEST_F(CopyReporterTest, AContinuousJobIsNeverAskedAndGoesOnOnlyWhileTheDriveIsThere)
{
    job.continuous = true;
    job.answer = false; // a question would cancel: none may be asked
    const QString source = local + QStringLiteral("/a.txt");
    testsupport::writeFile(source, "a");
    EXPECT_EQ(reporter.shouldProceedAfterErrorCopyingItem(EIO, source, drive + QStringLiteral("/a.txt")), true);
    EXPECT_EQ(reporter.shouldProceedAfterErrorRemovingItem(EACCES, drive + QStringLiteral("/old.txt")), true);

    removeDrive();
    EXPECT_EQ(reporter.shouldProceedAfterErrorCopyingItem(EIO, source, drive + QStringLiteral("/b.txt")), false);

    EXPECT_TRUE(job.alerts.isEmpty());
    EXPECT_FALSE(job.pending) << "the job ends as failed, not as canceled by the user";
    EXPECT_EQ(reporter.errorCount(), 3);
    EXPECT_EQ(job.errorLines().size(), 3) << "every failure is still in the log";
}

TEST_F(CopyReporterTest, FailedRemovalOnThePresentDriveIsAskedAbout)
{
    const QString item = drive + QStringLiteral("/old.txt");
    testsupport::writeFile(item, "old");
    job.answer = true;
    EXPECT_EQ(reporter.shouldProceedAfterErrorRemovingItem(EACCES, item), true);
    ASSERT_EQ(job.errorLines().size(), 1);
    EXPECT_EQ(job.errorLines()[0], QStringLiteral("Unable to copy \"%1\"- Permission denied.").arg(item));
    ASSERT_EQ(job.alerts.size(), 1);
    EXPECT_EQ(job.alerts[0].message,
        QStringLiteral("There was a problem copying \"old.txt\" (Permission denied).  Do you want to continue with "
                       "the sync operation?"));
}

TEST_F(CopyReporterTest, ProgressIsHandedOnAndAPendingCancelStopsTheCopy)
{
    const QString source = local + QStringLiteral("/big.bin");
    const qint64 size = 3 * PMFileCopyAgent::kProgressChunkBytes + 1000;
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.write(QByteArray(size, 'x')) == size);
    }
    PMFileCopyAgent copied(source, drive + QStringLiteral("/big.bin"), &reporter);
    EXPECT_TRUE(copied.performCopy());
    EXPECT_EQ(job.partiallyCopied, quint64(size));

    job.partiallyCopied = 0;
    job.pending = true;
    PMFileCopyAgent canceled(source, drive + QStringLiteral("/again.bin"), &reporter);
    EXPECT_FALSE(canceled.performCopy());
    EXPECT_TRUE(canceled.cancelled());
    EXPECT_GT(job.partiallyCopied, 0u);
    EXPECT_LT(job.partiallyCopied, quint64(size));
    EXPECT_LT(QFileInfo(drive + QStringLiteral("/again.bin")).size(), size);
    EXPECT_EQ(reporter.errorCount(), 0);
}

TEST(DeleteReporter, LogsAsksAndCancelsOnNo)
{
    FakeJob job;
    KRTDeleteErrorReporter reporter(&job);
    const QString path = QStringLiteral("/media/alice/Drive/user_computer/notes.txt");

    job.answer = true;
    EXPECT_EQ(reporter.shouldProceedAfterErrorRemovingItem(EACCES, path), true);
    ASSERT_EQ(job.log.size(), 1);
    EXPECT_EQ(job.log[0], QStringLiteral("Unable to delete \"%1\" - Permission denied.").arg(path));
    ASSERT_EQ(job.alerts.size(), 1);
    EXPECT_EQ(job.alerts[0].title, QStringLiteral("Delete Failed."));
    EXPECT_EQ(job.alerts[0].message,
        QStringLiteral("There was a problem deleting \"notes.txt\" (Permission denied).  Do you want to continue "
                       "with the sync operation?"));
    EXPECT_TRUE(job.alerts[0].cancelButton);
    EXPECT_FALSE(job.alerts[0].logButton);
    EXPECT_FALSE(job.pending);

    job.answer = false;
    EXPECT_EQ(reporter.shouldProceedAfterError(
                  { { PMCopyHandler::kErrorKey, QStringLiteral("Busy") }, { PMCopyHandler::kPathKey, path } }),
        false);
    EXPECT_TRUE(job.pending);
    EXPECT_FALSE(job.cancelRVal);

    reporter.setErrorHandling(-1);
    job.pending = false;
    EXPECT_EQ(reporter.shouldProceedAfterErrorRemovingItem(EIO, path), false);
    EXPECT_EQ(job.alerts.size(), 2);
    EXPECT_FALSE(job.pending);
    EXPECT_EQ(reporter.errorCount(), 3);

    reporter.willProcessPath(path);
    EXPECT_EQ(job.debug.last(), QStringLiteral("KRTDeleteErrorReporter: deleting \"%1\"...").arg(path));
}

TEST(DeleteReporter, AContinuousJobLogsAndGoesOnWithoutAsking)
{
    FakeJob job;
    job.continuous = true;
    job.answer = false;
    KRTDeleteErrorReporter reporter(&job);
    const QString path = QStringLiteral("/media/alice/Drive/user_computer/notes.txt");
    EXPECT_EQ(reporter.shouldProceedAfterErrorRemovingItem(EACCES, path), true);
    EXPECT_TRUE(job.alerts.isEmpty());
    EXPECT_FALSE(job.pending);
    EXPECT_EQ(job.log, QStringList { QStringLiteral("Unable to delete \"%1\" - Permission denied.").arg(path) });
}

TEST(DriveNameRules, FatAndExFatRefuseWindowsNames)
{
    for (const QString &kind : { QStringLiteral("vfat"), QStringLiteral("exfat"), QStringLiteral("msdos") }) {
        for (const char *bad : { "a:b", "what?", "x*y", "quote\"d", "back\\slash", "pipe|d", "less<", "more>",
                 "trailing.", "trailing ", "tab\tin" }) {
            EXPECT_FALSE(PMDriveNameRules::isNameAllowed(kind, QString::fromUtf8(bad)))
                << bad << " on " << kind.toStdString();
        }
        for (const char *good : { "song.mp3", ".hidden", "Ünïcode ✓", "a b.c" })
            EXPECT_TRUE(PMDriveNameRules::isNameAllowed(kind, QString::fromUtf8(good))) << good;
    }
    EXPECT_TRUE(PMDriveNameRules::isNameAllowed(QStringLiteral("ext4"), QStringLiteral("a:b?.")));
    EXPECT_TRUE(PMDriveNameRules::isNameAllowed(QStringLiteral("ntfs"), QStringLiteral("a:b")));
}

// ---- Real drives (root) ----

std::unique_ptr<testsupport::DriveImage> mountedDrive(
    testsupport::DriveImage::FileSystem fileSystem, qint64 sizeMiB, QString *whyNot)
{
    if (geteuid() != 0) {
        *whyNot = QStringLiteral("needs root to attach and mount drive images");
        return nullptr;
    }
    auto drive = testsupport::DriveImage::create(fileSystem, sizeMiB, whyNot);
    if (!drive || !drive->mount(false, whyNot))
        return nullptr;
    return drive;
}

quint64 freeBytes(const QString &path)
{
    struct statvfs info = {};
    if (statvfs(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return quint64(info.f_bavail) * quint64(info.f_frsize);
}

// Takes space on the drive until exactly `wanted` bytes (rounded to blocks) stay free.
bool fillUntilFree(const QString &mountPoint, quint64 wanted)
{
    const quint64 available = freeBytes(mountPoint);
    if (available <= wanted)
        return false;
    const QByteArray filler = QFile::encodeName(mountPoint + QStringLiteral("/filler"));
    const int fd = open(filler.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const int result = posix_fallocate(fd, 0, off_t(available - wanted));
    close(fd);
    return result == 0;
}

TEST(CopyReporterOnDrive, AlmostFullDriveIsReportedAsFullWhateverTheSize)
{
    QString whyNot;
    auto drive = mountedDrive(testsupport::DriveImage::FileSystem::Ext4, 16, &whyNot);
    if (!drive)
        GTEST_SKIP() << whyNot.toStdString();
    ASSERT_TRUE(fillUntilFree(drive->mountPoint(), 100000));
    const quint64 available = freeBytes(drive->mountPoint());
    ASSERT_LT(available, KRTCopyErrorReporter::kMinimumFreeBytes);
    ASSERT_GT(available, 60000u);

    QTemporaryDir local;
    const QString source = local.filePath(QStringLiteral("tiny.txt"));
    testsupport::writeFile(source, "ten bytes!");
    FakeJob job;
    job.mountPoint = drive->mountPoint();
    KRTCopyErrorReporter reporter(&job);
    job.answer = true;
    const QString destination = drive->mountPoint() + QStringLiteral("/user_computer/tiny.txt");
    EXPECT_EQ(reporter.shouldProceedAfterErrorCopyingItem(EIO, source, destination), true);
    ASSERT_EQ(job.errorLines().size(), 1);
    EXPECT_EQ(job.errorLines()[0],
        QStringLiteral("Unable to copy \"%1\" to \"%2\" - Not enough free space on disk.").arg(source, destination));
    ASSERT_EQ(job.alerts.size(), 1);
    EXPECT_EQ(job.alerts[0].message,
        QStringLiteral("There was a problem copying \"tiny.txt\" (Not enough free space on disk).  Do you want to "
                       "continue with the sync operation?"));

    // A real copy running out of space on the way: the same diagnosis, and "no" cancels the job.
    const QString big = local.filePath(QStringLiteral("big.bin"));
    testsupport::writeFile(big, QByteArray(1024 * 1024, 'b'));
    job.answer = false;
    PMFileManager fileManager;
    EXPECT_FALSE(
        fileManager.copyPath(big, drive->mountPoint() + QStringLiteral("/user_computer/big.bin"), true, &reporter));
    ASSERT_EQ(job.errorLines().size(), 2);
    EXPECT_TRUE(job.errorLines()[1].endsWith(QLatin1String("big.bin\" - Not enough free space on disk.")))
        << job.errorLines()[1].toStdString();
    EXPECT_TRUE(job.pending);
    EXPECT_FALSE(job.cancelRVal);

    // A continuous job on the full drive stops the copy without asking and without a cancel.
    FakeJob continuous;
    continuous.continuous = true;
    continuous.mountPoint = drive->mountPoint();
    KRTCopyErrorReporter unattended(&continuous);
    EXPECT_EQ(unattended.shouldProceedAfterErrorCopyingItem(ENOSPC, source, destination), false);
    EXPECT_TRUE(continuous.alerts.isEmpty());
    EXPECT_FALSE(continuous.pending);
}

TEST(CopyReporterOnDrive, AnUnmountedDriveIsReportedAsLostConnection)
{
    QString whyNot;
    auto drive = mountedDrive(testsupport::DriveImage::FileSystem::Ext4, 16, &whyNot);
    if (!drive)
        GTEST_SKIP() << whyNot.toStdString();
    const QString mountPoint = drive->mountPoint();
    FakeJob job;
    job.mountPoint = mountPoint;
    KRTCopyErrorReporter reporter(&job);
    EXPECT_TRUE(reporter.destinationVolumePresent(mountPoint + QStringLiteral("/a.txt")));
    EXPECT_FALSE(reporter.destinationVolumePresent(QStringLiteral("/elsewhere/a.txt")));

    ASSERT_TRUE(drive->unmount());
    QTemporaryDir local;
    const QString source = local.filePath(QStringLiteral("a.txt"));
    testsupport::writeFile(source, "a");
    // The folder the drive was mounted on may still be there; it is not the drive.
    EXPECT_FALSE(reporter.destinationVolumePresent(mountPoint + QStringLiteral("/a.txt")));
    EXPECT_EQ(reporter.shouldProceedAfterErrorCopyingItem(EIO, source, mountPoint + QStringLiteral("/a.txt")), false);
    ASSERT_EQ(job.alerts.size(), 1);
    EXPECT_EQ(job.alerts[0].message, QStringLiteral("There was a problem with the connection to the wireless device."));
}

TEST(CopyReporterOnDrive, FreeSpaceIsComparedInFullBeyondFourGiB)
{
    QString whyNot;
    auto drive = mountedDrive(testsupport::DriveImage::FileSystem::Ext4, 4400, &whyNot);
    if (!drive)
        GTEST_SKIP() << whyNot.toStdString();
    // 4 GiB + 100,000 bytes free: cut to 32 bits that would look like an almost full drive.
    const quint64 fourGiB = quint64(1) << 32;
    ASSERT_TRUE(fillUntilFree(drive->mountPoint(), fourGiB + 100000));
    const quint64 available = freeBytes(drive->mountPoint());
    ASSERT_GT(available, fourGiB);
    ASSERT_LT(available - fourGiB, KRTCopyErrorReporter::kMinimumFreeBytes);

    QTemporaryDir local;
    FakeJob job;
    job.mountPoint = drive->mountPoint();
    KRTCopyErrorReporter reporter(&job);
    const QString small = local.filePath(QStringLiteral("small.txt"));
    testsupport::writeFile(small, "small");
    EXPECT_EQ(
        reporter.shouldProceedAfterErrorCopyingItem(EIO, small, drive->mountPoint() + QStringLiteral("/small.txt")),
        true);

    // 8 GiB + 10 bytes (sparse): cut to 32 bits that would look like 10 bytes.
    const QString huge = local.filePath(QStringLiteral("huge.bin"));
    {
        QFile file(huge);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(qint64(2 * fourGiB + 10)));
    }
    EXPECT_EQ(reporter.shouldProceedAfterErrorCopyingItem(EIO, huge, drive->mountPoint() + QStringLiteral("/huge.bin")),
        true);
    const QStringList lines = job.errorLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(QLatin1String(" - Input/output error."))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(QLatin1String(" - Not enough free space on disk."))) << lines[1].toStdString();
}

TEST(CopyReporterOnDrive, NameTheDriveCannotStoreIsNamedInTheReport)
{
    QString whyNot;
    auto drive = mountedDrive(testsupport::DriveImage::FileSystem::ExFat, 32, &whyNot);
    if (!drive)
        GTEST_SKIP() << whyNot.toStdString();
    QTemporaryDir local;
    const QString source = local.filePath(QStringLiteral("Meeting 10:30?.txt"));
    testsupport::writeFile(source, "notes");
    FakeJob job;
    job.mountPoint = drive->mountPoint();
    job.answer = true;
    KRTCopyErrorReporter reporter(&job);
    const QString destination = drive->mountPoint() + QStringLiteral("/user_computer/Meeting 10:30?.txt");

    PMFileManager fileManager;
    EXPECT_FALSE(fileManager.copyPath(source, destination, true, &reporter));
    EXPECT_FALSE(QFileInfo::exists(destination));
    EXPECT_EQ(reporter.errorCount(), 1);
    ASSERT_FALSE(job.errorLines().isEmpty());
    EXPECT_EQ(job.errorLines().last(),
        QStringLiteral("Unable to copy \"%1\" to \"%2\" - the name \"Meeting 10:30?.txt\" is not allowed on this "
                       "exFAT drive.")
            .arg(source, destination));
    ASSERT_FALSE(job.alerts.isEmpty());
    EXPECT_TRUE(job.alerts.last().message.contains(
        QLatin1String("(the name \"Meeting 10:30?.txt\" is not allowed on this exFAT drive)")));

    // A name the drive can store keeps the driver's own text.
    EXPECT_EQ(
        PMDriveNameRules::refusedComponent(drive->mountPoint() + QStringLiteral("/user_computer/ok.txt")), QString());
}

} // namespace
