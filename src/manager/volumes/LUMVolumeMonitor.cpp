#include "manager/volumes/LUMVolumeMonitor.h"

#include "manager/log/LUMFileLog.h"
#include "manager/volumes/LUMNetworkShares.h"
#include "manager/volumes/LUMVolume.h"
#include "manager/volumes/LUMVolumeRemote.h"
#include "netstorage/PMNetServiceMapper.h"
#include "netstorage/PMShareMountWatcher.h"
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

LUMVolumeMonitor::~LUMVolumeMonitor()
{
    if (m_mapper) {
        // An announcement being handled on the mapping thread uses this object: let it end.
        disconnect(m_mapper, nullptr, this, nullptr);
        m_mapper->waitForQueuedWork();
    }
}

void LUMVolumeMonitor::setNetworkShares(LUMNetworkShares *network)
{
    m_network = network;
    if (network)
        followShareMapper(&network->mapper(), &network->shareService());
}

void LUMVolumeMonitor::followShareMapper(PMNetServiceMapper *mapper, PMShareService *shares)
{
    if (m_mapper)
        disconnect(m_mapper, nullptr, this, nullptr);
    m_mapper = mapper;
    m_shares = shares;
    if (!mapper || !shares)
        return;
    // Taken on the mapping thread, which may block on the share; the list changes on ours.
    connect(mapper, &PMNetServiceMapper::netServiceMapped, this, &LUMVolumeMonitor::shareMapped, Qt::DirectConnection);
    connect(
        mapper, &PMNetServiceMapper::netServiceUnmapped, this,
        [this](const QString &mountPath, const PMNetServicePtr &) { shareUnmapped(mountPath); }, Qt::QueuedConnection);
}

bool LUMVolumeMonitor::start()
{
    if (m_network)
        m_network->start();
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
    if (m_network)
        m_network->stop();
}

void LUMVolumeMonitor::refresh()
{
    if (m_monitor.isRunning())
        m_monitor.refresh();
}

void LUMVolumeMonitor::diskAppeared(const platform::MountEntry &entry)
{
    if (m_network)
        m_network->mountWatcher().mountAppeared(entry);
    if (rowOfMount(entry.mountId) >= 0)
        return;
    addLocalVolume(entry);
}

void LUMVolumeMonitor::diskDisappeared(const platform::MountEntry &entry)
{
    if (const int row = rowOfMount(entry.mountId); row >= 0)
        removeVolumeAt(row);
    if (m_network)
        m_network->mountWatcher().mountDisappeared(entry);
}

void LUMVolumeMonitor::descriptionChanged(const platform::MountEntry &before, const platform::MountEntry &after)
{
    if (const int row = rowOfMount(before.mountId); row >= 0)
        removeVolumeAt(row);
    addLocalVolume(after);
    // A moved SMB mount is a share at another path.
    if (m_network && before.mountPoint != after.mountPoint) {
        m_network->mountWatcher().mountDisappeared(before);
        m_network->mountWatcher().mountAppeared(after);
    }
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

int LUMVolumeMonitor::rowOfPath(const QString &path) const
{
    const auto found = std::find_if(m_volumes.cbegin(), m_volumes.cend(),
        [&path](const std::shared_ptr<LUMVolumeBase> &volume) { return volume->volumePathName() == path; });
    return found == m_volumes.cend() ? -1 : int(found - m_volumes.cbegin());
}

void LUMVolumeMonitor::shareMapped(const QString &mountPath, const PMNetServicePtr &service)
{
    if (!service || mountPath.isEmpty())
        return;
    auto volume = std::make_shared<LUMVolumeRemote>(service);
    volume->setVolumePathName(mountPath);
    if (!volume->matchMountedPath(*m_shares))
        qCDebug(LUMFileLog::category()).noquote()
            << QStringLiteral("D - LUMVolumeRemote(matchMountedPath) - %1 is not a share of %2")
                   .arg(mountPath, service->serviceName());
    QMetaObject::invokeMethod(
        this, [this, volume = std::move(volume)]() mutable { addRemoteVolume(std::move(volume)); },
        Qt::QueuedConnection);
}

void LUMVolumeMonitor::addRemoteVolume(std::shared_ptr<LUMVolumeBase> volume)
{
    // Mapped again (the device came back, or a mount was announced twice): listed once.
    if (rowOfPath(volume->volumePathName()) >= 0)
        return;
    volume->setMounted(true);
    addVolume(std::move(volume));
    Q_EMIT triggerUpdate();
}

void LUMVolumeMonitor::shareUnmapped(const QString &mountPath)
{
    for (int row = int(m_volumes.size()) - 1; row >= 0; --row) {
        auto *remote = dynamic_cast<LUMVolumeRemote *>(m_volumes.at(row).get());
        if (!remote || remote->volumePathName() != mountPath)
            continue;
        remote->setVolumePathName(QString());
        remote->setMounted(false);
        removeVolumeAt(row);
    }
    Q_EMIT triggerUpdate();
}
