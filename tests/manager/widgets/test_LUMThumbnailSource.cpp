#include "manager/widgets/LUMThumbnailSource.h"

#include "support/TestEnvironment.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class ThumbnailSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(files.isValid());
        QDir(LUMThumbnailSource::cacheFolder()).removeRecursively();
    }
    void TearDown() override { QDir(LUMThumbnailSource::cacheFolder()).removeRecursively(); }

    QString writeImage(const QString &name, QSize size, QColor colour)
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(colour);
        const QString path = files.filePath(name);
        EXPECT_TRUE(image.save(path, "PNG"));
        return path;
    }

    // A cache entry named the way the freedesktop.org cache names it (md5 of the escaped
    // file:// URI), written here by hand rather than through the code under test.
    void writeCacheEntry(const QString &kind, const QString &uri, qint64 modified, QColor colour)
    {
        const QString folder = testsupport::testHome() + QStringLiteral("/.cache/thumbnails/") + kind;
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString name
            = QString::fromLatin1(QCryptographicHash::hash(uri.toUtf8(), QCryptographicHash::Md5).toHex());
        QImage image(128, 96, QImage::Format_ARGB32);
        image.fill(colour);
        image.setText(QStringLiteral("Thumb::URI"), uri);
        image.setText(QStringLiteral("Thumb::MTime"), QString::number(modified));
        ASSERT_TRUE(image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"), "PNG"));
    }

    static qint64 modifiedSeconds(const QString &path) { return QFileInfo(path).lastModified().toSecsSinceEpoch(); }

    QTemporaryDir files;
};

} // namespace

TEST_F(ThumbnailSourceTest, CacheEntryIsUsedFirst)
{
    const QString path = files.filePath(QStringLiteral("my notes.txt"));
    testsupport::writeFile(path, "words");
    const QString uri = QStringLiteral("file://") + files.path() + QStringLiteral("/my%20notes.txt");
    writeCacheEntry(QStringLiteral("normal"), uri, modifiedSeconds(path), Qt::red);

    const LUMThumbnailSource::Thumbnail result = LUMThumbnailSource::thumbnailFor(path, QSize(64, 64));
    EXPECT_EQ(result.origin, LUMThumbnailSource::Origin::ThumbnailCache);
    EXPECT_EQ(result.image.size(), QSize(64, 48)) << "fitted to the request, proportions kept";
    EXPECT_EQ(result.image.pixelColor(30, 20), QColor(Qt::red));
}

TEST_F(ThumbnailSourceTest, CacheWinsOverTheImageItselfAndLargeServesWhenNormalIsMissing)
{
    const QString path = writeImage(QStringLiteral("photo.png"), QSize(300, 300), Qt::blue);
    writeCacheEntry(QStringLiteral("large"), QStringLiteral("file://") + path, modifiedSeconds(path), Qt::green);

    const LUMThumbnailSource::Thumbnail result = LUMThumbnailSource::thumbnailFor(path, QSize(64, 64));
    EXPECT_EQ(result.origin, LUMThumbnailSource::Origin::ThumbnailCache);
    EXPECT_EQ(result.image.pixelColor(10, 10), QColor(Qt::green));
}

TEST_F(ThumbnailSourceTest, StaleCacheEntryIsPassedOver)
{
    const QString path = writeImage(QStringLiteral("photo.png"), QSize(300, 300), Qt::blue);
    writeCacheEntry(QStringLiteral("normal"), QStringLiteral("file://") + path, modifiedSeconds(path) - 60, Qt::green);

    const LUMThumbnailSource::Thumbnail result = LUMThumbnailSource::thumbnailFor(path, QSize(64, 64));
    EXPECT_EQ(result.origin, LUMThumbnailSource::Origin::ImageFile);
    EXPECT_EQ(result.image.pixelColor(10, 10), QColor(Qt::blue));
}

TEST_F(ThumbnailSourceTest, ImageFilesAreReadScaledDown)
{
    const QString wide = writeImage(QStringLiteral("wide.png"), QSize(400, 200), Qt::blue);
    LUMThumbnailSource::Thumbnail result = LUMThumbnailSource::thumbnailFor(wide, QSize(64, 64));
    EXPECT_EQ(result.origin, LUMThumbnailSource::Origin::ImageFile);
    EXPECT_EQ(result.image.size(), QSize(64, 32));
    EXPECT_EQ(result.image.pixelColor(30, 15), QColor(Qt::blue));

    const QString small = writeImage(QStringLiteral("small.png"), QSize(20, 10), Qt::red);
    result = LUMThumbnailSource::thumbnailFor(small, QSize(64, 64));
    EXPECT_EQ(result.image.size(), QSize(20, 10)) << "small pictures are not blown up";
}

TEST_F(ThumbnailSourceTest, OtherFilesGetTheirTypeIcon)
{
    const QString text = files.filePath(QStringLiteral("letter.txt"));
    testsupport::writeFile(text, "Dear reader");
    // Named like a picture but not one: the reader fails and the icon takes over.
    const QString fake = files.filePath(QStringLiteral("broken.png"));
    testsupport::writeFile(fake, "not a picture");
    for (const QString &path : { text, fake, files.path() }) {
        const LUMThumbnailSource::Thumbnail result = LUMThumbnailSource::thumbnailFor(path, QSize(48, 48));
        EXPECT_EQ(result.origin, LUMThumbnailSource::Origin::TypeIcon) << path.toStdString();
        EXPECT_FALSE(result.image.isNull()) << path.toStdString();
        EXPECT_LE(result.image.width(), 48);
    }
}

TEST_F(ThumbnailSourceTest, MissingFileGivesNothing)
{
    const LUMThumbnailSource::Thumbnail result
        = LUMThumbnailSource::thumbnailFor(files.filePath(QStringLiteral("gone.png")), QSize(48, 48));
    EXPECT_EQ(result.origin, LUMThumbnailSource::Origin::None);
    EXPECT_TRUE(result.image.isNull());
}
