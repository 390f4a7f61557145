#include "manager/window/LUMSyncPathDropRules.h"

#include "platform/PlatformPaths.h"

#include <QDir>
#include <QFileInfo>

using platform::PlatformPaths;

bool LUMSyncPathDropRules::isOnAnotherVolume(const QString &absolutePath)
{
    if (!PlatformPaths::volumeDirectoryContaining(absolutePath).isEmpty())
        return true;
    for (const QString &root : PlatformPaths::volumeRoots()) {
        const QString cleanRoot = QDir::cleanPath(root);
        if (absolutePath == cleanRoot || absolutePath.startsWith(cleanRoot + QLatin1Char('/')))
            return true;
    }
    return false;
}

bool LUMSyncPathDropRules::isAcceptable(const QString &path)
{
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return false;
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    const QString given = QDir::cleanPath(path);
    const QString resolved = info.canonicalFilePath();
    if (given == QStringLiteral("/") || resolved == QStringLiteral("/"))
        return false;
    return !isOnAnotherVolume(given) && !isOnAnotherVolume(resolved);
}

bool LUMSyncPathDropRules::allAcceptable(const QStringList &paths)
{
    if (paths.isEmpty())
        return false;
    for (const QString &path : paths) {
        if (!isAcceptable(path))
            return false;
    }
    return true;
}

int LUMSyncPathDropRules::moveDestination(int fromRow, int dropRow)
{
    return fromRow < dropRow ? dropRow - 1 : dropRow;
}
