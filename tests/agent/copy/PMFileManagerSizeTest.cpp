// Allocated sizes: 512-byte rounding, whole trees with hidden entries, and links and special
// files counted as nothing and never followed.
#include "agent/copy/PMFileManager.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class PMFileManagerSizeTest : public ::testing::Test {
protected:
    QString path(const QString &relative) const { return m_dir.path() + QLatin1Char('/') + relative; }
    void write(const QString &relative, qsizetype bytes)
    {
        testsupport::writeFile(path(relative), QByteArray(bytes, 'x'));
    }
    void link(const QString &target, const QString &relative)
    {
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path(relative)).constData()), 0);
    }

    QTemporaryDir m_dir;
};

TEST_F(PMFileManagerSizeTest, FilesRoundUpToWholeBlocksOf512)
{
    write(QStringLiteral("empty"), 0);
    write(QStringLiteral("one"), 1);
    write(QStringLiteral("block"), 512);
    write(QStringLiteral("blockAndOne"), 513);
    write(QStringLiteral("large"), 3 * 1024 * 1024 + 7);

    EXPECT_EQ(PMFileManager::fastPathSize(path(QStringLiteral("empty"))), 0u);
    EXPECT_EQ(PMFileManager::fastPathSize(path(QStringLiteral("one"))), 512u);
    EXPECT_EQ(PMFileManager::fastPathSize(path(QStringLiteral("block"))), 512u);
    EXPECT_EQ(PMFileManager::fastPathSize(path(QStringLiteral("blockAndOne"))), 1024u);
    EXPECT_EQ(PMFileManager::fastPathSize(path(QStringLiteral("large"))), 3u * 1024 * 1024 + 512);
}

TEST_F(PMFileManagerSizeTest, MissingPathsAndEmptyFoldersCountNothing)
{
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("emptyFolder"))));
    EXPECT_EQ(PMFileManager::fastPathSize(path(QStringLiteral("emptyFolder"))), 0u);
    EXPECT_EQ(PMFileManager::fastPathSize(path(QStringLiteral("missing"))), 0u);
    EXPECT_EQ(PMFileManager::fastFolderSizeAtPath(path(QStringLiteral("missing"))), 0u);
    EXPECT_EQ(PMFileManager::fastPathSize(QString()), 0u);
}

TEST_F(PMFileManagerSizeTest, FolderSumsItsWholeTreeIncludingHiddenEntries)
{
    write(QStringLiteral("tree/a"), 100); // 512
    write(QStringLiteral("tree/.hidden"), 600); // 1024
    write(QStringLiteral("tree/sub/deeper/b"), 1025); // 1536
    write(QStringLiteral("tree/.hiddenFolder/c"), 1); // 512
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("tree/emptySub"))));

    EXPECT_EQ(PMFileManager::fastFolderSizeAtPath(path(QStringLiteral("tree"))), 3584u);
    EXPECT_EQ(PMFileManager::fastPathSize(path(QStringLiteral("tree"))), 3584u);
    EXPECT_EQ(PMFileManager::fastPathSize(path(QStringLiteral("tree/sub"))), 1536u);
}

TEST_F(PMFileManagerSizeTest, LinksAndSpecialFilesCountNothingAndAreNeverFollowed)
{
    write(QStringLiteral("outside/big"), 1024 * 1024);
    write(QStringLiteral("tree/real"), 10); // 512
    link(path(QStringLiteral("outside/big")), QStringLiteral("tree/linkToFile"));
    link(path(QStringLiteral("outside")), QStringLiteral("tree/linkToFolder"));
    link(QStringLiteral("nowhere"), QStringLiteral("tree/dangling"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path(QStringLiteral("tree/pipe"))).constData(), 0600), 0);

    EXPECT_EQ(PMFileManager::fastFolderSizeAtPath(path(QStringLiteral("tree"))), 512u);
    EXPECT_EQ(PMFileManager::fastPathSize(path(QStringLiteral("tree/linkToFile"))), 0u);
    EXPECT_EQ(PMFileManager::fastPathSize(path(QStringLiteral("tree/linkToFolder"))), 0u);
    EXPECT_EQ(PMFileManager::fastFolderSizeAtPath(path(QStringLiteral("tree/linkToFolder"))), 0u);
    EXPECT_EQ(PMFileManager::fastPathSize(path(QStringLiteral("tree/pipe"))), 0u);
}

TEST_F(PMFileManagerSizeTest, SizeOfALargeSparseFileComesFromItsLengthNotItsBlocks)
{
    const QString sparse = path(QStringLiteral("sparse"));
    QFile file(sparse);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(qint64(5) * 1024 * 1024 * 1024 + 1));
    file.close();
    EXPECT_EQ(PMFileManager::fastPathSize(sparse), quint64(5) * 1024 * 1024 * 1024 + 512);
}

} // namespace
