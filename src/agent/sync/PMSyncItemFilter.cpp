#include "agent/sync/PMSyncItemFilter.h"

#include "agent/media/PMFileValidator.h"
#include "platform/FileNameCodec.h"

#include <QFile>

#include <sys/stat.h>

PMSyncItemFilter::PMSyncItemFilter(std::shared_ptr<const PMCopyItemFilter> mediaFilter)
    : m_mediaFilter(std::move(mediaFilter))
{
}

bool PMSyncItemFilter::shouldCopyItem(const QString &path, const QString &baseName, bool limitTo4G) const
{
    struct stat sb = {};
    if (lstat(platform::FileNameCodec::encode(path).constData(), &sb) != 0)
        return !m_mediaFilter || m_mediaFilter->shouldCopyItem(path, baseName, limitTo4G);
    return shouldCopyExaminedItem(path, baseName, limitTo4G, sb);
}

bool PMSyncItemFilter::shouldCopyExaminedItem(
    const QString &path, const QString &baseName, bool limitTo4G, const struct stat &known) const
{
    if (S_ISLNK(known.st_mode))
        return false;
    if (m_mediaFilter)
        return m_mediaFilter->shouldCopyExaminedItem(path, baseName, limitTo4G, known);
    // Without media lists every file may go, but a drive that cannot hold 4 GiB files still
    // cannot hold them: such a file would fail half-written at the end of the drive's limit.
    return !limitTo4G || !S_ISREG(known.st_mode) || qint64(known.st_size) <= PMFileValidator::kMaxSizeWith4GLimit;
}
