#include "agent/app/PMNetworkStorage.h"

#include "agent/log/PMAgentLog.h"
#include "netstorage/PMBonjourDiscoveryManager.h"
#include "netstorage/PMNetServiceMapper.h"
#include "netstorage/PMReachability.h"
#include "netstorage/PMShareServiceError.h"
#include "netstorage/PMSmbShareService.h"
#include "platform/MountTable.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

PMNetworkStorage::PMNetworkStorage(Options options, QObject *parent)
    : PMNetworkStorage(std::make_unique<PMSmbShareService>(), std::make_unique<PMLocalReachability>(), nullptr, nullptr,
        options, parent)
{
}

PMNetworkStorage::PMNetworkStorage(
    PMShareService *shareService, PMReachability *reachability, Options options, QObject *parent)
    : PMNetworkStorage(nullptr, nullptr, shareService, reachability, options, parent)
{
}

PMNetworkStorage::PMNetworkStorage(std::unique_ptr<PMSmbShareService> shareService,
    std::unique_ptr<PMLocalReachability> reachability, PMShareService *usedShareService,
    PMReachability *usedReachability, Options options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_ownShareService(std::move(shareService))
    , m_ownReachability(std::move(reachability))
    , m_shareService(m_ownShareService ? m_ownShareService.get() : usedShareService)
    , m_reachability(m_ownReachability ? m_ownReachability.get() : usedReachability)
    , m_discovery(std::make_unique<PMBonjourDiscoveryManager>(m_shareService, m_reachability))
    , m_mapper(std::make_unique<PMNetServiceMapper>(m_shareService))
{
    m_checkPool.setMaxThreadCount(1);
    connect(&m_gvfsCheck, &QTimer::timeout, this, &PMNetworkStorage::checkGvfsShares);
    // Before the mapper sees a device: its port is needed for the first listing.
    connect(m_discovery.get(), &PMBonjourDiscoveryManager::netServiceAppeared, this, &PMNetworkStorage::deviceAppeared);
    m_mapper->attachDiscovery(m_discovery.get());
    m_mapper->setAutoMount(true);
    m_mapper->setMountedVolumesSource([this] { return mountedVolumes(); });

    // The mapping signals come from the mapper's threads; the agent takes them on its own.
    connect(
        m_mapper.get(), &PMNetServiceMapper::netServiceMapped, this,
        [this](const QString &mountPath, const PMNetServicePtr &service) {
            if (!service)
                return;
            const QStringList parts
                = m_shareService->networkAddress(mountPath).split(QLatin1Char('/'), Qt::SkipEmptyParts);
            const QString share = parts.isEmpty() ? QDir(mountPath).dirName() : parts.last();
            const QString identity = shareIdentity(service->serviceName(), share);
            QMetaObject::invokeMethod(
                this,
                [this, mountPath, share, identity, service] {
                    // Devices found by discovery and devices given to the mapper alike.
                    watchReachability(service);
                    m_mappedShareNames.insert(mountPath, share);
                    Q_EMIT shareMapped(mountPath, identity);
                },
                Qt::QueuedConnection);
        },
        Qt::DirectConnection);
    connect(
        m_mapper.get(), &PMNetServiceMapper::netServiceUnmapped, this,
        [this](const QString &mountPath, const PMNetServicePtr &) {
            m_mappedShareNames.remove(mountPath);
            Q_EMIT shareUnmapped(mountPath);
        },
        Qt::QueuedConnection);
    connect(
        m_mapper.get(), &PMNetServiceMapper::netServiceFailedToListShares, this,
        [this](const PMShareServiceError &error, const PMNetServicePtr &service) {
            Q_EMIT failedToListShares(service, error.message);
        },
        Qt::QueuedConnection);
}

PMNetworkStorage::~PMNetworkStorage()
{
    m_gvfsCheck.stop();
    m_checkPool.waitForDone();
    // The mapper stops the devices it knows before discovery lets go of them.
    m_mapper.reset();
    m_discovery.reset();
}

void PMNetworkStorage::start()
{
    if (m_ownReachability && !m_ownReachability->start())
        PMAgentLog::logMessage(
            QStringLiteral("Network changes are not watched; network drives may be reported reachable late."));
    m_mapper->watchNetworkChanges();
    if (m_ownShareService)
        m_gvfsCheck.start(kGvfsCheckInterval);
    // Without the Avahi daemon or the system bus discovery logs it and waits for them.
    m_discovery->startListening();
    PMAgentLog::debugMessage(
        QStringLiteral("Network storage: looking for devices (%1).")
            .arg(m_discovery->isBrowsing() ? QStringLiteral("browsing") : QStringLiteral("waiting for Avahi")));
}

QString PMNetworkStorage::shareIdentity(const QString &serviceName, const QString &share)
{
    return QStringLiteral("smb-share:%1/%2").arg(serviceName, share.toLower());
}

QList<PMNetworkStorage::Device> PMNetworkStorage::devices() const
{
    QList<PMNetServicePtr> services = m_discovery->identifiedServices();
    std::sort(services.begin(), services.end(),
        [](const PMNetServicePtr &a, const PMNetServicePtr &b) { return PMNetServiceObject::compare(*a, *b) < 0; });
    const QMap<QString, PMNetServicePtr> mappings = m_mapper->mappedServices();
    QList<Device> devices;
    for (const PMNetServicePtr &service : services) {
        Device device;
        device.name = service->serviceName();
        device.address = service->ip4AddressString();
        device.model = QString::fromUtf8(service->txDictionary().value(PMBonjourDiscoveryManager::kTxtKeyModel));
        for (const QString &name : service->publicShares()) {
            Share share { name, QString() };
            for (auto it = mappings.begin(); it != mappings.end(); ++it) {
                if (it.value() == service && m_mappedShareNames.value(it.key()).compare(name, Qt::CaseInsensitive) == 0)
                    share.mountPath = it.key();
            }
            device.shares.append(share);
        }
        devices.append(device);
    }
    return devices;
}

void PMNetworkStorage::retryMounting(const PMNetServicePtr &service)
{
    m_mapper->mountAllSharesOfNetService(service);
}

void PMNetworkStorage::deviceAppeared(const PMNetServicePtr &service)
{
    if (!service)
        return;
    if (m_options.smbPort != 0)
        service->setSmbPort(m_options.smbPort);
    PMAgentLog::logMessage(QStringLiteral("Network device \"%1\" found at %2.")
                               .arg(service->serviceName(), service->addressesDisplayString()));
    watchReachability(service);
}

void PMNetworkStorage::watchReachability(const PMNetServicePtr &service)
{
    connect(service.get(), &PMNetServiceObject::becameUnreachable, this, &PMNetworkStorage::deviceBecameUnreachable,
        Qt::UniqueConnection);
}

void PMNetworkStorage::deviceBecameUnreachable(PMNetServiceObject *service)
{
    const QMap<QString, PMNetServicePtr> mappings = m_mapper->mappedServices();
    for (auto it = mappings.begin(); it != mappings.end(); ++it) {
        if (it.value().get() == service)
            Q_EMIT shareUnreachable(it.key());
    }
}

void PMNetworkStorage::checkGvfsShares()
{
    // A check still waiting on gvfsd-fuse is enough.
    if (m_checkPool.activeThreadCount() > 0)
        return;
    const QString folder = QDir::cleanPath(m_ownShareService->gvfsFolder());
    QStringList mapped;
    for (const QString &path : m_mapper->mappedServices().keys()) {
        if (QDir::cleanPath(QFileInfo(path).absolutePath()) == folder)
            mapped.append(path);
    }
    if (mapped.isEmpty())
        return;
    PMNetServiceMapper *mapper = m_mapper.get();
    m_checkPool.start([folder, mapped, mapper] {
        const QStringList shown = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
        for (const QString &path : mapped) {
            if (!shown.contains(QFileInfo(path).fileName())) {
                PMAgentLog::logMessage(QStringLiteral("The share at %1 was unmounted.").arg(path));
                mapper->unmapMountPoint(path);
            }
        }
    });
}

QStringList PMNetworkStorage::mountedVolumes() const
{
    QStringList paths;
    for (const platform::MountEntry &entry : platform::MountTable::read())
        paths.append(entry.mountPoint);
    if (!m_ownShareService)
        return paths;
    // GVfs shows every share as a folder of its one FUSE mount, not as a mount of its own.
    const QDir gvfs(m_ownShareService->gvfsFolder());
    for (const QString &name : gvfs.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden))
        paths.append(gvfs.filePath(name));
    return paths;
}
