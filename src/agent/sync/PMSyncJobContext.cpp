#include "agent/sync/PMSyncJobContext.h"

#include "agent/copy/PMCopyItemFilter.h"
#include "agent/sync/PMSyncController.h"

void PMSyncJobContext::beginWalk()
{
    walkStarted = QDateTime::currentDateTimeUtc();
    itemsLeftOut = false;
}

void PMSyncJobContext::debugLine(const QString &text) const
{
    if (debug)
        controller.logMessage(text);
}

bool PMSyncJobContext::shouldCopyItem(const QString &path, const QString &baseName) const
{
    if (!filter)
        return true;
    return filter->shouldCopyItem(layout.localPathForSyncItem(path), baseName, limitTo4G);
}

bool PMSyncJobContext::shouldCopyMediaFile(const QString &localPath, const struct stat &known) const
{
    if (controller.cancelPending())
        return false;
    if (!filter)
        return true;
    return filter->shouldCopyExaminedItem(localPath, localPath.section(QLatin1Char('/'), -1), limitTo4G, known);
}

bool PMSyncJobContext::shouldCopyMediaFile(const QString &path) const
{
    if (controller.cancelPending())
        return false;
    const QString local = layout.localPathForSyncItem(path);
    return shouldCopyItem(local, local.section(QLatin1Char('/'), -1));
}
