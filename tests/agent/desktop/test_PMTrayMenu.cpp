// The agent's menu on the real agent side: the debug switch is saved in the defaults, the log
// window is shown and hidden (and becomes the place of the log), clearing asks first.
#include "agent/app/PMAgentDesktopHost.h"
#include "agent/app/PMApplicationController.h"
#include "agent/desktop/PMLogWindow.h"
#include "agent/desktop/PMTrayMenu.h"
#include "agent/desktop/PMWidgetsDesktopFace.h"
#include "agent/log/PMAgentLog.h"
#include "agent/log/PMLogController.h"
#include "agent/log/PMStandardDefaults.h"
#include "platform/PlatformPaths.h"
#include "platform/PreferenceStore.h"
#include "support/TestEnvironment.h"

#include <QAbstractButton>
#include <QAction>
#include <QDesktopServices>
#include <QMessageBox>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

// Stands for the desktop's handler of file URLs.
class UrlCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url); }
};

class TrayMenuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PMAgentLog::setupLog(testsupport::testHome() + QStringLiteral("/tray-test.log"));
        m_face.start(m_host);
        ASSERT_NE(m_face.menu(), nullptr);
    }
    void TearDown() override { m_face.stop(); }

    PMAgentDesktopHost m_host { PMApplicationController::sharedInstance() };
    PMWidgetsDesktopFace m_face;
};

bool savedDebugDefault()
{
    // A store of its own reads the file as another process would.
    platform::PreferenceStore saved(platform::PlatformPaths::standardDefaultsPath());
    return saved.boolValue(PMStandardDefaults::kDebugKey);
}

TEST_F(TrayMenuTest, DebugModeFlipsTheSavedDefaultAndShowsItAsACheckMark)
{
    PMStandardDefaults::sharedInstance().setValue(PMStandardDefaults::kDebugKey, false);
    PMTrayMenu &menu = *m_face.menu();
    menu.validateItems();
    EXPECT_FALSE(menu.debugAction()->isChecked());

    menu.debugAction()->trigger();
    EXPECT_TRUE(savedDebugDefault());
    EXPECT_TRUE(PMAgentLog::isDebugEnabled());
    EXPECT_TRUE(menu.debugAction()->isChecked());

    menu.debugAction()->trigger();
    EXPECT_FALSE(savedDebugDefault());
    EXPECT_FALSE(menu.debugAction()->isChecked());

    // A change made elsewhere shows when the menu opens.
    PMStandardDefaults::sharedInstance().setValue(PMStandardDefaults::kDebugKey, true);
    Q_EMIT menu.aboutToShow();
    EXPECT_TRUE(menu.debugAction()->isChecked());
    PMStandardDefaults::sharedInstance().setValue(PMStandardDefaults::kDebugKey, false);
}

TEST_F(TrayMenuTest, ShowAndHideLogToggleTheWindowWhichTakesTheLogText)
{
    PMTrayMenu &menu = *m_face.menu();
    PMAgentLog::logMessage(QStringLiteral("before the window"));
    EXPECT_EQ(menu.toggleLogAction()->text(), QStringLiteral("Show Log"));
    EXPECT_TRUE(menu.toggleLogAction()->isEnabled());

    menu.toggleLogAction()->trigger();
    EXPECT_TRUE(m_face.isLogWindowVisible());
    EXPECT_EQ(menu.toggleLogAction()->text(), QStringLiteral("Hide Log"));
    PMLogWindow &window = m_face.logWindow();
    EXPECT_EQ(PMLogController::sharedInstance().view(), &window);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Pellmere Log"));
    EXPECT_TRUE(window.text().contains(QStringLiteral("Pellmere starting.")));
    EXPECT_TRUE(window.text().contains(QStringLiteral("before the window")));
    PMAgentLog::logMessage(QStringLiteral("after the window"));
    EXPECT_TRUE(window.text().endsWith(QStringLiteral("after the window\n")));

    menu.toggleLogAction()->trigger();
    EXPECT_FALSE(m_face.isLogWindowVisible());
    EXPECT_EQ(menu.toggleLogAction()->text(), QStringLiteral("Show Log"));
    // Hidden, the window keeps the text.
    EXPECT_EQ(PMLogController::sharedInstance().view(), &window);
}

TEST_F(TrayMenuTest, ClearLogEmptiesTheLogAndItsFileAfterYes)
{
    PMAgentLog::logMessage(QStringLiteral("to be cleared"));
    ASSERT_TRUE(PMAgentLog::flushLog());
    m_face.menu()->clearLogAction()->trigger();
    QMessageBox *question = nullptr;
    ASSERT_TRUE(testsupport::waitFor([&] {
        question = m_face.logWindow().clearQuestion();
        return question && question->isVisible();
    }));
    EXPECT_EQ(question->text(), QStringLiteral("Are you sure you want to clear the log file?"));
    QTest::mouseClick(question->button(QMessageBox::Yes), Qt::LeftButton);
    ASSERT_TRUE(testsupport::waitFor([] { return PMLogController::sharedInstance().contents().isEmpty(); }));
    EXPECT_TRUE(testsupport::readFile(PMLogController::sharedInstance().logFilename()).isEmpty());
}

TEST_F(TrayMenuTest, EveryItemIsThere)
{
    PMTrayMenu &menu = *m_face.menu();
    for (QAction *action : { menu.debugAction(), menu.toggleLogAction(), menu.clearLogAction(), menu.helpAction(),
             menu.selectDeviceAction(), menu.quitAction() }) {
        ASSERT_NE(action, nullptr);
        EXPECT_TRUE(menu.actions().contains(action)) << action->text().toStdString();
        EXPECT_TRUE(action->isEnabled()) << action->text().toStdString();
    }
}

TEST_F(TrayMenuTest, OpeningTheLogFileWritesItAndHandsItToTheDesktop)
{
    UrlCatcher desktop;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "open");
    PMAgentLog::logMessage(QStringLiteral("a line to read in an editor"));
    m_face.openLogFile();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    const QString path = PMLogController::sharedInstance().logFilename();
    ASSERT_EQ(desktop.urls.size(), 1);
    EXPECT_EQ(desktop.urls.first(), QUrl::fromLocalFile(path));
    EXPECT_TRUE(testsupport::readFile(path).contains("a line to read in an editor"));
}

} // namespace

#include "test_PMTrayMenu.moc"
