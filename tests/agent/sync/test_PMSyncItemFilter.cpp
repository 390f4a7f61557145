// The sync job's own filter: links never go to a drive, and a drive that cannot hold files of
// 4 GiB gets none, with or without media lists, whether the walk read the attributes or not.
#include "agent/media/PMFileValidator.h"
#include "agent/sync/PMSyncItemFilter.h"

#include "support/TestEnvironment.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// Lets everything through and counts the questions.
struct CountingFilter : PMCopyItemFilter {
    bool shouldCopyItem(const QString &, const QString &, bool) const override
    {
        ++asked;
        return true;
    }
    mutable int asked = 0;
};

class SyncItemFilterTest : public ::testing::Test {
protected:
    QString sparseFile(const QString &name, qint64 size) const
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_TRUE(file.resize(size));
        return path;
    }
    static struct stat attributesOf(const QString &path)
    {
        struct stat item = {};
        EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &item), 0) << path.toStdString();
        return item;
    }
    // The filter's answer asked both ways; they must agree.
    static bool answer(const PMSyncItemFilter &filter, const QString &path, bool limitTo4G)
    {
        const QString name = path.section(QLatin1Char('/'), -1);
        const bool byPath = filter.shouldCopyItem(path, name, limitTo4G);
        const bool byAttributes = filter.shouldCopyExaminedItem(path, name, limitTo4G, attributesOf(path));
        EXPECT_EQ(byPath, byAttributes) << path.toStdString();
        return byPath;
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(SyncItemFilterTest, WithoutMediaListsOnlyLinksAndFilesTooBigForTheDriveStayBehind)
{
    const PMSyncItemFilter filter;
    const QString largest = sparseFile(QStringLiteral("largest.bin"), PMFileValidator::kMaxSizeWith4GLimit);
    const QString tooLarge = sparseFile(QStringLiteral("four.bin"), PMFileValidator::kMaxSizeWith4GLimit + 1);
    const QString link = m_dir.filePath(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(largest, link));

    EXPECT_TRUE(answer(filter, largest, true));
    EXPECT_FALSE(answer(filter, tooLarge, true)) << "a FAT drive cannot hold it";
    EXPECT_TRUE(answer(filter, tooLarge, false));
    EXPECT_FALSE(answer(filter, link, false));
    EXPECT_TRUE(answer(filter, m_dir.path(), true)) << "folders are always entered";
}

TEST_F(SyncItemFilterTest, MediaListsAreAskedForEverythingButLinks)
{
    auto media = std::make_shared<CountingFilter>();
    const PMSyncItemFilter filter(media);
    const QString file = sparseFile(QStringLiteral("song.mp3"), 100);
    const QString link = m_dir.filePath(QStringLiteral("link.mp3"));
    ASSERT_TRUE(QFile::link(file, link));

    EXPECT_TRUE(answer(filter, file, true));
    EXPECT_EQ(media->asked, 2);
    EXPECT_FALSE(answer(filter, link, true));
    EXPECT_EQ(media->asked, 2) << "a link is refused before the lists are asked";
}
