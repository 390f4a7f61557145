// `pellmere sync` as a user or a script runs it: the real program, a home folder and a drive
// folder, exit status and output checked.
#include "platform/PropertyList.h"
#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

struct CommandRun {
    int exitCode = -1;
    QString out;
    QString err;
    QString lastOutLine() const
    {
        const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return lines.isEmpty() ? QString() : lines.last();
    }
};

class SyncCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        ASSERT_TRUE(m_drive.isValid());
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral(".config")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), m_home.filePath(QStringLiteral(".local/state")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral(".run")));
        return env;
    }

    CommandRun pellmere(const QStringList &arguments, const QProcessEnvironment &env)
    {
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(PELLMERE_AGENT_BINARY), arguments);
        process.closeWriteChannel();
        CommandRun run;
        if (!process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << "pellmere did not finish";
            return run;
        }
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }
    CommandRun pellmere(const QStringList &arguments) { return pellmere(arguments, environment()); }
    CommandRun sync(const QStringList &extra = {}) { return syncOnto(m_drive.path(), extra); }
    CommandRun syncOnto(const QString &drive, const QStringList &extra = {})
    {
        return pellmere(QStringList { QStringLiteral("sync"), QStringLiteral("--drive"), drive } + extra);
    }
    QString logFileText() const
    {
        return QString::fromUtf8(testsupport::readFile(home(QStringLiteral(".local/state/pellmere/Pellmere.log"))));
    }
    QString home(const QString &relative) const { return m_home.filePath(relative); }
    // The computer-user folder the command made on the drive.
    QString userFolder() const
    {
        const QStringList folders = QDir(m_drive.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        return folders.size() == 1 ? m_drive.filePath(folders.first()) : QString();
    }
    QStringList driveFiles() const
    {
        QStringList files;
        QDirIterator it(m_drive.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files.append(it.next().mid(m_drive.path().size() + 1));
        files.sort();
        return files;
    }

    QTemporaryDir m_home;
    QTemporaryDir m_drive;
};

// Counts how often a file directly in a folder is put in place, which is how the settings
// file is written (renamed over the old one, or linked in when there was none); the events
// wait in the kernel until count() reads them.
class RenameCounter {
public:
    explicit RenameCounter(const QString &folder)
        : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (m_fd >= 0 && inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), IN_MOVED_TO | IN_CREATE) < 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~RenameCounter()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RenameCounter(const RenameCounter &) = delete;
    RenameCounter &operator=(const RenameCounter &) = delete;
    bool isValid() const { return m_fd >= 0; }

    int count(const QString &name)
    {
        alignas(inotify_event) char buffer[16384];
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (ssize_t offset = 0; offset < n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
                if (event->len > 0 && QFile::decodeName(event->name) == name)
                    ++m_count;
                offset += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        return m_count;
    }

private:
    int m_fd;
    int m_count = 0;
};

bool makeMovie(const QString &path, const QString &size)
{
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
        return false;
    QDir().mkpath(QFileInfo(path).absolutePath());
    return QProcess::execute(QStringLiteral("ffmpeg"),
               { QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                   QStringLiteral("lavfi"), QStringLiteral("-i"),
                   QStringLiteral("testsrc=size=%1:rate=30:duration=1").arg(size), QStringLiteral("-c:v"),
                   QStringLiteral("libx264"), QStringLiteral("-preset"), QStringLiteral("ultrafast"),
                   QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), path })
        == 0;
}

} // namespace

TEST_F(SyncCommandTest, BadUsageExitsWithTwoAndSaysWhy)
{
    struct Case {
        QStringList arguments;
        QString message;
    };
    testsupport::writeFile(home(QStringLiteral("file")), "x");
    const QList<Case> cases = {
        { { QStringLiteral("sync") }, QStringLiteral("--drive DIR is required") },
        { { QStringLiteral("sync"), QStringLiteral("--drive"), home(QStringLiteral("missing")) },
            QStringLiteral("is not a folder") },
        { { QStringLiteral("sync"), QStringLiteral("--drive"), home(QStringLiteral("file")) },
            QStringLiteral("is not a folder") },
        { { QStringLiteral("sync"), QStringLiteral("--drive"), m_drive.path(), QStringLiteral("--device-filter"),
              QStringLiteral("nine") },
            QStringLiteral("--device-filter takes a number") },
        { { QStringLiteral("sync"), QStringLiteral("--drive"), m_drive.path(), QStringLiteral("--item"),
              home(QStringLiteral("nowhere")) },
            QStringLiteral("does not exist") },
        { { QStringLiteral("sync"), QStringLiteral("--frobnicate") }, QStringLiteral("frobnicate") },
        { { QStringLiteral("teleport") }, QStringLiteral("unknown command") },
    };
    for (const Case &c : cases) {
        const CommandRun run = pellmere(c.arguments);
        EXPECT_EQ(run.exitCode, 2) << c.arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(run.err.contains(c.message)) << run.err.toStdString();
    }
    EXPECT_TRUE(driveFiles().isEmpty()) << "nothing written for bad usage";
}

TEST_F(SyncCommandTest, ASyncCompletesAndASecondRunCopiesNothing)
{
    testsupport::writeFile(home(QStringLiteral("Music/Album/track.mp3")), "audio bytes");
    testsupport::writeFile(home(QStringLiteral("Music/cover.jpg")), "picture bytes");
    const CommandRun first = sync({ QStringLiteral("--item"), home(QStringLiteral("Music")),
        QStringLiteral("--device-filter"), QStringLiteral("0") });
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    EXPECT_TRUE(first.lastOutLine().endsWith(QStringLiteral("completed successfully."))) << first.out.toStdString();
    const QString copied = userFolder() + QStringLiteral("/Music/Album/track.mp3");
    EXPECT_EQ(testsupport::readFile(copied), QByteArray("audio bytes"));

    struct stat before = {};
    ASSERT_EQ(stat(QFile::encodeName(copied).constData(), &before), 0);
    const CommandRun second = sync(); // the drive remembers the list and the filter
    ASSERT_EQ(second.exitCode, 0) << second.err.toStdString();
    struct stat after = {};
    ASSERT_EQ(stat(QFile::encodeName(copied).constData(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino) << "nothing is copied twice";
    EXPECT_TRUE(second.lastOutLine().endsWith(QStringLiteral("completed successfully.")));
}

TEST_F(SyncCommandTest, TheSettingsFileIsWrittenOnceBeforeTheJobAndNotAtAllWhenNothingChanged)
{
    testsupport::writeFile(home(QStringLiteral("Music/track.mp3")), "audio bytes");
    const QStringList options { QStringLiteral("--item"), home(QStringLiteral("Music")),
        QStringLiteral("--device-filter"), QStringLiteral("0"), QStringLiteral("--categories"),
        QStringLiteral("music,movies") };
    const QString settings = QStringLiteral(".PellmereConfig");
    RenameCounter first(m_drive.path());
    ASSERT_TRUE(first.isValid()) << std::strerror(errno);
    ASSERT_EQ(sync(options).exitCode, 0);
    // The settings before the job, then the job's record of the time it completed.
    EXPECT_EQ(first.count(settings), 2);

    RenameCounter second(m_drive.path());
    ASSERT_EQ(sync(options).exitCode, 0);
    EXPECT_EQ(second.count(settings), 1) << "the same settings again are not rewritten; the sync time is";

    RenameCounter changed(m_drive.path());
    ASSERT_EQ(sync({ QStringLiteral("--categories"), QStringLiteral("all") }).exitCode, 0);
    EXPECT_EQ(changed.count(settings), 2) << "changed settings are written, once";
}

TEST_F(SyncCommandTest, ADryRunShowsThePlanAndChangesNothing)
{
    testsupport::writeFile(home(QStringLiteral("Music/track.mp3")), "audio bytes");
    const CommandRun run = sync({ QStringLiteral("--item"), home(QStringLiteral("Music")),
        QStringLiteral("--device-filter"), QStringLiteral("0"), QStringLiteral("--dry-run") });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("Music"))) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("New"))) << run.out.toStdString();
    EXPECT_TRUE(driveFiles().isEmpty()) << "not even the settings file: "
                                        << driveFiles().join(QLatin1Char(' ')).toStdString();
    EXPECT_FALSE(QFileInfo::exists(home(QStringLiteral(".Z_PM_W"))));
}

TEST_F(SyncCommandTest, TheDeviceFilterLeavesOutMoviesTheDeviceCannotPlay)
{
    if (!makeMovie(home(QStringLiteral("Movies/small.mp4")), QStringLiteral("640x480"))
        || !makeMovie(home(QStringLiteral("Movies/hd.mp4")), QStringLiteral("1280x720")))
        GTEST_SKIP() << "ffmpeg with libx264 is needed to make test movies";
    // Device filter 4: an older Apple device that plays standard definition only.
    const CommandRun run = sync({ QStringLiteral("--item"), home(QStringLiteral("Movies")),
        QStringLiteral("--device-filter"), QStringLiteral("4") });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(userFolder() + QStringLiteral("/Movies/small.mp4")));
    EXPECT_FALSE(QFileInfo::exists(userFolder() + QStringLiteral("/Movies/hd.mp4")));
}

TEST_F(SyncCommandTest, ExplainListsEveryFileTheFilterLeavesOutWithTheFiltersReason)
{
    if (!makeMovie(home(QStringLiteral("Movies/small.mp4")), QStringLiteral("640x480"))
        || !makeMovie(home(QStringLiteral("Movies/hd.mp4")), QStringLiteral("1280x720"))
        || !makeMovie(home(QStringLiteral("Movies/clip.mkv")), QStringLiteral("640x480")))
        GTEST_SKIP() << "ffmpeg with libx264 is needed to make test movies";
    testsupport::writeFile(home(QStringLiteral("Movies/song.mp3")), "audio bytes");
    testsupport::writeFile(home(QStringLiteral("Movies/.DS_Store")), "finder");

    // An older Apple device, music switched off.
    const CommandRun run = sync({ QStringLiteral("--item"), home(QStringLiteral("Movies")),
        QStringLiteral("--device-filter"), QStringLiteral("4"), QStringLiteral("--categories"),
        QStringLiteral("movies"), QStringLiteral("--dry-run"), QStringLiteral("--explain") });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();

    QMap<QString, QString> reasons;
    const QStringList lines = run.out.split(QLatin1Char('\n'));
    const qsizetype header = lines.indexOf(QStringLiteral("Left out (4):"));
    ASSERT_GE(header, 0) << run.out.toStdString();
    for (qsizetype i = header + 1; i < lines.size() && !lines.at(i).isEmpty(); ++i) {
        const QStringList fields = lines.at(i).split(QLatin1Char('\t'));
        ASSERT_EQ(fields.size(), 2) << lines.at(i).toStdString();
        reasons.insert(QFileInfo(fields.at(0)).fileName(), fields.at(1));
    }
    EXPECT_EQ(reasons.keys(),
        (QStringList { QStringLiteral(".DS_Store"), QStringLiteral("clip.mkv"), QStringLiteral("hd.mp4"),
            QStringLiteral("song.mp3") }));
    EXPECT_TRUE(reasons.value(QStringLiteral("hd.mp4")).startsWith(QStringLiteral("picture size 1280 x 720")))
        << reasons.value(QStringLiteral("hd.mp4")).toStdString();
    EXPECT_EQ(
        reasons.value(QStringLiteral("clip.mkv")), QStringLiteral("extension not in the device class's list: .mkv"));
    EXPECT_EQ(reasons.value(QStringLiteral("song.mp3")), QStringLiteral("category switched off: music"));
    EXPECT_EQ(reasons.value(QStringLiteral(".DS_Store")), QStringLiteral("the name \".DS_Store\" is never synced"));
    // The plan above the list still shows what goes: the new folder, whose contents the
    // filter judged one by one above (small.mp4 is not left out).
    EXPECT_TRUE(run.out.startsWith(QStringLiteral("Sync  Type  Name"))) << run.out.toStdString();
    EXPECT_TRUE(driveFiles().isEmpty()) << driveFiles().join(QLatin1Char(' ')).toStdString();
}

TEST_F(SyncCommandTest, ExplainNeedsADryRun)
{
    const CommandRun run = sync({ QStringLiteral("--explain") });
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("--explain goes with --dry-run"))) << run.err.toStdString();
}

TEST_F(SyncCommandTest, APreviewWithoutADisplayFailsAndSaysSo)
{
    testsupport::writeFile(home(QStringLiteral("Music/track.mp3")), "audio bytes");
    QProcessEnvironment env = environment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    const CommandRun run
        = pellmere({ QStringLiteral("sync"), QStringLiteral("--drive"), m_drive.path(), QStringLiteral("--item"),
                       home(QStringLiteral("Music")), QStringLiteral("--preview") },
            env);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("--preview needs a display"))) << run.err.toStdString();
    EXPECT_TRUE(driveFiles().isEmpty()) << driveFiles().join(QLatin1Char(' ')).toStdString();

    const CommandRun both = sync({ QStringLiteral("--preview"), QStringLiteral("--dry-run") });
    EXPECT_EQ(both.exitCode, 2);
    EXPECT_TRUE(both.err.contains(QStringLiteral("do not go together"))) << both.err.toStdString();
}

TEST_F(SyncCommandTest, APreviewShowsThePlanBeforeCopyingAndAnInterruptAppliesNothing)
{
    testsupport::writeFile(home(QStringLiteral("Music/track.mp3")), "audio bytes");
    QProcessEnvironment env = environment();
    // A display as far as the command can tell; the windows are drawn off screen.
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":99"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(PELLMERE_AGENT_BINARY),
        { QStringLiteral("sync"), QStringLiteral("--drive"), m_drive.path(), QStringLiteral("--item"),
            home(QStringLiteral("Music")), QStringLiteral("--preview") });
    QString err;
    const bool shown = testsupport::waitFor(
        [&] {
            err += QString::fromUtf8(process.readAllStandardError());
            return err.contains(QStringLiteral("Showing the plan of 1 changes"))
                || process.state() == QProcess::NotRunning;
        },
        std::chrono::seconds(60));
    ASSERT_TRUE(shown && process.state() == QProcess::Running) << err.toStdString();
    // Waiting for the answer: nothing is on the drive yet.
    EXPECT_TRUE(driveFiles().filter(QStringLiteral("track.mp3")).isEmpty());

    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(60000)) << err.toStdString();
    err += QString::fromUtf8(process.readAllStandardError());
    EXPECT_EQ(process.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("The plan was not applied."))) << err.toStdString();
    EXPECT_TRUE(driveFiles().filter(QStringLiteral("track.mp3")).isEmpty())
        << driveFiles().join(QLatin1Char(' ')).toStdString();
}

TEST_F(SyncCommandTest, AnEarlyErrorIsWrittenToTheLogFile)
{
    const QString missing = home(QStringLiteral("missing"));
    const CommandRun badDrive = pellmere({ QStringLiteral("sync"), QStringLiteral("--drive"), missing });
    ASSERT_EQ(badDrive.exitCode, 2);
    EXPECT_TRUE(logFileText().contains(QStringLiteral("the drive \"%1\" is not a folder").arg(missing)))
        << logFileText().toStdString();

    const CommandRun badOption = pellmere({ QStringLiteral("sync"), QStringLiteral("--frobnicate") });
    ASSERT_EQ(badOption.exitCode, 2);
    EXPECT_TRUE(logFileText().contains(QStringLiteral("frobnicate"))) << logFileText().toStdString();
}

TEST_F(SyncCommandTest, ADriveWithOldFormatSettingsIsConvertedNotReplaced)
{
    const QVariantList oldList { QStringLiteral("/srv/shared/Music"), QStringLiteral("~/Movies") };
    const QString settings = m_drive.filePath(QStringLiteral(".PellmereConfig"));
    ASSERT_TRUE(platform::PropertyList::writeFile(settings,
        QVariantMap { { QStringLiteral("config-version"), 2 },
            { QStringLiteral("tavrin-uuid"), QStringLiteral("OLD-1") },
            { QStringLiteral("tavrin-items-to-sync"), oldList } }));
    testsupport::writeFile(home(QStringLiteral("Music/track.mp3")), "audio bytes");

    const CommandRun run = sync({ QStringLiteral("--item"), home(QStringLiteral("Music")) });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QVariantMap stored = platform::PropertyList::readFile(settings).value_or(QVariant()).toMap();
    EXPECT_EQ(stored.value(QStringLiteral("config-version")).toInt(), 3);
    EXPECT_EQ(stored.value(QStringLiteral("items-to-sync")).toList(), oldList)
        << "the drive's list of the old format is kept";
    const QVariantMap users = stored.value(QStringLiteral("ptop-list")).toMap();
    ASSERT_EQ(users.size(), 1);
    EXPECT_EQ(users.first().toMap().value(QStringLiteral("items-to-sync")).toStringList(),
        QStringList { QStringLiteral("~/Music") });
}

namespace {

// Takes space on the drive until about `wanted` bytes stay free.
bool fillUntilFree(const QString &mountPoint, quint64 wanted)
{
    struct statvfs info = {};
    if (statvfs(QFile::encodeName(mountPoint).constData(), &info) != 0)
        return false;
    const quint64 available = quint64(info.f_bavail) * quint64(info.f_frsize);
    if (available <= wanted)
        return false;
    const QByteArray filler = QFile::encodeName(mountPoint + QStringLiteral("/filler"));
    const int fd = open(filler.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const int result = posix_fallocate(fd, 0, off_t(available - wanted));
    close(fd);
    return result == 0;
}

} // namespace

TEST_F(SyncCommandTest, ASyncWhoseRecordDoesNotFitOnTheDriveIsNotCompleteAndKeepsTheSettings)
{
    QString whyNot;
    auto drive = testsupport::DriveImage::create(testsupport::DriveImage::FileSystem::Ext4, 16, &whyNot);
    if (!drive || !drive->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    const QString root = drive->mountPoint();
    // Another computer's long list makes the settings far larger than what stays free below.
    QVariantList longList;
    for (int i = 0; i < 4000; ++i)
        longList.append(QStringLiteral("/srv/archive/projects/%1/footage-and-sound-recordings").arg(i));
    const QString settings = QDir(root).filePath(QStringLiteral(".PellmereConfig"));
    const QString carol = QStringLiteral("112233445566-501");
    ASSERT_TRUE(platform::PropertyList::writeFile(settings,
        QVariantMap { { QStringLiteral("config-version"), 3 }, { QStringLiteral("sync-type"), QStringLiteral("ptop") },
            { QStringLiteral("ptop-list"),
                QVariantMap { { carol,
                    QVariantMap { { QStringLiteral("sync-path"), QStringLiteral("Carol's PC") },
                        { QStringLiteral("items-to-sync"), longList } } } } },
            { carol, QVariantMap { { QStringLiteral("local-participate-in-sync"), true } } } }));
    testsupport::writeFile(home(QStringLiteral("Music/track.mp3")), "audio bytes");
    const QStringList options { QStringLiteral("--item"), home(QStringLiteral("Music")) };
    ASSERT_EQ(syncOnto(root, options).exitCode, 0);
    const QByteArray written = testsupport::readFile(settings);
    ASSERT_GT(written.size(), 200000);

    // Room for the job's folders, not for another copy of the settings.
    ASSERT_TRUE(fillUntilFree(root, 64 * 1024));
    const CommandRun full = syncOnto(root, options);
    EXPECT_EQ(full.exitCode, 1) << full.err.toStdString();
    EXPECT_TRUE(full.lastOutLine().endsWith(QStringLiteral("did not complete successfully.")))
        << full.out.toStdString();
    EXPECT_TRUE(logFileText().contains(
        QStringLiteral("Not enough free space on \"%1\" to save its sync settings.").arg(QFileInfo(root).fileName())))
        << logFileText().toStdString();
    EXPECT_EQ(testsupport::readFile(settings), written) << "the settings on the drive are as they were";
    const QStringList leftovers
        = QDir(root).entryList({ QStringLiteral(".PellmereConfig.*") }, QDir::Files | QDir::Hidden | QDir::System);
    EXPECT_TRUE(leftovers.isEmpty()) << leftovers.join(QLatin1Char(' ')).toStdString();
}

TEST_F(SyncCommandTest, ASyncByHandOnAVolumeRecordsTheChoiceForTheAgentAndAPlainFolderRecordsNothing)
{
    QDir().mkpath(home(QStringLiteral("Music")));
    testsupport::writeFile(home(QStringLiteral("Music/a.mp3")), QByteArray("la"));
    ASSERT_EQ(sync({ QStringLiteral("--item"), home(QStringLiteral("Music")) }).exitCode, 0);
    const auto preferencesFiles = [this] {
        return QDir(home(QStringLiteral(".config/pellmere")))
            .entryList({ QStringLiteral("preferences.*.plist") }, QDir::Files);
    };
    const auto devices = [&]() -> QVariantMap {
        const QStringList files = preferencesFiles();
        if (files.size() != 1)
            return {};
        const auto read = platform::PropertyList::readFile(home(QStringLiteral(".config/pellmere/") + files.first()));
        return read ? read->toMap().value(QStringLiteral("sync-device-list")).toMap() : QVariantMap();
    };
    EXPECT_TRUE(devices().isEmpty()) << "a plain folder is never synced by the agent on its own";

    if (const QString why = testsupport::DriveImage::unavailableReason(testsupport::DriveImage::FileSystem::Ext4);
        !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    QString whyNot;
    auto drive = testsupport::DriveImage::create(testsupport::DriveImage::FileSystem::Ext4, 16, &whyNot);
    ASSERT_TRUE(drive && drive->mount(false, &whyNot)) << whyNot.toStdString();
    QProcess blkid;
    blkid.start(QStringLiteral("blkid"),
        { QStringLiteral("-p"), QStringLiteral("-s"), QStringLiteral("UUID"), QStringLiteral("-o"),
            QStringLiteral("value"), drive->loopDevice() });
    ASSERT_TRUE(blkid.waitForFinished(30000));
    const QString uuid = QString::fromUtf8(blkid.readAllStandardOutput()).trimmed();
    ASSERT_FALSE(uuid.isEmpty());

    ASSERT_EQ(syncOnto(drive->mountPoint(), { QStringLiteral("--item"), home(QStringLiteral("Music")) }).exitCode, 0);
    const QVariantMap options = devices().value(uuid).toMap();
    EXPECT_TRUE(options.value(QStringLiteral("local-participate-in-sync")).toBool());
    EXPECT_EQ(
        options.value(QStringLiteral("local-sync-list")).toStringList(), QStringList { QStringLiteral("~/Music") });
}
