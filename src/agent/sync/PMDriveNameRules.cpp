#include "agent/sync/PMDriveNameRules.h"

#include "agent/copy/PMFileSystemKind.h"
#include "platform/MountTable.h"

#include <QDir>
#include <QFileInfo>

namespace {

bool isFatKind(const QString &kind)
{
    return kind == QLatin1String("vfat") || kind == QLatin1String("msdos") || kind == QLatin1String("fat")
        || kind == QLatin1String("exfat");
}

} // namespace

bool PMDriveNameRules::restrictsNames(const QString &fileSystemKind)
{
    return isFatKind(fileSystemKind);
}

bool PMDriveNameRules::isNameAllowed(const QString &fileSystemKind, const QString &name)
{
    if (!restrictsNames(fileSystemKind))
        return true;
    if (name.isEmpty())
        return false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
        switch (c.unicode()) {
        case '"':
        case '*':
        case '/':
        case ':':
        case '<':
        case '>':
        case '?':
        case '\\':
        case '|':
            return false;
        default:
            break;
        }
    }
    // "." and ".." are folder references, not names.
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return true;
    const QChar last = name.back();
    return last != QLatin1Char('.') && last != QLatin1Char(' ');
}

QString PMDriveNameRules::nearestExistingPath(const QString &path)
{
    QString candidate = QDir::cleanPath(path);
    while (!candidate.isEmpty()) {
        if (QFileInfo(candidate).exists() || QFileInfo(candidate).isSymLink())
            return candidate;
        const QString parent = QFileInfo(candidate).path();
        if (parent == candidate)
            break;
        candidate = parent;
    }
    return QString();
}

QString PMDriveNameRules::kindForPathOrParent(const QString &path)
{
    const QString existing = nearestExistingPath(path);
    return existing.isEmpty() ? QString() : PMFileSystemKind::kindForPath(existing);
}

QString PMDriveNameRules::refusedComponent(const QString &path)
{
    const QString existing = nearestExistingPath(path);
    if (existing.isEmpty())
        return QString();
    const QString kind = PMFileSystemKind::kindForPath(existing);
    if (!restrictsNames(kind))
        return QString();
    const std::optional<platform::MountEntry> mount = platform::MountTable::entryForPath(existing);
    const QString cleaned = QDir::cleanPath(path);
    QString below = cleaned;
    if (mount) {
        const QString mountPoint = mount->mountPoint;
        if (mountPoint == QLatin1String("/"))
            below = cleaned.mid(1);
        else if (cleaned.startsWith(mountPoint + QLatin1Char('/')))
            below = cleaned.mid(mountPoint.size() + 1);
    }
    const QStringList components = below.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &component : components) {
        if (!isNameAllowed(kind, component))
            return component;
    }
    return QString();
}

QString PMDriveNameRules::displayNameOfKind(const QString &fileSystemKind)
{
    if (fileSystemKind == QLatin1String("exfat"))
        return QStringLiteral("exFAT");
    if (isFatKind(fileSystemKind))
        return QStringLiteral("FAT");
    return fileSystemKind;
}
