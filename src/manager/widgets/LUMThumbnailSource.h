// The picture shown for the file being copied, found in this order:
//   1. the freedesktop.org thumbnail cache: $XDG_CACHE_HOME/thumbnails/{normal,large}/
//      <md5 of the file's URI>.png (the size nearer the request first), used only when its
//      Thumb::MTime matches the file's modification time, so a changed file is not shown
//      with a stale picture;
//   2. for image files, the image itself read scaled down (never the whole image in memory);
//   3. the icon of the file's type.
// Results fit in the requested size, keeping the aspect ratio.
//
// Main thread (icons need the GUI application).
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

class LUMThumbnailSource {
public:
    enum class Origin { None, ThumbnailCache, ImageFile, TypeIcon };

    struct Thumbnail {
        QImage image;
        Origin origin = Origin::None;
    };

    // A missing file gives an empty result.
    static Thumbnail thumbnailFor(const QString &path, const QSize &size);

    // The cache folder ($XDG_CACHE_HOME/thumbnails, else ~/.cache/thumbnails).
    static QString cacheFolder();
    // The file name the cache uses for a local file: md5 of its file:// URI, in hex, ".png".
    static QString cacheFileName(const QString &absolutePath);

private:
    static QImage fromCache(const QString &absolutePath, qint64 modifiedSeconds, const QSize &size);
    static QImage fromImageFile(const QString &absolutePath, const QSize &size);
    static QImage fromTypeIcon(const QString &absolutePath, const QSize &size);
};
