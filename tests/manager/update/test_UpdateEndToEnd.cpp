// The whole update, end to end: the update window asks a local update service, offers the
// new version, downloads its release archive with progress, unpacks it, and hands over to
// the new copy of the real manager, which replaces the install folder with itself and starts
// the new version from there.
//
// The new version is this build's manager with its version text changed in the program
// file (same length, so nothing else moves).
#include "UpdateTestServer.h"
#include "manager/update/LUMAutoUpdate.h"
#include "manager/update/LUMSoftwareUpdateWindowController.h"
#include "manager/window/LUMInstallOver.h"
#include "platform/PropertyList.h"
#include "support/TestEnvironment.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace {

const QString kOldVersion = QStringLiteral(PELLMERE_TEST_VERSION);

// The version with its middle number raised, the same length as the old one.
QString newVersionText()
{
    QStringList parts = kOldVersion.split(QLatin1Char('.'));
    parts[1] = QString::number((parts[1].toInt() + 1) % 10);
    return parts.join(QLatin1Char('.'));
}

// Copies the manager, changing its version text (stored as UTF-16, NUL-terminated).
bool copyWithVersion(const QString &from, const QString &to, const QString &version)
{
    QByteArray program = testsupport::readFile(from);
    const auto utf16 = [](const QString &text) -> QByteArray {
        return QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2) + QByteArray(2, '\0');
    };
    const QByteArray oldText = utf16(kOldVersion);
    const QByteArray newText = utf16(version);
    if (oldText.size() != newText.size() || !program.contains(oldText))
        return false;
    program.replace(oldText, newText);
    testsupport::writeFile(to, program);
    return QFile::setPermissions(to, QFile::permissions(from));
}

QString versionOf(const QString &program)
{
    QProcess process;
    process.start(program, { QStringLiteral("--version") });
    if (!process.waitForFinished(30000))
        return {};
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QByteArray xmlOf(const QVariant &value)
{
    return platform::PropertyList::serialize(value, platform::PlistFormat::Xml);
}

} // namespace

TEST(UpdateEndToEnd, TheWindowDownloadsTheNewVersionWhichInstallsItselfAndStarts)
{
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    const QString manager = QStringLiteral(CORVANE_PELLMERE_BINARY);
    const QString installed = work.filePath(QStringLiteral("opt/pellmere"));
    const QString relative = QStringLiteral("bin/corvane-pellmere");
    ASSERT_TRUE(QDir().mkpath(installed + QStringLiteral("/bin")));
    ASSERT_TRUE(QFile::copy(manager, installed + QLatin1Char('/') + relative));
    testsupport::writeFile(installed + QStringLiteral("/share/old-only"), "old");
    ASSERT_EQ(versionOf(installed + QLatin1Char('/') + relative), QStringLiteral("corvane-pellmere ") + kOldVersion);

    // The release: a tree whose top folder is named like the install folder.
    const QString version = newVersionText();
    const QString stage = work.filePath(QStringLiteral("stage"));
    ASSERT_TRUE(copyWithVersion(manager, stage + QStringLiteral("/pellmere/") + relative, version));
    testsupport::writeFile(stage + QStringLiteral("/pellmere/share/new-only"), "new");
    const QString archivePath = work.filePath(QStringLiteral("release.tar.xz"));
    QProcess tar;
    // Light compression: the test wants a real archive, not a small one.
    QProcessEnvironment tarEnvironment = QProcessEnvironment::systemEnvironment();
    tarEnvironment.insert(QStringLiteral("XZ_OPT"), QStringLiteral("-0"));
    tar.setProcessEnvironment(tarEnvironment);
    tar.start(QStringLiteral("tar"),
        { QStringLiteral("-C"), stage, QStringLiteral("-cJf"), archivePath, QStringLiteral("pellmere") });
    ASSERT_TRUE(tar.waitForFinished(120000) && tar.exitCode() == 0) << tar.readAllStandardError().toStdString();
    const QByteArray archive = testsupport::readFile(archivePath);

    UpdateTestServer server(UpdateTestServer::Plain);
    ASSERT_TRUE(server.isReady());
    const QString file = QStringLiteral("Pellmere-%1.tar.xz").arg(version);
    server.route(("/" + file).toUtf8(), { 200, archive, "application/x-xz" });
    QVariantMap offer;
    offer.insert(QStringLiteral("OS"), QStringLiteral("LINUX"));
    offer.insert(QStringLiteral("product"), QStringLiteral("Pellmere"));
    offer.insert(QStringLiteral("old-Version"), QStringLiteral("0.0.1"));
    offer.insert(QStringLiteral("new-Version"), version);
    offer.insert(QStringLiteral("UpdateType"), QStringLiteral("Download"));
    offer.insert(QStringLiteral("SWURL"), server.url(("/" + file).toUtf8()).toString());
    offer.insert(QStringLiteral("SHA256"),
        QString::fromLatin1(QCryptographicHash::hash(archive, QCryptographicHash::Sha256).toHex()));
    server.route("/check", { 200, xmlOf(QVariantMap { { QStringLiteral("Upgrade"), QVariantList { offer } } }) });

    // The copies started below inherit this process's environment: no session bus (the
    // agent is not wanted) and an updater that never asks the real service.
    qputenv("DBUS_SESSION_BUS_ADDRESS",
        QByteArray("unix:path=" + QFile::encodeName(work.filePath(QStringLiteral("no-bus")))));
    testsupport::writeFile(
        testsupport::testHome() + QStringLiteral("/.config/corvane/AutoUpdate/Pellmere/UpdaterProps.plist"),
        xmlOf(QVariantMap { { QStringLiteral("UpdateCheckInterval"), 0 } }));

    std::unique_ptr<LUMAutoUpdate> updates
        = LUMAutoUpdate::create({ QStringLiteral("Pellmere"), kOldVersion, server.url("/check").toString(),
            QStringLiteral("https://corvane.example/$LANG/pellmere"), installed, relative });
    ASSERT_NE(updates, nullptr);
    LUMSoftwareUpdateWindowController window(updates.get());
    window.showWindow();
    QList<int> progress;
    QObject::connect(
        window.downloadProgressIndicator(), &QProgressBar::valueChanged, [&](int value) { progress.append(value); });

    window.checkButton()->click();
    ASSERT_TRUE(testsupport::waitFor([&] { return window.currentAlert() && window.currentAlert()->isVisible(); }));
    EXPECT_EQ(window.currentAlert()->informativeText(),
        QStringLiteral("Version %1 is now available. Do you want to download it?").arg(version));
    for (QAbstractButton *button : window.currentAlert()->buttons()) {
        if (button->text() == QStringLiteral("OK"))
            button->click();
    }
    ASSERT_TRUE(window.progressSheet()->isVisible());
    ASSERT_TRUE(testsupport::waitFor([&] { return !window.isVisible(); }, std::chrono::seconds(120)));
    EXPECT_EQ(window.progressText()->text(), QStringLiteral("Completed."));
    EXPECT_TRUE(progress.contains(100));

    // The new copy replaced the install folder and started the new version from it.
    const QString program = installed + QLatin1Char('/') + relative;
    QList<qint64> started;
    EXPECT_TRUE(testsupport::waitFor(
        [&] {
            started = LUMInstallOver::processesRunningFrom(installed);
            return !started.isEmpty() && QFileInfo::exists(installed + QStringLiteral("/share/new-only"));
        },
        std::chrono::seconds(60)));
    for (const qint64 pid : started)
        ::kill(pid_t(pid), SIGTERM);
    EXPECT_FALSE(QFileInfo::exists(installed + QStringLiteral("/share/old-only")));
    EXPECT_EQ(versionOf(program), QStringLiteral("corvane-pellmere ") + version);
    EXPECT_TRUE(testsupport::waitFor([&] { return LUMInstallOver::processesRunningFrom(installed).isEmpty(); }));
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}
