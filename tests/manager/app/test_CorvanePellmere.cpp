// The corvane-pellmere program itself, run as a subprocess: its command line and the volume
// list it prints for a real drive mounted below a private volume root.
#include "support/DriveImage.h"
#include "support/TestEnvironment.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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

} // namespace

TEST(CorvanePellmere, AnswersHelpAndVersionAndRefusesToStartWithoutItsWindow)
{
    const ManagerRun help = runManager({ QStringLiteral("--help") });
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("--list-volumes"))) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains(QStringLiteral("--version")));

    const ManagerRun version = runManager({ QStringLiteral("--version") });
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.trimmed(), QStringLiteral("corvane-pellmere " PELLMERE_TEST_VERSION));

    const ManagerRun bare = runManager({});
    EXPECT_NE(bare.exitCode, 0);
    EXPECT_TRUE(bare.err.contains(QStringLiteral("window is not built yet"))) << bare.err.toStdString();
    EXPECT_TRUE(bare.out.isEmpty());

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
