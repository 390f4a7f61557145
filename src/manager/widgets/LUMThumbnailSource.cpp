#include "manager/widgets/LUMThumbnailSource.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QIcon>
#include <QImageReader>
#include <QStyle>
#include <QUrl>

namespace {

QImage fitted(const QImage &image, const QSize &size)
{
    if (image.isNull() || !size.isValid())
        return image;
    if (image.width() <= size.width() && image.height() <= size.height())
        return image;
    return image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

} // namespace

QString LUMThumbnailSource::cacheFolder()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/thumbnails");
}

QString LUMThumbnailSource::cacheFileName(const QString &absolutePath)
{
    const QByteArray uri = QUrl::fromLocalFile(absolutePath).toEncoded();
    return QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) + QStringLiteral(".png");
}

LUMThumbnailSource::Thumbnail LUMThumbnailSource::thumbnailFor(const QString &path, const QSize &size)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    const QString absolutePath = info.absoluteFilePath();
    if (QImage image = fromCache(absolutePath, info.lastModified().toSecsSinceEpoch(), size); !image.isNull())
        return { image, Origin::ThumbnailCache };
    if (info.isFile()) {
        if (QImage image = fromImageFile(absolutePath, size); !image.isNull())
            return { image, Origin::ImageFile };
    }
    return { fromTypeIcon(absolutePath, size), Origin::TypeIcon };
}

QImage LUMThumbnailSource::fromCache(const QString &absolutePath, qint64 modifiedSeconds, const QSize &size)
{
    const QString folder = cacheFolder();
    const QString name = cacheFileName(absolutePath);
    // normal holds 128-pixel pictures, large 256-pixel ones.
    const bool preferLarge = size.width() > 128 || size.height() > 128;
    const QStringList sizes = preferLarge ? QStringList { QStringLiteral("large"), QStringLiteral("normal") }
                                          : QStringList { QStringLiteral("normal"), QStringLiteral("large") };
    for (const QString &kind : sizes) {
        QImageReader reader(folder + QLatin1Char('/') + kind + QLatin1Char('/') + name, "png");
        const QImage image = reader.read();
        if (image.isNull())
            continue;
        // The reader's own text lookup splits keys at ':', so ask the decoded image.
        bool numeric = false;
        const qint64 thumbTime = image.text(QStringLiteral("Thumb::MTime")).toLongLong(&numeric);
        if (numeric && thumbTime == modifiedSeconds)
            return fitted(image, size);
    }
    return {};
}

QImage LUMThumbnailSource::fromImageFile(const QString &absolutePath, const QSize &size)
{
    QImageReader reader(absolutePath);
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return {};
    const QSize original = reader.size();
    if (original.isValid() && size.isValid() && (original.width() > size.width() || original.height() > size.height()))
        reader.setScaledSize(original.scaled(size, Qt::KeepAspectRatio));
    return fitted(reader.read(), size);
}

QImage LUMThumbnailSource::fromTypeIcon(const QString &absolutePath, const QSize &size)
{
    const QFileIconProvider provider;
    QIcon icon = provider.icon(QFileInfo(absolutePath));
    if (icon.isNull()) {
        // Without an icon theme the provider has nothing; the style always has a file icon.
        icon = QApplication::style()->standardIcon(
            QFileInfo(absolutePath).isDir() ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
    }
    return icon.pixmap(size).toImage();
}
