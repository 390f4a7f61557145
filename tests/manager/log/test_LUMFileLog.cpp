#include "manager/log/LUMFileLog.h"

#include "platform/PlatformPaths.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include <unistd.h>

namespace {

// "2026-12-08 21:03:58 +0000 - " before every message.
const QRegularExpression kRecord(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\+0000 - (.*)$"));
constexpr qint64 kPrefixBytes = 28;

QStringList messagesIn(const QByteArray &contents)
{
    QStringList messages;
    for (const QString &line : QString::fromUtf8(contents).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = kRecord.match(line);
        EXPECT_TRUE(match.hasMatch()) << "malformed record: " << line.left(80).toStdString();
        messages << match.captured(1);
    }
    return messages;
}

} // namespace

TEST(LUMFileLog, TheRecordReaching9MiBIsWrittenWholeThenTheFileStartsOver)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + QStringLiteral("/logs/PellmereUI.log");
    LUMFileLog log(path);

    // The second record ends exactly at 9 MiB; the first, short of it by that record, is kept.
    const QString crossing = QStringLiteral("D - reaching the limit");
    const qint64 crossingBytes = kPrefixBytes + crossing.size() + 1;
    log.write(QString(int(LUMFileLog::kRolloverBytes - crossingBytes - kPrefixBytes - 1), QLatin1Char('a')));
    ASSERT_EQ(QFileInfo(path).size(), LUMFileLog::kRolloverBytes - crossingBytes);
    // A second name for the file shows what the crossing record left in it once it is deleted.
    const QString witness = dir.path() + QStringLiteral("/witness");
    ASSERT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(witness).constData()), 0);

    log.write(crossing);
    EXPECT_FALSE(QFile::exists(path)) << "deleted once it reached 9 MiB";
    const QStringList old = messagesIn(testsupport::readFile(witness));
    ASSERT_EQ(old.size(), 2);
    EXPECT_EQ(old.last(), crossing);
    EXPECT_EQ(QFileInfo(witness).size(), LUMFileLog::kRolloverBytes);

    log.write(QStringLiteral("D - first of the new file"));
    EXPECT_EQ(messagesIn(testsupport::readFile(path)), QStringList { QStringLiteral("D - first of the new file") });
}

TEST(LUMFileLog, RecordsFromManyThreadsStayWholeAndInOrderPerThread)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + QStringLiteral("/PellmereUI.log");
    LUMFileLog log(path);
    constexpr int kThreads = 4;
    constexpr int kRecords = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < kRecords; ++i)
                log.write(
                    QStringLiteral("D - thread %1 record %2 %3").arg(t).arg(i).arg(QString(200, QLatin1Char('z'))));
        });
    }
    for (std::thread &thread : threads)
        thread.join();

    const QStringList messages = messagesIn(testsupport::readFile(path));
    ASSERT_EQ(messages.size(), kThreads * kRecords);
    QList<int> next(kThreads, 0);
    const QRegularExpression shape(QStringLiteral("^D - thread (\\d) record (\\d+) z{200}$"));
    for (const QString &message : messages) {
        const QRegularExpressionMatch match = shape.match(message);
        ASSERT_TRUE(match.hasMatch()) << message.left(80).toStdString();
        const int thread = match.captured(1).toInt();
        EXPECT_EQ(match.captured(2).toInt(), next[thread]++);
    }
}

namespace {
QStringList g_earlierHandlerSaw;
void earlierHandler(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_earlierHandlerSaw << message;
}
} // namespace

TEST(LUMFileLog, TheMessageHandlerWritesTheManagersMessagesAndPassesWarningsOn)
{
    const QString path = platform::PlatformPaths::managerLogPath();
    ASSERT_TRUE(path.startsWith(testsupport::testHome() + QStringLiteral("/.local/state/pellmere/")));
    qInstallMessageHandler(earlierHandler);
    LUMFileLog::installMessageHandler();
    qCDebug(LUMFileLog::category()) << "D - LUMPellmereInterface(syncSet) - unable to get kPMSyncSetID";
    qCWarning(LUMFileLog::category()) << "D - LUMVolumeMonitor(start) - cannot watch";
    qDebug() << "plain debug";
    qInstallMessageHandler(nullptr);

    const QStringList messages = messagesIn(testsupport::readFile(path));
    EXPECT_TRUE(messages.contains(QStringLiteral("D - LUMPellmereInterface(syncSet) - unable to get kPMSyncSetID")));
    EXPECT_TRUE(messages.contains(QStringLiteral("D - LUMVolumeMonitor(start) - cannot watch")));
    EXPECT_TRUE(messages.contains(QStringLiteral("plain debug")));
    EXPECT_EQ(g_earlierHandlerSaw, QStringList { QStringLiteral("D - LUMVolumeMonitor(start) - cannot watch") })
        << "only warnings go on to standard error";
}
