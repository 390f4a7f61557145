#include "ScreenshotHome.h"

#include <QDir>
#include <QFile>

QString ScreenshotHome::use(const QTemporaryDir &scratch)
{
    if (!scratch.isValid())
        return QString();
    const QString home = scratch.filePath(QStringLiteral("home/ada"));
    if (!QDir().mkpath(home))
        return QString();
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home + QStringLiteral("/.local/share")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home + QStringLiteral("/.cache")));
    qputenv("XDG_STATE_HOME", QFile::encodeName(home + QStringLiteral("/.local/state")));
    return home;
}
