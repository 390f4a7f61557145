// The software update window against a local update service on the loopback address: the
// interval pop-up, the check and its alerts, the download with its progress sheet, abort,
// and the errors, on the offscreen display.
#include "TestArchive.h"
#include "UpdateTestServer.h"
#include "manager/update/LUMAutoUpdate.h"
#include "manager/update/LUMSoftwareUpdateWindowController.h"
#include "platform/PropertyList.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QString desktop()
{
    return testsupport::testHome() + QStringLiteral("/Desktop");
}

QByteArray answerWith(const QVariantList &entries)
{
    return platform::PropertyList::serialize(
        QVariantMap { { QStringLiteral("Upgrade"), entries } }, platform::PlistFormat::Xml);
}

QVariantMap entry(const QString &type, const QString &url)
{
    QVariantMap map;
    map.insert(QStringLiteral("OS"), QStringLiteral("LINUX"));
    map.insert(QStringLiteral("product"), QStringLiteral("WindowModule"));
    map.insert(QStringLiteral("old-Version"), QStringLiteral("1.0"));
    map.insert(QStringLiteral("new-Version"), QStringLiteral("2.5"));
    map.insert(QStringLiteral("UpdateType"), type);
    map.insert(QStringLiteral("SWURL"), url);
    return map;
}

QStringList buttonTexts(const QMessageBox *alert)
{
    QStringList texts;
    for (const QAbstractButton *button : alert->buttons())
        texts.append(button->text());
    texts.sort();
    return texts;
}

void press(QMessageBox *alert, const QString &text)
{
    for (QAbstractButton *button : alert->buttons()) {
        if (button->text() == text) {
            button->click();
            return;
        }
    }
    ADD_FAILURE() << "no button " << text.toStdString();
}

class SoftwareUpdateWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.isReady());
        ASSERT_TRUE(m_work.isValid());
        QDir(desktop()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(desktop()));
        QDir(testsupport::testHome() + QStringLiteral("/.config/corvane/AutoUpdate/WindowModule")).removeRecursively();
        // Only the test's checks reach the service.
        testsupport::writeFile(
            testsupport::testHome() + QStringLiteral("/.config/corvane/AutoUpdate/WindowModule/UpdaterProps.plist"),
            platform::PropertyList::serialize(
                QVariantMap { { QStringLiteral("UpdateCheckInterval"), 0 } }, platform::PlistFormat::Xml));
        m_server.route("/check", { 200, answerWith({}) });
    }

    void TearDown() override
    {
        m_window.reset();
        m_updates.reset();
    }

    void open()
    {
        LUMAutoUpdate::Configuration config { QStringLiteral("WindowModule"), QStringLiteral("1.0"),
            m_server.url("/check").toString(), QStringLiteral("https://corvane.example/$LANG/pellmere"),
            m_work.filePath(QStringLiteral("installed/pellmere")), QStringLiteral("bin/corvane-pellmere") };
        m_updates = LUMAutoUpdate::create(config);
        ASSERT_NE(m_updates, nullptr);
        m_window = std::make_unique<LUMSoftwareUpdateWindowController>(m_updates.get());
        m_window->setUrlOpener([this](const QUrl &url) {
            m_opened.append(url);
            return true;
        });
        m_window->showWindow();
    }

    QMessageBox *waitForAlert()
    {
        EXPECT_TRUE(
            testsupport::waitFor([&] { return m_window->currentAlert() && m_window->currentAlert()->isVisible(); }));
        return m_window->currentAlert();
    }

    // Checks from the window and answers the offer with the button named text.
    void acceptOffer(const QString &text)
    {
        m_window->checkButton()->click();
        QMessageBox *alert = waitForAlert();
        ASSERT_NE(alert, nullptr);
        press(alert, text);
    }

    QStringList desktopEntries() const
    {
        return QDir(desktop()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    UpdateTestServer m_server { UpdateTestServer::Plain };
    QTemporaryDir m_work;
    std::unique_ptr<LUMAutoUpdate> m_updates;
    std::unique_ptr<LUMSoftwareUpdateWindowController> m_window;
    QList<QUrl> m_opened;
};

} // namespace

TEST_F(SoftwareUpdateWindow, IntervalPopUpShowsAndSetsTheCheckInterval)
{
    open();
    QComboBox *popUp = m_window->intervalPopUp();
    ASSERT_TRUE(popUp->isEnabled());
    EXPECT_EQ(popUp->currentData().toInt(), 0);
    QApplication::setActiveWindow(m_window.get());
    popUp->setFocus();
    QTest::keyClick(popUp, Qt::Key_Down);
    QTest::keyClick(popUp, Qt::Key_Down);
    EXPECT_EQ(popUp->currentData().toInt(), 2);
    EXPECT_EQ(m_updates->queryProperty(QStringLiteral("UpdateCheckInterval")).toLongLong(), 2);
    // Reachable from the keyboard, in reading order, and named.
    QTest::keyClick(popUp, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), m_window->checkButton());
    for (QWidget *control : QList<QWidget *> { popUp, m_window->checkButton(), m_window->downloadProgressIndicator(),
             m_window->abortButton(), m_window->progressText(), m_window->checkProgressIndicator() })
        EXPECT_FALSE(control->accessibleName().isEmpty()) << control->metaObject()->className();
    EXPECT_NE(m_window->checkButton()->focusPolicy() & Qt::TabFocus, 0);
}

TEST_F(SoftwareUpdateWindow, CheckWithoutUpdateSaysUpToDateOrClosesQuietly)
{
    open();
    m_window->checkButton()->click();
    EXPECT_TRUE(m_window->checkProgressIndicator()->isVisible());
    QMessageBox *alert = waitForAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->text(), QStringLiteral("Your Pellmere software is up to date."));
    EXPECT_EQ(buttonTexts(alert), QStringList { QStringLiteral("OK") });
    EXPECT_FALSE(m_window->checkProgressIndicator()->isVisible());
    EXPECT_EQ(m_server.requests().size(), 1);
    press(alert, QStringLiteral("OK"));

    // Started on the application's behalf: no alert, the window closes.
    QPointer<QMessageBox> previous = m_window->currentAlert();
    m_window->checkForUpdate(true);
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_window->isVisible(); }));
    EXPECT_EQ(m_server.requests().size(), 2);
    EXPECT_TRUE(!m_window->currentAlert() || m_window->currentAlert() == previous);
}

TEST_F(SoftwareUpdateWindow, UrlUpdateOffersTwoButtonsAndOpensThePage)
{
    m_server.route(
        "/check", { 200, answerWith({ entry(QStringLiteral("URL"), QStringLiteral("https://corvane.example/get")) }) });
    open();
    m_window->checkButton()->click();
    QMessageBox *alert = waitForAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->text(), QStringLiteral("New software is available for your drive."));
    EXPECT_EQ(alert->informativeText(),
        QStringLiteral("Version 2.5 is now available. Do you want to open the download page?"));
    EXPECT_EQ(buttonTexts(alert), (QStringList { QStringLiteral("Cancel"), QStringLiteral("OK") }));
    press(alert, QStringLiteral("OK"));
    EXPECT_EQ(m_opened, QList<QUrl> { QUrl(QStringLiteral("https://corvane.example/get")) });
    EXPECT_FALSE(m_window->progressSheet()->isVisible());
    EXPECT_TRUE(desktopEntries().isEmpty());
}

TEST_F(SoftwareUpdateWindow, MoreInfoOpensTheProductPageInTheUsersLanguage)
{
    m_server.route("/check",
        { 200, answerWith({ entry(QStringLiteral("Download"), m_server.url("/Update.tar.xz").toString()) }) });
    qputenv("LANGUAGE", "DE");
    open();
    m_window->checkButton()->click();
    QMessageBox *alert = waitForAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->informativeText(), QStringLiteral("Version 2.5 is now available. Do you want to download it?"));
    EXPECT_EQ(buttonTexts(alert),
        (QStringList { QStringLiteral("Cancel"), QStringLiteral("More Info..."), QStringLiteral("OK") }));
    press(alert, QStringLiteral("More Info..."));
    qunsetenv("LANGUAGE");
    EXPECT_EQ(m_opened, QList<QUrl> { QUrl(QStringLiteral("https://corvane.example/DE-DE/pellmere")) });
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_TRUE(desktopEntries().isEmpty());
}

TEST_F(SoftwareUpdateWindow, DownloadShowsProgressAndClosesWhenDone)
{
    const QString archive = m_work.filePath(QStringLiteral("release.tar.xz"));
    // A large enough archive arrives in several pieces; it holds no copy of this program.
    QByteArray filler;
    for (int i = 0; i < 20000; ++i)
        filler += QByteArray::number(i * 7919) + '\n';
    ASSERT_TRUE(makeTestArchive(archive, { { QStringLiteral("other/readme"), TestArchiveEntry::File, filler } }));
    m_server.route("/Update.tar.xz", { 200, testsupport::readFile(archive), "application/x-xz" });
    m_server.route("/check",
        { 200, answerWith({ entry(QStringLiteral("Download"), m_server.url("/Update.tar.xz").toString()) }) });
    open();
    QList<int> values;
    QObject::connect(
        m_window->downloadProgressIndicator(), &QProgressBar::valueChanged, [&](int v) { values.append(v); });
    QStringList texts;
    QObject::connect(
        m_updates.get(), &LUMAutoUpdate::downloadInProgress, [&] { texts.append(m_window->progressText()->text()); });
    acceptOffer(QStringLiteral("OK"));
    EXPECT_TRUE(m_window->progressSheet()->isVisible());
    ASSERT_TRUE(testsupport::waitFor([&] { return !m_window->isVisible(); }, std::chrono::seconds(60)));
    EXPECT_FALSE(m_window->progressSheet()->isVisible());
    EXPECT_EQ(m_window->progressText()->text(), QStringLiteral("Completed."));
    ASSERT_FALSE(texts.isEmpty());
    EXPECT_EQ(texts.first(), QStringLiteral("Downloading %1/Update.tar.xz.").arg(desktop()));
    EXPECT_TRUE(values.contains(100));
    EXPECT_TRUE(QFileInfo::exists(desktop() + QStringLiteral("/Update.tar.xz")));
}

TEST_F(SoftwareUpdateWindow, UnknownSizeKeepsTheBarMovingAndAbortEndsTheDownload)
{
    m_server.route("/Update.tar.xz", { 200, QByteArray(50000, 'x'), "application/x-xz", false, -1, true });
    m_server.route("/check",
        { 200, answerWith({ entry(QStringLiteral("Download"), m_server.url("/Update.tar.xz").toString()) }) });
    open();
    bool progressed = false;
    QObject::connect(m_updates.get(), &LUMAutoUpdate::downloadInProgress,
        [&](const QVariantMap &, const QString &, qint64 total, qint64) {
            EXPECT_EQ(total, -1);
            progressed = true;
        });
    acceptOffer(QStringLiteral("OK"));
    ASSERT_TRUE(testsupport::waitFor([&] { return progressed; }));
    EXPECT_TRUE(m_window->progressSheet()->isVisible());
    EXPECT_EQ(m_window->downloadProgressIndicator()->maximum(), 0) << "the bar shows no fraction of an unknown size";
    ASSERT_TRUE(m_window->abortButton()->isEnabled());
    QTest::mouseClick(m_window->abortButton(), Qt::LeftButton);
    EXPECT_EQ(m_window->progressText()->text(), QStringLiteral("Download aborted."));
    EXPECT_EQ(m_window->downloadProgressIndicator()->value(), 0);
    EXPECT_FALSE(m_window->progressSheet()->isVisible());
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_TRUE(desktopEntries().isEmpty());
}

TEST_F(SoftwareUpdateWindow, DownloadErrorsAreShownWithTheirCode)
{
    m_server.route(
        "/check", { 200, answerWith({ entry(QStringLiteral("Download"), m_server.url("/gone.tar.xz").toString()) }) });
    open();
    acceptOffer(QStringLiteral("OK"));
    ASSERT_TRUE(testsupport::waitFor([&] {
        return m_window->currentAlert()
            && m_window->currentAlert()->text().startsWith(QStringLiteral("Error occurred"));
    }));
    EXPECT_EQ(m_window->currentAlert()->informativeText(), QStringLiteral("Error 1."));
    EXPECT_FALSE(m_window->progressSheet()->isVisible());
    EXPECT_EQ(m_window->downloadProgressIndicator()->value(), 0);
    EXPECT_TRUE(desktopEntries().isEmpty());
}

TEST_F(SoftwareUpdateWindow, ADownloadThatCannotStartSaysSo)
{
    m_server.route(
        "/check", { 200, answerWith({ entry(QStringLiteral("Download"), m_server.url("/releases/").toString()) }) });
    open();
    acceptOffer(QStringLiteral("OK"));
    QMessageBox *alert = waitForAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->text(), QStringLiteral("An error occurred."));
    EXPECT_EQ(alert->informativeText(), QStringLiteral("Unable to perform download."));
    EXPECT_FALSE(m_window->progressSheet()->isVisible());
}

TEST_F(SoftwareUpdateWindow, AtStartAnUpdateFoundEarlierIsOffered)
{
    testsupport::writeFile(
        testsupport::testHome() + QStringLiteral("/.config/corvane/AutoUpdate/WindowModule/Updates.plist"),
        answerWith({ entry(QStringLiteral("URL"), QStringLiteral("https://corvane.example/get")) }));
    open();
    m_window->hide();
    m_window->initialCheckForUpdate();
    EXPECT_TRUE(m_window->isVisible());
    QMessageBox *alert = waitForAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->text(), QStringLiteral("New software is available for your drive."));
    press(alert, QStringLiteral("Cancel"));
    EXPECT_TRUE(m_opened.isEmpty());
    EXPECT_TRUE(m_server.requests().isEmpty());
}

TEST_F(SoftwareUpdateWindow, AFailedCheckKeepsTheOfferFoundEarlier)
{
    testsupport::writeFile(
        testsupport::testHome() + QStringLiteral("/.config/corvane/AutoUpdate/WindowModule/Updates.plist"),
        answerWith({ entry(QStringLiteral("URL"), QStringLiteral("https://corvane.example/get")) }));
    m_server.route("/check", { 503, "busy", "text/plain" });
    open();
    ASSERT_EQ(m_updates->updateInfo().value(QStringLiteral("new-Version")), QStringLiteral("2.5"));
    // Reported like a check that found nothing, but what was found before is still offered.
    m_window->checkButton()->click();
    QMessageBox *alert = waitForAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->text(), QStringLiteral("Your Pellmere software is up to date."));
    EXPECT_EQ(m_updates->updateInfo().value(QStringLiteral("new-Version")), QStringLiteral("2.5"));

    // A check that succeeds without an upgrade withdraws it.
    m_server.route("/check", { 200, answerWith({}) });
    EXPECT_TRUE(m_updates->checkForUpdate().isEmpty());
    EXPECT_TRUE(m_updates->updateInfo().isEmpty());
}
