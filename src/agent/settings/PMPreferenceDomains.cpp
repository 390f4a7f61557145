#include "agent/settings/PMPreferenceDomains.h"

#include "platform/PlatformPaths.h"

QString PMPreferenceDomains::filePath(const QString &domain)
{
    return platform::PlatformPaths::preferencesDirectory() + QLatin1Char('/') + domain + QStringLiteral(".plist");
}
