#include "agent/log/PMLogController.h"

#include "support/TestEnvironment.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

class LogControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_log.setLogFilename(logPath());
    }
    QString logPath() const { return m_dir.filePath(QStringLiteral("Logs/Pellmere.log")); }

    QTemporaryDir m_dir;
    PMLogController m_log;
};

// A log window stand-in that records what the controller shows.
class RecordingView : public PMLogView {
public:
    QString text() const override { return m_text; }
    void setText(const QString &text) override { m_text = text; }
    void appendText(const QString &text) override { m_text += text; }
    bool isVisible() const override { return m_visible; }
    void show() override { m_visible = true; }
    void hide() override { m_visible = false; }
    void setTitle(const QString &title) override { m_title = title; }

    QString m_text;
    QString m_title;
    bool m_visible = false;
};

} // namespace

TEST(PMLogControllerFormat, LinesCarryALocalTimeStampWhenAsked)
{
    const QString line = PMLogController::generateString(QStringLiteral("hello"), true, true);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2} hello\\n$"))
                    .match(line)
                    .hasMatch())
        << line.toStdString();
    EXPECT_EQ(PMLogController::generateString(QStringLiteral("hello"), false, true), QStringLiteral("hello\n"));
    EXPECT_EQ(PMLogController::generateString(QStringLiteral("hello"), false, false), QStringLiteral("hello"));
}

TEST_F(LogControllerTest, SuppressedTimeStampsWinOverTheRequest)
{
    m_log.setSuppressTimeStamp(true);
    m_log.addLogString(QStringLiteral("plain"), true, true);
    EXPECT_EQ(m_log.contents(), QStringLiteral("plain\n"));
}

TEST_F(LogControllerTest, LinesReachTheFileOnlyWhenFlushed)
{
    m_log.readLogFile();
    m_log.addLogString(QStringLiteral("one"), false, true);
    EXPECT_FALSE(QFile::exists(logPath()) && QFileInfo(logPath()).size() > 0);
    ASSERT_TRUE(m_log.writeLogFile());
    EXPECT_EQ(testsupport::readFile(logPath()), QByteArray("one\n"));
}

TEST_F(LogControllerTest, NamesThatAreNotUtf8ReachTheFileAsEscapedBytes)
{
    // A path with the byte 0xE9 in a name, as the sync engine carries it (U+DCE9).
    m_log.addLogString(QStringLiteral("Copy of /home/caf") + QChar(0xDCE9) + QStringLiteral(" failed."), false, true);
    ASSERT_TRUE(m_log.writeLogFile());
    EXPECT_EQ(testsupport::readFile(logPath()), QByteArray("Copy of /home/caf\\xE9 failed.\n"));
}

TEST_F(LogControllerTest, ReadingKeepsTheOldTextAndAppendsAfterIt)
{
    testsupport::writeFile(logPath(), "old line\n");
    ASSERT_TRUE(m_log.readLogFile());
    m_log.addLogString(QStringLiteral("Grüße"), false, true);
    ASSERT_TRUE(m_log.writeLogFile());
    EXPECT_EQ(QString::fromUtf8(testsupport::readFile(logPath())), QStringLiteral("old line\nGrüße\n"));
}

TEST_F(LogControllerTest, AnOversizedLogAtLaunchIsDeletedAndStartsEmpty)
{
    testsupport::writeFile(logPath(), QByteArray(3500 * 1000, 'x'));
    ASSERT_TRUE(m_log.readLogFile());
    EXPECT_TRUE(QFile::exists(logPath())) << "recreated empty";
    EXPECT_EQ(QFileInfo(logPath()).size(), 0);
    EXPECT_TRUE(m_log.contents().isEmpty());
}

TEST_F(LogControllerTest, ALogExactlyAtTheLimitIsKept)
{
    testsupport::writeFile(logPath(), QByteArray(PMLogController::kMaximumLogFileSize, 'x'));
    EXPECT_FALSE(m_log.pruneLogIfTooLarge());
    EXPECT_TRUE(QFile::exists(logPath()));
}

TEST_F(LogControllerTest, AFlushThatCrossesTheLimitEmptiesFileAndMemory)
{
    m_log.readLogFile();
    const QString chunk(1000, QLatin1Char('y'));
    for (int i = 0; i < 3100; ++i)
        m_log.addLogString(chunk, false, true);
    ASSERT_TRUE(m_log.writeLogFile());
    EXPECT_TRUE(QFile::exists(logPath()));
    EXPECT_EQ(QFileInfo(logPath()).size(), 0);
    EXPECT_TRUE(m_log.contents().isEmpty());
    m_log.addLogString(QStringLiteral("after"), false, true);
    EXPECT_EQ(m_log.contents(), QStringLiteral("after\n"));
}

TEST_F(LogControllerTest, AFailedWriteKeepsTheTextInMemory)
{
    m_log.addLogString(QStringLiteral("keep me"), false, true);
    EXPECT_FALSE(m_log.writeLogFileTo(m_dir.filePath(QStringLiteral("no/such/folder/x.log"))));
    EXPECT_EQ(m_log.contents(), QStringLiteral("keep me\n"));
}

TEST_F(LogControllerTest, LinesFromManyThreadsStayWholeAndInOrderPerThread)
{
    constexpr int kThreads = 8;
    constexpr int kLines = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < kLines; ++i)
                m_log.addLogString(QStringLiteral("thread %1 line %2 end").arg(t).arg(i), true, true);
        });
    for (std::thread &thread : threads)
        thread.join();

    const QStringList lines = m_log.contents().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), kThreads * kLines);
    const QRegularExpression shape(QStringLiteral("^\\S+ \\S+ thread (\\d+) line (\\d+) end$"));
    std::vector<int> next(kThreads, 0);
    for (const QString &line : lines) {
        const auto match = shape.match(line);
        ASSERT_TRUE(match.hasMatch()) << "torn line: " << line.toStdString();
        const int thread = match.captured(1).toInt();
        EXPECT_EQ(match.captured(2).toInt(), next[size_t(thread)]++) << "out of order in thread " << thread;
    }
}

TEST_F(LogControllerTest, AnAttachedViewReceivesTheBufferAndLaterLines)
{
    testsupport::writeFile(logPath(), "from file\n");
    m_log.readLogFile();
    m_log.addLogString(QStringLiteral("before window"), false, true);
    m_log.setWindowTitle(QStringLiteral("Pellmere Log"));

    RecordingView view;
    m_log.attachView(&view);
    EXPECT_EQ(view.m_text, QStringLiteral("from file\nbefore window\n"));
    EXPECT_EQ(view.m_title, QStringLiteral("Pellmere Log"));

    // Lines from a worker thread reach the view through the main thread's event loop.
    std::thread worker([this] { m_log.addLogString(QStringLiteral("from worker"), false, true); });
    EXPECT_TRUE(testsupport::waitFor([&] { return view.m_text.endsWith(QStringLiteral("from worker\n")); }));
    worker.join();

    ASSERT_TRUE(m_log.writeLogFile());
    EXPECT_EQ(testsupport::readFile(logPath()), QByteArray("from file\nbefore window\nfrom worker\n"));

    m_log.zapLogAndWindowContents();
    EXPECT_TRUE(view.m_text.isEmpty());
    EXPECT_EQ(QFileInfo(logPath()).size(), 0);
    m_log.attachView(nullptr);
}
