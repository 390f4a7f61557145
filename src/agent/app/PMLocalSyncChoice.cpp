#include "agent/app/PMLocalSyncChoice.h"

#include "agent/settings/PMUserDefaults.h"
#include "platform/PlatformPaths.h"

#include <QDir>

#include <algorithm>

namespace {

QStringList normalized(const QStringList &items)
{
    QStringList paths;
    paths.reserve(items.size());
    for (const QString &item : items)
        paths.append(QDir::cleanPath(platform::PlatformPaths::expandTilde(item)));
    paths.sort();
    paths.removeDuplicates();
    return paths;
}

} // namespace

PMLocalSyncChoice::PMLocalSyncChoice(PMUserDefaults &defaults)
    : m_defaults(defaults)
{
}

PMLocalSyncChoice::Verdict PMLocalSyncChoice::verdict(
    const QString &device, bool driveParticipates, bool driveContinuous, const QStringList &driveList) const
{
    if (device.isEmpty())
        return Verdict::NoDeviceIdentity;
    if (!driveParticipates || !m_defaults.isDeviceParticipating(device))
        return Verdict::NotChosenHere;
    // Continuous sync never set here follows the drive (a new drive starts with it on).
    if (!driveContinuous || m_defaults.recordedContinuous(device) == false)
        return Verdict::ContinuousDiffers;
    const std::optional<QStringList> chosen = m_defaults.syncListForDevice(device);
    if (!chosen)
        return Verdict::NoRecordedList;
    if (!sameItems(*chosen, driveList))
        return Verdict::ListDiffers;
    return Verdict::Allowed;
}

void PMLocalSyncChoice::recordParticipation(const QString &device, bool on)
{
    if (!device.isEmpty())
        m_defaults.setParticipating(on, device);
}

void PMLocalSyncChoice::recordContinuous(const QString &device, bool on)
{
    if (!device.isEmpty())
        m_defaults.setContinuous(on, device);
}

void PMLocalSyncChoice::recordSyncList(const QString &device, const QStringList &list)
{
    if (!device.isEmpty())
        m_defaults.setSyncList(list, device);
}

bool PMLocalSyncChoice::sameItems(const QStringList &left, const QStringList &right)
{
    return normalized(left) == normalized(right);
}

QString PMLocalSyncChoice::describe(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Allowed:
        return QStringLiteral("chosen on this computer");
    case Verdict::NoDeviceIdentity:
        return QStringLiteral("the drive has no identity to record a choice under");
    case Verdict::NotChosenHere:
        return QStringLiteral("participation was not turned on for it on this computer");
    case Verdict::NoRecordedList:
        return QStringLiteral("no sync list was chosen for it on this computer");
    case Verdict::ListDiffers:
        return QStringLiteral("its sync list differs from the one chosen on this computer");
    case Verdict::ContinuousDiffers:
        return QStringLiteral("continuous sync is off for it on this computer");
    }
    return {};
}
