#include "manager/volumes/LUMNetworkShares.h"

#include "manager/log/LUMFileLog.h"
#include "netstorage/PMBonjourDiscoveryManager.h"
#include "netstorage/PMNetServiceMapper.h"
#include "netstorage/PMReachability.h"
#include "netstorage/PMShareMountWatcher.h"

LUMNetworkShares::LUMNetworkShares(PMShareService &shares, Options options, QObject *parent)
    : QObject(parent)
    , m_shares(shares)
    , m_options(std::move(options))
    , m_reachability(std::make_unique<PMLocalReachability>())
    , m_discovery(std::make_unique<PMBonjourDiscoveryManager>(&m_shares, m_reachability.get()))
    , m_mapper(std::make_unique<PMNetServiceMapper>(&m_shares))
    , m_watcher(std::make_unique<PMShareMountWatcher>(m_options.gvfsFolder))
{
    // Before the mapper sees a device: its port is needed for the first listing.
    if (m_options.smbPort != 0) {
        connect(m_discovery.get(), &PMBonjourDiscoveryManager::netServiceAppeared, this,
            [port = m_options.smbPort](const PMNetServicePtr &service) {
                if (service)
                    service->setSmbPort(port);
            });
    }
    m_mapper->attachDiscovery(m_discovery.get());
    // Mounting is the agent's: the manager's mapper lists a device's shares and maps those
    // mounted already.
    m_mapper->setAutoMount(false);
    m_mapper->setMountedVolumesSource([watcher = m_watcher.get()] { return watcher->mountedVolumes(); });
    connect(m_watcher.get(), &PMShareMountWatcher::shareMounted, m_mapper.get(), &PMNetServiceMapper::mapMountPoint);
    connect(
        m_watcher.get(), &PMShareMountWatcher::shareUnmounted, m_mapper.get(), &PMNetServiceMapper::unmapMountPoint);
}

LUMNetworkShares::~LUMNetworkShares()
{
    m_watcher.reset();
    // The mapper stops the devices it knows before discovery lets go of them.
    m_mapper.reset();
    m_discovery.reset();
}

void LUMNetworkShares::start()
{
    if (!m_reachabilityStarted) {
        m_reachabilityStarted = true;
        if (!m_reachability->start())
            qCWarning(LUMFileLog::category()).noquote()
                << "D - LUMNetworkShares(start) - network changes are not watched";
    }
    m_watcher->start();
    m_discovery->startListening();
    qCDebug(LUMFileLog::category()).noquote()
        << QStringLiteral("D - LUMNetworkShares(start) - looking for network storage devices (%1)")
               .arg(m_discovery->isBrowsing() ? QStringLiteral("browsing") : QStringLiteral("waiting for Avahi"));
}

void LUMNetworkShares::stop()
{
    m_watcher->stop();
    m_discovery->stopListening();
}
