// The corvane-pellmere program itself, run as a subprocess: its command line and the volume
// list it prints for a real drive mounted below a private volume root.
#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using testsupport::DriveImage;

namespace {

struct ManagerRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ManagerRun runManager(const QStringList &arguments, const QStringList &volumeRoots = {},
    const QProcessEnvironment &base = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    QProcessEnvironment environment = base;
    if (!volumeRoots.isEmpty())
        environment.insert(QStringLiteral("PELLMERE_VOLUME_ROOTS"), volumeRoots.join(QLatin1Char(':')));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(CORVANE_PELLMERE_BINARY), arguments);
    EXPECT_TRUE(process.waitForFinished(60000)) << "corvane-pellmere did not finish";
    return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError()) };
}

// An environment with its own home, no session bus (the agent cannot start, which the window
// copes with) and the offscreen display.
QProcessEnvironment windowEnvironment(const QTemporaryDir &home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
        QStringLiteral("unix:path=") + home.path() + QStringLiteral("/no-bus"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.path() + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), home.path() + QStringLiteral("/state"));
    environment.insert(QStringLiteral("PELLMERE_VOLUME_ROOTS"), home.path() + QStringLiteral("/media"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The window's updater never asks the real update service from a test.
    testsupport::writeFile(home.path() + QStringLiteral("/config/corvane/AutoUpdate/Pellmere/UpdaterProps.plist"),
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
        "<key>UpdateCheckInterval</key><integer>0</integer></dict></plist>");
    return environment;
}

QString managerLog(const QTemporaryDir &home)
{
    QFile log(home.path() + QStringLiteral("/state/pellmere/PellmereUI.log"));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

// The processes whose program lies inside folder.
QList<qint64> processesRunningFrom(const QString &folder)
{
    QList<qint64> found;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        const QString exe = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
        if (numeric && exe.startsWith(folder + QLatin1Char('/')))
            found.append(pid);
    }
    return found;
}

} // namespace

TEST(CorvanePellmere, WithoutOptionsOrWithAnIncompleteInstallOverItOpensItsWindow)
{
    for (const QStringList &arguments : { QStringList(), QStringList({ QStringLiteral("installOver") }) }) {
        QTemporaryDir home;
        QProcess process;
        process.setProcessEnvironment(windowEnvironment(home));
        process.start(QStringLiteral(CORVANE_PELLMERE_BINARY), arguments);
        ASSERT_TRUE(process.waitForStarted());
        // The window runs until closed: started is when its log says so and it keeps running.
        EXPECT_TRUE(testsupport::waitFor(
            [&] { return managerLog(home).contains(QStringLiteral("Application started")); }, std::chrono::seconds(30)))
            << arguments.join(QLatin1Char(' ')).toStdString() << ": " << process.readAllStandardError().toStdString();
        EXPECT_EQ(process.state(), QProcess::Running);
        process.terminate();
        EXPECT_TRUE(process.waitForFinished(10000));
    }
}

TEST(CorvanePellmere, InstallOverReplacesTheInstalledCopyAndStartsIt)
{
    QTemporaryDir scratch;
    const QString fresh = scratch.filePath(QStringLiteral("new"));
    const QString installed = scratch.filePath(QStringLiteral("installed"));
    ASSERT_TRUE(QDir().mkpath(fresh + QStringLiteral("/bin")));
    ASSERT_TRUE(QDir().mkpath(installed + QStringLiteral("/bin")));
    const QString freshProgram = fresh + QStringLiteral("/bin/corvane-pellmere");
    ASSERT_TRUE(QFile::copy(QStringLiteral(CORVANE_PELLMERE_BINARY), freshProgram));
    testsupport::writeFile(fresh + QStringLiteral("/share/marker-new"), "new");
    testsupport::writeFile(installed + QStringLiteral("/share/marker-old"), "old");
    // An old copy still running from the installed tree has to go.
    const QString oldProgram = installed + QStringLiteral("/bin/old-running");
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), oldProgram));
    QFile::setPermissions(oldProgram, QFile::permissions(QStringLiteral("/bin/sleep")));
    QProcess old;
    old.start(oldProgram, { QStringLiteral("600") });
    ASSERT_TRUE(old.waitForStarted());

    QProcess process;
    process.setProcessEnvironment(windowEnvironment(scratch));
    process.start(freshProgram, { QStringLiteral("installOver"), installed });
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_TRUE(old.waitForFinished(10000)) << "the old copy was not stopped";

    EXPECT_FALSE(QFileInfo::exists(installed + QStringLiteral("/share/marker-old")));
    EXPECT_EQ(testsupport::readFile(installed + QStringLiteral("/share/marker-new")), QByteArray("new"));
    EXPECT_EQ(testsupport::readFile(installed + QStringLiteral("/bin/corvane-pellmere")),
        testsupport::readFile(freshProgram));
    EXPECT_TRUE(QFileInfo(installed + QStringLiteral("/bin/corvane-pellmere")).isExecutable());
    // The copy now installed was started (it opens its window) and is stopped here.
    QList<qint64> started;
    EXPECT_TRUE(testsupport::waitFor([&] {
        started = processesRunningFrom(installed);
        return !started.isEmpty();
    })) << managerLog(scratch).toStdString();
    for (const qint64 pid : started)
        ::kill(pid_t(pid), SIGTERM);
    EXPECT_TRUE(testsupport::waitFor([&] { return processesRunningFrom(installed).isEmpty(); }));
}

TEST(CorvanePellmere, AnswersHelpVersionAndItsCommandLineOptions)
{
    const ManagerRun help = runManager({ QStringLiteral("--help") });
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("--list-volumes"))) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains(QStringLiteral("--version")));

    const ManagerRun version = runManager({ QStringLiteral("--version") });
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.trimmed(), QStringLiteral("corvane-pellmere " PELLMERE_TEST_VERSION));

    // Starting the agent without a session bus fails at once and says why; nothing is left
    // half-done that would keep a later start from working.
    QTemporaryDir home;
    QProcessEnvironment noBus = QProcessEnvironment::systemEnvironment();
    noBus.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
        QStringLiteral("unix:path=") + home.path() + QStringLiteral("/no-bus"));
    noBus.insert(QStringLiteral("XDG_DATA_HOME"), home.path() + QStringLiteral("/data"));
    noBus.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
    noBus.insert(QStringLiteral("XDG_STATE_HOME"), home.path() + QStringLiteral("/state"));
    const ManagerRun start = runManager({ QStringLiteral("--start-agent") }, {}, noBus);
    EXPECT_EQ(start.exitCode, 1);
    EXPECT_TRUE(start.err.contains(QStringLiteral("cannot start the Pellmere agent: "))) << start.err.toStdString();
    EXPECT_TRUE(start.err.contains(QStringLiteral("bus"), Qt::CaseInsensitive)) << start.err.toStdString();

    const ManagerRun unknown = runManager({ QStringLiteral("--no-such-option") });
    EXPECT_NE(unknown.exitCode, 0);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("no-such-option"))) << unknown.err.toStdString();
}

TEST(CorvanePellmere, ListVolumesPrintsEachDriveBelowTheVolumeRootsOnALine)
{
    QString whyNot;
    auto listed = DriveImage::create(DriveImage::FileSystem::Ext4, 16, &whyNot);
    if (!listed || !listed->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();
    auto outside = DriveImage::create(DriveImage::FileSystem::Ext4, 16, &whyNot);
    if (!outside || !outside->mount(false, &whyNot))
        GTEST_SKIP() << whyNot.toStdString();

    const ManagerRun run = runManager({ QStringLiteral("--list-volumes") }, { QFileInfo(listed->mountPoint()).path() });
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1) << run.out.toStdString();
    const QStringList fields = lines.first().split(QLatin1Char('\t'));
    ASSERT_EQ(fields.size(), 4) << lines.first().toStdString();
    EXPECT_EQ(fields.at(0), QStringLiteral("mnt"));
    EXPECT_EQ(fields.at(1), listed->mountPoint());
    EXPECT_EQ(fields.at(2), QStringLiteral("Linux ext4"));
    EXPECT_TRUE(
        fields.at(3).contains(QRegularExpression(QStringLiteral("^\\d+\\.\\d\\d MB free of \\d+\\.\\d\\d MB$"))))
        << fields.at(3).toStdString();

    const ManagerRun none
        = runManager({ QStringLiteral("--list-volumes") }, { QStringLiteral("/nonexistent-volume-root") });
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_TRUE(none.out.isEmpty()) << none.out.toStdString();
}
