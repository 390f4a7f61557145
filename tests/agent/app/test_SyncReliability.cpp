// `pellmere sync` when things go wrong on a real drive: the process killed in the middle of
// copying, the drive filling up, the drive going away. Whatever happens, the synced tree on
// the drive never holds a half-written file, and the program ends instead of hanging.
#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <sys/types.h>

using testsupport::DriveImage;

namespace {

constexpr int kRunTimeoutMs = 180000;
// Long enough for any healthy run to end; only a hung program runs into it.
constexpr int kHangTimeoutMs = 60000;
const QString kTempFolderName = QStringLiteral(".Z_PM_W");

struct CommandRun {
    bool finished = false;
    bool crashed = false;
    int exitCode = -1;
    QString out;
    QString err;
};

QByteArray patternBytes(int index, qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(quint32(index) + 1);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / qint64(sizeof(quint32)));
    for (qint64 i = size - size % qint64(sizeof(quint32)); i < size; ++i)
        bytes[i] = char(index);
    return bytes;
}

class SyncReliabilityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        const QString why = DriveImage::unavailableReason(DriveImage::FileSystem::Ext4);
        if (!why.isEmpty())
            GTEST_SKIP() << "needs real ext4 drive images (root and loop devices): " << why.toStdString();
    }

    void TearDown() override
    {
        if (m_process) {
            if (m_process->state() != QProcess::NotRunning) {
                m_process->kill();
                m_process->waitForFinished();
            }
            m_process.reset();
        }
        m_drive.reset();
    }

    // A mounted drive of the given kind and size; skips the test when it cannot be made.
    bool makeDrive(DriveImage::FileSystem fileSystem, qint64 sizeMiB)
    {
        QString whyNot;
        m_drive = DriveImage::create(fileSystem, sizeMiB, &whyNot);
        if (!m_drive || !m_drive->mount(false, &whyNot)) {
            m_skipReason = QStringLiteral("cannot make a drive image: ") + whyNot;
            m_drive.reset();
            return false;
        }
        return true;
    }

    QString home(const QString &relative) const { return m_home.filePath(relative); }
    QString mountPoint() const { return m_drive->mountPoint(); }

    // Music files of distinct, reproducible contents, so a half-written copy always differs.
    void makeMusic(int count, qint64 size)
    {
        for (int i = 0; i < count; ++i)
            testsupport::writeFile(
                home(QStringLiteral("Music/Album %1/track %2.mp3").arg(i % 10).arg(i)), patternBytes(i, size));
    }

    QStringList syncArguments() const
    {
        return { QStringLiteral("sync"), QStringLiteral("--drive"), mountPoint(), QStringLiteral("--item"),
            home(QStringLiteral("Music")), QStringLiteral("--device-filter"), QStringLiteral("0") };
    }

    void start(const QStringList &arguments)
    {
        m_process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral(".config")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), m_home.filePath(QStringLiteral(".local/state")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral(".run")));
        m_process->setProcessEnvironment(env);
        m_process->start(QStringLiteral(PELLMERE_AGENT_BINARY), arguments);
        m_process->closeWriteChannel();
        ASSERT_TRUE(m_process->waitForStarted()) << m_process->errorString().toStdString();
    }

    // Waits for the started process; a process still running after timeoutMs is killed and
    // reported as not finished.
    CommandRun finish(int timeoutMs)
    {
        CommandRun run;
        run.finished = m_process->waitForFinished(timeoutMs);
        if (!run.finished) {
            m_process->kill();
            m_process->waitForFinished();
        }
        run.crashed = run.finished && m_process->exitStatus() != QProcess::NormalExit;
        run.exitCode = run.finished && !run.crashed ? m_process->exitCode() : -1;
        run.out = QString::fromUtf8(m_process->readAllStandardOutput());
        run.err = QString::fromUtf8(m_process->readAllStandardError());
        m_process.reset();
        return run;
    }

    CommandRun runSync()
    {
        start(syncArguments());
        return finish(kRunTimeoutMs);
    }

    // True once a copy has landed in the drive's temporary folder: the copy phase is running.
    bool copyingHasStarted() const
    {
        QDirIterator it(mountPoint(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            if (it.next().contains(QLatin1Char('/') + kTempFolderName + QLatin1Char('/')))
                return true;
        }
        return false;
    }

    // The computer-user folder the command made on the drive (empty while there is none).
    QString userFolder() const
    {
        const QStringList folders = QDir(mountPoint()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &folder : folders)
            if (folder != QLatin1String("lost+found"))
                return mountPoint() + QLatin1Char('/') + folder;
        return QString();
    }

    // Every file of the synced tree (the user folder without its temporary folder), as paths
    // relative to the user folder.
    QStringList syncedFiles() const
    {
        QStringList files;
        const QString root = userFolder();
        if (root.isEmpty())
            return files;
        QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString relative = it.next().mid(root.size() + 1);
            if (!relative.startsWith(kTempFolderName + QLatin1Char('/')))
                files.append(relative);
        }
        files.sort();
        return files;
    }

    // Checks that every synced file is a complete copy of its source; answers how many there are.
    int expectOnlyWholeCopies(const char *when)
    {
        const QStringList files = syncedFiles();
        for (const QString &relative : files) {
            const QString source = home(relative);
            if (!QFileInfo(source).isFile()) {
                ADD_FAILURE() << when << ": " << relative.toStdString() << " has no source";
                continue;
            }
            const QByteArray copy = testsupport::readFile(userFolder() + QLatin1Char('/') + relative);
            const QByteArray original = testsupport::readFile(source);
            EXPECT_TRUE(copy == original) << when << ": " << relative.toStdString() << " is a partial copy ("
                                          << copy.size() << " of " << original.size() << " bytes)";
        }
        return int(files.size());
    }

    QString driveTempFolder() const
    {
        const QString root = userFolder();
        return root.isEmpty() ? QString() : root + QLatin1Char('/') + kTempFolderName;
    }
    bool driveTempFolderHoldsAnything() const
    {
        const QString temp = driveTempFolder();
        if (temp.isEmpty() || !QFileInfo(temp).isDir())
            return false;
        QDirIterator it(
            temp, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        return it.hasNext();
    }

    QTemporaryDir m_home;
    std::unique_ptr<DriveImage> m_drive;
    std::unique_ptr<QProcess> m_process;
    QString m_skipReason;
};

// The process id of the FUSE driver serving mountPoint, or 0.
pid_t fuseDriverFor(const QString &mountPoint)
{
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        const pid_t pid = pid_t(entry.toLongLong(&isPid));
        if (!isPid)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> arguments = cmdline.readAll().split('\0');
        if (arguments.isEmpty() || arguments.first().contains("pellmere"))
            continue;
        const QByteArray program = QFileInfo(QString::fromLocal8Bit(arguments.first())).fileName().toLocal8Bit();
        const bool isDriver = program.contains("exfat") || program.contains("ntfs-3g");
        if (isDriver && arguments.contains(QFile::encodeName(mountPoint)))
            return pid;
    }
    return 0;
}

} // namespace

TEST_F(SyncReliabilityTest, AKilledSyncLeavesNoPartialFileAndTheNextRunCompletes)
{
    if (!makeDrive(DriveImage::FileSystem::Ext4, 512))
        GTEST_SKIP() << m_skipReason.toStdString();
    // Many files and enough bytes that the copy is certainly still running when it is killed.
    constexpr int kFiles = 300;
    makeMusic(kFiles, 640 * 1024);

    start(syncArguments());
    ASSERT_TRUE(testsupport::waitFor([this] { return copyingHasStarted(); }, std::chrono::milliseconds(kRunTimeoutMs)))
        << "the copy never started";
    m_process->kill();
    const CommandRun killed = finish(kHangTimeoutMs);
    ASSERT_TRUE(killed.finished);
    ASSERT_TRUE(killed.crashed) << "the sync ended before it could be killed; make the tree larger";
    ASSERT_TRUE(driveTempFolderHoldsAnything()) << "a job killed while copying leaves its temporary folder behind";
    const int landed = expectOnlyWholeCopies("after the kill");
    EXPECT_LT(landed, kFiles) << "the kill came after everything was in place";

    const CommandRun again = runSync();
    ASSERT_TRUE(again.finished) << again.err.toStdString();
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_TRUE(again.out.trimmed().endsWith(QStringLiteral("completed successfully."))) << again.out.toStdString();
    EXPECT_FALSE(driveTempFolderHoldsAnything()) << "the leftover temporary folder is removed";
    EXPECT_EQ(expectOnlyWholeCopies("after the second run"), kFiles) << "everything is copied";
}

TEST_F(SyncReliabilityTest, ADriveThatFillsUpFailsNamingTheFileAndKeepsNoPartialFile)
{
    if (!makeDrive(DriveImage::FileSystem::Ext4, 24))
        GTEST_SKIP() << m_skipReason.toStdString();
    // 40 MiB of music for a drive of 24 MiB.
    constexpr int kFiles = 20;
    makeMusic(kFiles, 2 * 1024 * 1024);

    const CommandRun run = runSync();
    ASSERT_TRUE(run.finished) << "the sync hung: " << run.err.toStdString();
    ASSERT_FALSE(run.crashed) << run.err.toStdString();
    EXPECT_EQ(run.exitCode, 1) << run.out.toStdString() << run.err.toStdString();
    const QString output = run.out + run.err;
    EXPECT_TRUE(output.contains(QStringLiteral("Not enough free space on disk"))) << output.toStdString();
    bool namesAFile = false;
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        if (line.contains(QStringLiteral("Not enough free space on disk"))
            && line.contains(QRegularExpression(QStringLiteral("track \\d+\\.mp3"))))
            namesAFile = true;
    }
    EXPECT_TRUE(namesAFile) << "the free-space message names the file: " << output.toStdString();
    EXPECT_FALSE(run.out.trimmed().endsWith(QStringLiteral("completed successfully."))) << run.out.toStdString();

    const int landed = expectOnlyWholeCopies("after running out of space");
    EXPECT_LT(landed, kFiles);
    EXPECT_FALSE(driveTempFolderHoldsAnything()) << "the failed job removes its temporary folder";
}

TEST_F(SyncReliabilityTest, ADriveUnmountedWhileCopyingEndsTheSyncWithAFailure)
{
    if (!makeDrive(DriveImage::FileSystem::Ext4, 512))
        GTEST_SKIP() << m_skipReason.toStdString();
    makeMusic(300, 640 * 1024);

    start(syncArguments());
    ASSERT_TRUE(testsupport::waitFor([this] { return copyingHasStarted(); }, std::chrono::milliseconds(kRunTimeoutMs)))
        << "the copy never started";
    // Yanking the cable: the file system stays alive for open files only, the path is gone.
    ASSERT_TRUE(DriveImage::run(QStringLiteral("umount"), { QStringLiteral("-l"), mountPoint() }));
    const CommandRun run = finish(kHangTimeoutMs);
    ASSERT_TRUE(run.finished) << "the sync hung after the drive went away: " << run.err.toStdString();
    EXPECT_FALSE(run.crashed) << run.err.toStdString();
    EXPECT_EQ(run.exitCode, 1) << run.out.toStdString() << run.err.toStdString();
    EXPECT_FALSE(run.out.trimmed().endsWith(QStringLiteral("completed successfully."))) << run.out.toStdString();
    // Neither copies nor the settings the job's end records belong in the bare mount point
    // the drive left behind.
    QStringList strays;
    QDirIterator it(mountPoint(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        strays.append(it.next());
    EXPECT_TRUE(strays.isEmpty()) << "files are left in the bare mount point the drive left behind: "
                                  << strays.join(QLatin1Char(' ')).toStdString();
    EXPECT_FALSE(QFileInfo::exists(mountPoint() + QStringLiteral("/.PellmereConfig")));
}

TEST_F(SyncReliabilityTest, AFuseDriveWhoseDriverDiesWhileCopyingEndsTheSyncWithAFailure)
{
    const QString why = DriveImage::unavailableReason(DriveImage::FileSystem::ExFat);
    if (!why.isEmpty())
        GTEST_SKIP() << "needs exFAT drive images (root, /dev/fuse, exfat-fuse): " << why.toStdString();
    if (!makeDrive(DriveImage::FileSystem::ExFat, 512))
        GTEST_SKIP() << m_skipReason.toStdString();
    const pid_t driver = fuseDriverFor(mountPoint());
    ASSERT_GT(driver, 0) << "no FUSE driver serves " << mountPoint().toStdString();
    makeMusic(300, 640 * 1024);

    start(syncArguments());
    ASSERT_TRUE(testsupport::waitFor([this] { return copyingHasStarted(); }, std::chrono::milliseconds(kRunTimeoutMs)))
        << "the copy never started";
    ASSERT_EQ(::kill(driver, SIGKILL), 0);
    const CommandRun run = finish(kHangTimeoutMs);
    ASSERT_TRUE(run.finished) << "the sync hung after the drive's driver died: " << run.err.toStdString();
    EXPECT_FALSE(run.crashed) << run.err.toStdString();
    EXPECT_EQ(run.exitCode, 1) << run.out.toStdString() << run.err.toStdString();
    EXPECT_FALSE(run.out.trimmed().endsWith(QStringLiteral("completed successfully."))) << run.out.toStdString();
}
