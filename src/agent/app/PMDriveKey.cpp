#include "agent/app/PMDriveKey.h"

#include "platform/MountTable.h"

#include <QDir>

QString PMDriveKey::bsdNameFromSource(const QString &source)
{
    static const QLatin1String devPrefix("/dev/");
    // "/dev/../etc/passwd" is no device.
    const QString clean = QDir::cleanPath(source);
    if (!clean.startsWith(devPrefix) || clean.size() == devPrefix.size())
        return {};
    return clean.mid(devPrefix.size());
}

QString PMDriveKey::keyFor(const QString &bsdName, const QString &mountPath)
{
    return bsdName.isEmpty() ? mountPath : bsdName;
}

QString PMDriveKey::bsdNameForMountPoint(const QString &mountPoint)
{
    if (mountPoint.isEmpty())
        return {};
    const QString wanted = QDir::cleanPath(mountPoint);
    QString name;
    // Mounts stacked on one path: the last one in the table is the one that is visible.
    for (const platform::MountEntry &entry : platform::MountTable::read()) {
        if (entry.mountPoint == wanted)
            name = bsdNameForEntry(entry);
    }
    return name;
}

QString PMDriveKey::forMountPoint(const QString &mountPoint)
{
    if (mountPoint.isEmpty())
        return {};
    return keyFor(bsdNameForMountPoint(mountPoint), QDir::cleanPath(mountPoint));
}
