#include "platform/PlatformPaths.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <pwd.h>
#include <unistd.h>

namespace platform {

namespace {

QString envPath(const char *name)
{
    const QString value = qEnvironmentVariable(name);
    // The XDG rules ignore relative paths.
    return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : QString();
}

QString userName()
{
    const passwd *pw = getpwuid(getuid());
    return pw && pw->pw_name ? QString::fromLocal8Bit(pw->pw_name) : QString::number(getuid());
}

// Reads one entry of $XDG_CONFIG_HOME/user-dirs.dirs (XDG_MUSIC_DIR="$HOME/Music").
QString xdgUserDir(const QString &key)
{
    QFile file(PlatformPaths::configHome() + QStringLiteral("/user-dirs.dirs"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString home = PlatformPaths::homeDirectory();
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (!line.startsWith(key + QLatin1Char('=')))
            continue;
        QString value = line.mid(key.size() + 1);
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        value.replace(QStringLiteral("$HOME"), home);
        if (!QDir::isAbsolutePath(value))
            return {};
        // A user directory set to $HOME itself means "disabled".
        return QDir::cleanPath(value) == QDir::cleanPath(home) ? QString() : QDir::cleanPath(value);
    }
    return {};
}

} // namespace

QString PlatformPaths::homeDirectory()
{
    const QString home = envPath("HOME");
    if (!home.isEmpty())
        return home;
    const passwd *pw = getpwuid(getuid());
    return pw && pw->pw_dir ? QDir::cleanPath(QString::fromLocal8Bit(pw->pw_dir)) : QStringLiteral("/");
}

QString PlatformPaths::configHome()
{
    const QString dir = envPath("XDG_CONFIG_HOME");
    return dir.isEmpty() ? homeDirectory() + QStringLiteral("/.config") : dir;
}

QString PlatformPaths::stateHome()
{
    const QString dir = envPath("XDG_STATE_HOME");
    return dir.isEmpty() ? homeDirectory() + QStringLiteral("/.local/state") : dir;
}

QString PlatformPaths::dataHome()
{
    const QString dir = envPath("XDG_DATA_HOME");
    return dir.isEmpty() ? homeDirectory() + QStringLiteral("/.local/share") : dir;
}

QString PlatformPaths::runtimeDirectory()
{
    const QString dir = envPath("XDG_RUNTIME_DIR");
    return dir.isEmpty() ? QStringLiteral("/tmp/pellmere-runtime-%1").arg(getuid()) : dir;
}

QString PlatformPaths::agentLogPath()
{
    return stateHome() + QStringLiteral("/pellmere/Pellmere.log");
}

QString PlatformPaths::managerLogPath()
{
    return stateHome() + QStringLiteral("/pellmere/PellmereUI.log");
}

QString PlatformPaths::preferencesDirectory()
{
    return configHome() + QStringLiteral("/pellmere");
}

QString PlatformPaths::standardDefaultsPath()
{
    return preferencesDirectory() + QStringLiteral("/defaults.plist");
}

QString PlatformPaths::hostPreferencesPath(const QString &hostName)
{
    QString safe = hostName;
    safe.replace(QLatin1Char('/'), QLatin1Char('_'));
    return preferencesDirectory() + QStringLiteral("/preferences.") + safe + QStringLiteral(".plist");
}

QString PlatformPaths::commonPreferencesPath()
{
    return configHome() + QStringLiteral("/corvane/com.corvane.common.plist");
}

QString PlatformPaths::autoUpdateDirectory(const QString &module)
{
    return configHome() + QStringLiteral("/corvane/AutoUpdate/") + module;
}

QString PlatformPaths::userFolder(UserFolder folder)
{
    QString key;
    QString fallback;
    switch (folder) {
    case UserFolder::Movies:
        key = QStringLiteral("XDG_VIDEOS_DIR");
        fallback = QStringLiteral("Videos");
        break;
    case UserFolder::Music:
        key = QStringLiteral("XDG_MUSIC_DIR");
        fallback = QStringLiteral("Music");
        break;
    case UserFolder::Pictures:
        key = QStringLiteral("XDG_PICTURES_DIR");
        fallback = QStringLiteral("Pictures");
        break;
    case UserFolder::Documents:
        key = QStringLiteral("XDG_DOCUMENTS_DIR");
        fallback = QStringLiteral("Documents");
        break;
    case UserFolder::Desktop: {
        const QString desktop = xdgUserDir(QStringLiteral("XDG_DESKTOP_DIR"));
        if (!desktop.isEmpty())
            return desktop;
        const QString downloads = xdgUserDir(QStringLiteral("XDG_DOWNLOAD_DIR"));
        return downloads.isEmpty() ? homeDirectory() + QStringLiteral("/Desktop") : downloads;
    }
    case UserFolder::Downloads:
        key = QStringLiteral("XDG_DOWNLOAD_DIR");
        fallback = QStringLiteral("Downloads");
        break;
    }
    const QString dir = xdgUserDir(key);
    return dir.isEmpty() ? homeDirectory() + QLatin1Char('/') + fallback : dir;
}

QStringList PlatformPaths::volumeRoots()
{
    // An explicit list (colon-separated) replaces the usual roots: for drives mounted
    // elsewhere by the administrator, and for tests that must not see the machine's drives.
    const QString configured = qEnvironmentVariable("PELLMERE_VOLUME_ROOTS");
    if (!configured.isEmpty()) {
        QStringList roots;
        for (const QString &root : configured.split(QLatin1Char(':'), Qt::SkipEmptyParts))
            roots.append(QDir::cleanPath(root));
        return roots;
    }
    const QString user = userName();
    return { QStringLiteral("/media/") + user, QStringLiteral("/run/media/") + user, QStringLiteral("/media"),
        QStringLiteral("/mnt") };
}

QString PlatformPaths::volumeDirectoryContaining(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    for (const QString &root : volumeRoots()) {
        if (!clean.startsWith(root + QLatin1Char('/')))
            continue;
        const QString rest = clean.mid(root.size() + 1);
        const QString first = rest.section(QLatin1Char('/'), 0, 0);
        if (first.isEmpty())
            continue;
        // /media/alice is itself a root below /media: the more specific root was tried first.
        return root + QLatin1Char('/') + first;
    }
    return {};
}

bool PlatformPaths::isVolumeDirectory(const QString &mountPoint)
{
    const QString clean = QDir::cleanPath(mountPoint);
    return !clean.isEmpty() && volumeDirectoryContaining(clean) == clean;
}

QString PlatformPaths::expandTilde(const QString &path)
{
    if (path == QLatin1String("~"))
        return homeDirectory();
    if (path.startsWith(QLatin1String("~/")))
        return homeDirectory() + path.mid(1);
    return path;
}

QString PlatformPaths::abbreviateWithTilde(const QString &path)
{
    const QString home = homeDirectory();
    if (home == QLatin1String("/"))
        return path;
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + QLatin1Char('/')))
        return QLatin1Char('~') + path.mid(home.size());
    return path;
}

} // namespace platform
