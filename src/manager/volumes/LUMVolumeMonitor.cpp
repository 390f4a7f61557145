#include "manager/volumes/LUMVolumeMonitor.h"

#include "manager/log/LUMFileLog.h"
#include "manager/volumes/LUMVolume.h"
#include "platform/MountTable.h"
#include "platform/PlatformPaths.h"
#include "platform/VolumeDescription.h"

#include <algorithm>

LUMVolumeMonitor::LUMVolumeMonitor(
    const platform::VolumeDescriber &describer, const FSNamesAndTags &catalog, QObject *parent)
    : QObject(parent)
    , m_describer(describer)
    , m_catalog(catalog)
{
    connect(&m_monitor, &platform::VolumeMonitor::volumeAppeared, this, &LUMVolumeMonitor::diskAppeared);
    connect(&m_monitor, &platform::VolumeMonitor::volumeDisappeared, this, &LUMVolumeMonitor::diskDisappeared);
    connect(&m_monitor, &platform::VolumeMonitor::volumePathChanged, this, &LUMVolumeMonitor::descriptionChanged);
    connect(&m_monitor, &platform::VolumeMonitor::volumeOptionsChanged, this, &LUMVolumeMonitor::descriptionChanged);
}

LUMVolumeMonitor::~LUMVolumeMonitor() = default;

bool LUMVolumeMonitor::start()
{
    const bool watching = m_monitor.start();
    if (!watching)
        qCWarning(LUMFileLog::category()).noquote()
            << "D - LUMVolumeMonitor(start) - cannot watch the mount table; the list will not follow changes";
    const QList<platform::MountEntry> mounts = watching ? m_monitor.currentMounts() : platform::MountTable::read();
    for (const platform::MountEntry &entry : mounts)
        diskAppeared(entry);
    return watching;
}

void LUMVolumeMonitor::stop()
{
    m_monitor.stop();
}

void LUMVolumeMonitor::refresh()
{
    if (m_monitor.isRunning())
        m_monitor.refresh();
}

void LUMVolumeMonitor::diskAppeared(const platform::MountEntry &entry)
{
    if (rowOfMount(entry.mountId) >= 0)
        return;
    addLocalVolume(entry);
}

void LUMVolumeMonitor::diskDisappeared(const platform::MountEntry &entry)
{
    if (const int row = rowOfMount(entry.mountId); row >= 0)
        removeVolumeAt(row);
}

void LUMVolumeMonitor::descriptionChanged(const platform::MountEntry &before, const platform::MountEntry &after)
{
    if (const int row = rowOfMount(before.mountId); row >= 0)
        removeVolumeAt(row);
    addLocalVolume(after);
}

void LUMVolumeMonitor::addLocalVolume(const platform::MountEntry &entry)
{
    if (!platform::PlatformPaths::isVolumeDirectory(entry.mountPoint))
        return;
    const std::optional<platform::VolumeDescription> description = m_describer.describeVolume(entry.mountPoint);
    if (!description || description->volumePath.isEmpty())
        return;
    // Internal disks, and file systems that are no disk at all (network, virtual), are not
    // drives to sync to.
    if (!description->deviceInternal.has_value() || *description->deviceInternal)
        return;
    auto volume = std::make_shared<LUMVolume>(*description, m_catalog);
    volume->setMountId(entry.mountId);
    if (!volume->isValidDestination()) {
        qCDebug(LUMFileLog::category()).noquote()
            << QStringLiteral("D - Invalid volume: \"%1\". Filesystem is not compatible or has no write permission")
                   .arg(volume->fsName());
        return;
    }
    addVolume(std::move(volume));
}

void LUMVolumeMonitor::addVolume(std::shared_ptr<LUMVolumeBase> volume)
{
    const auto place = std::upper_bound(m_volumes.cbegin(), m_volumes.cend(), volume,
        [](const std::shared_ptr<LUMVolumeBase> &a, const std::shared_ptr<LUMVolumeBase> &b) {
            return LUMVolumeBase::volumeNameAscending(*a, *b);
        });
    const int row = int(place - m_volumes.cbegin());
    Q_EMIT volumeAboutToBeInserted(row);
    m_volumes.insert(row, std::move(volume));
    Q_EMIT volumeInserted(row);
}

void LUMVolumeMonitor::removeVolumeAt(int row)
{
    Q_EMIT volumeAboutToBeRemoved(row);
    m_volumes.removeAt(row);
    Q_EMIT volumeRemoved(row);
}

int LUMVolumeMonitor::rowOfMount(int mountId) const
{
    if (mountId < 0)
        return -1;
    const auto found = std::find_if(m_volumes.cbegin(), m_volumes.cend(),
        [mountId](const std::shared_ptr<LUMVolumeBase> &volume) { return volume->mountId() == mountId; });
    return found == m_volumes.cend() ? -1 : int(found - m_volumes.cbegin());
}
