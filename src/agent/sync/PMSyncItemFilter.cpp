#include "agent/sync/PMSyncItemFilter.h"

#include <QFile>

#include <sys/stat.h>

PMSyncItemFilter::PMSyncItemFilter(std::shared_ptr<const PMCopyItemFilter> mediaFilter)
    : m_mediaFilter(std::move(mediaFilter))
{
}

bool PMSyncItemFilter::shouldCopyItem(const QString &path, const QString &baseName, bool limitTo4G) const
{
    struct stat sb = {};
    if (lstat(QFile::encodeName(path).constData(), &sb) == 0 && S_ISLNK(sb.st_mode))
        return false;
    return !m_mediaFilter || m_mediaFilter->shouldCopyItem(path, baseName, limitTo4G);
}
