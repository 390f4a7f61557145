// The log window as the place of the log text: lines from other threads arrive in order,
// the text moves in and out with attaching, clearing asks first, the frame is kept.
#include "agent/desktop/PMLogWindow.h"
#include "agent/desktop/PMWindowFrames.h"
#include "agent/log/PMLogController.h"
#include "support/TestEnvironment.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QStringLiteral("<unreadable>");
}

// Attaches a window for the guard's life; the log must never outlive-reference a window.
class Attachment {
public:
    Attachment(PMLogController &log, PMLogWindow &window)
        : m_log(log)
    {
        m_log.attachView(&window);
    }
    ~Attachment() { m_log.attachView(nullptr); }
    Attachment(const Attachment &) = delete;
    Attachment &operator=(const Attachment &) = delete;

private:
    PMLogController &m_log;
};

class LogWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_log.setLogFilename(m_dir.filePath(QStringLiteral("Pellmere.log")));
        m_log.setSuppressTimeStamp(true);
    }
    QTemporaryDir m_dir;
    PMLogController m_log;
};

TEST_F(LogWindowTest, LinesFromWorkerThreadsArriveInOrderAfterTheBufferedText)
{
    m_log.addLogString(QStringLiteral("old line"), false, true);
    PMLogWindow window(QStringLiteral("test.log.order"));
    Attachment attachment(m_log, window);
    window.show();
    // The buffer moved into the window: one place only.
    EXPECT_EQ(window.text(), QStringLiteral("old line\n"));

    constexpr int kLines = 300;
    std::atomic<bool> finished { false };
    std::thread worker([&] {
        for (int i = 0; i < kLines; ++i)
            m_log.addLogString(QStringLiteral("worker %1").arg(i), true, true);
        finished = true;
    });
    // The worker waits for the main thread at each line; the event loop must run meanwhile.
    const bool done = QTest::qWaitFor([&] { return finished.load(); }, 20000);
    worker.join();
    ASSERT_TRUE(done);

    const QStringList lines = window.text().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), kLines + 2); // old line, the worker's, and the empty rest after the last "\n"
    EXPECT_EQ(lines.first(), QStringLiteral("old line"));
    for (int i = 0; i < kLines; ++i)
        ASSERT_EQ(lines.at(i + 1), QStringLiteral("worker %1").arg(i));
    // The controller reads the text where it lives now, and writes it to the file from there.
    EXPECT_EQ(m_log.contents(), window.text());
    ASSERT_TRUE(m_log.writeLogFile());
    EXPECT_EQ(readFile(m_log.logFilename()), window.text());
    // The end stays in view.
    EXPECT_EQ(window.textView()->verticalScrollBar()->value(), window.textView()->verticalScrollBar()->maximum());
}

TEST_F(LogWindowTest, DetachingMovesTheTextBackIntoTheBuffer)
{
    PMLogWindow window(QStringLiteral("test.log.detach"));
    Attachment attachment(m_log, window);
    m_log.addLogString(QStringLiteral("while shown"), false, true);
    EXPECT_TRUE(window.textView()->isReadOnly());
    m_log.attachView(nullptr);
    m_log.addLogString(QStringLiteral("after"), false, true);
    EXPECT_EQ(m_log.contents(), QStringLiteral("while shown\nafter\n"));
}

QMessageBox *waitForClearQuestion(PMLogWindow &window)
{
    if (!testsupport::waitFor([&] { return window.clearQuestion() && window.clearQuestion()->isVisible(); }))
        return nullptr;
    return window.clearQuestion();
}

TEST_F(LogWindowTest, ClearingAsksFirstAndEmptiesWindowAndFileOnlyOnYes)
{
    PMLogWindow window(QStringLiteral("test.log.clear"));
    Attachment attachment(m_log, window);
    window.show();
    m_log.addLogString(QStringLiteral("keep me?"), false, true);
    ASSERT_TRUE(m_log.writeLogFile());
    int clears = 0;
    const auto clear = [&] {
        ++clears;
        m_log.zapLogAndWindowContents();
    };

    window.askToClear(clear);
    QMessageBox *question = waitForClearQuestion(window);
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(question->windowTitle(), QStringLiteral("Clear Log"));
    EXPECT_EQ(question->text(), QStringLiteral("Are you sure you want to clear the log file?"));
    EXPECT_EQ(question->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(question->defaultButton(), question->button(QMessageBox::Yes));
    // A sheet on the visible log window.
    EXPECT_EQ(question->parentWidget(), &window);
    QTest::mouseClick(question->button(QMessageBox::No), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.clearQuestion() == nullptr; }, 5000));
    EXPECT_EQ(clears, 0);
    EXPECT_EQ(window.text(), QStringLiteral("keep me?\n"));

    window.askToClear(clear);
    question = waitForClearQuestion(window);
    ASSERT_NE(question, nullptr);
    // Return presses the default button, "Yes".
    QTest::keyClick(question, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return clears == 1; }, 5000));
    EXPECT_EQ(window.text(), QString());
    EXPECT_EQ(readFile(m_log.logFilename()), QString());
}

TEST_F(LogWindowTest, ClearingWithTheWindowHiddenAsksInAPanelOfItsOwn)
{
    PMLogWindow window(QStringLiteral("test.log.panel"));
    window.askToClear([] {});
    QMessageBox *question = waitForClearQuestion(window);
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(question->parentWidget(), nullptr);
    EXPECT_EQ(question->windowModality(), Qt::ApplicationModal);
    question->reject();
}

TEST_F(LogWindowTest, TheFrameComesBackUnderItsAutosaveName)
{
    const QRect frame(120, 140, 500, 300);
    {
        PMLogWindow window(QStringLiteral("test.log.frame"));
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.setGeometry(frame);
        ASSERT_TRUE(testsupport::waitFor([&] { return window.geometry() == frame; }));
        window.hide();
    }
    EXPECT_FALSE(PMWindowFrames::load(QStringLiteral("test.log.frame")).isEmpty());
    EXPECT_TRUE(PMWindowFrames::filePath().startsWith(testsupport::testHome()));
    PMLogWindow again(QStringLiteral("test.log.frame"));
    again.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&again));
    EXPECT_EQ(again.geometry().size(), frame.size());
    EXPECT_EQ(again.geometry().topLeft(), frame.topLeft());
    // Another name has no frame of its own.
    EXPECT_TRUE(PMWindowFrames::load(QStringLiteral("test.log.other")).isEmpty());
}

TEST_F(LogWindowTest, AThreeMegabyteLogOpensWhole)
{
    QString big;
    const QString line
        = QStringLiteral("2026/12/08 10:00:00 Copied \"/home/user/Music/some file.mp3\" to the drive.\n");
    while (big.size() < 3000 * 1024)
        big += line;
    m_log.addLogString(big, false, false);
    PMLogWindow window(QStringLiteral("test.log.big"));
    Attachment attachment(m_log, window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.text().size(), big.size());
    EXPECT_EQ(m_log.contents(), big);
}

} // namespace
