#include "netstorage/PMNetServiceMapper.h"

#include "netstorage/PMBonjourDiscoveryManager.h"
#include "netstorage/PMShareService.h"
#include "platform/MountTable.h"
#include "platform/NetworkAddressWatcher.h"

#include <QLoggingCategory>
#include <QMutexLocker>

Q_LOGGING_CATEGORY(lcMapper, "pellmere.netstorage.mapper")

namespace {

QStringList mountPointsOfTheSystem()
{
    QStringList paths;
    for (const platform::MountEntry &entry : platform::MountTable::read())
        paths.append(entry.mountPoint);
    return paths;
}

} // namespace

PMNetServiceMapper::PMNetServiceMapper(PMShareService *shareService, QObject *parent)
    : QObject(parent)
    , m_shareService(shareService)
    , m_mountedVolumes(&mountPointsOfTheSystem)
    , m_mappingContext(new QObject)
{
    qRegisterMetaType<PMNetServicePtr>();
    qRegisterMetaType<PMShareServiceError>();
    m_resetDelayTimer.setSingleShot(true);
    connect(&m_resetDelayTimer, &QTimer::timeout, this, &PMNetServiceMapper::resetDelay);
    m_pool.setMaxThreadCount(4);
    m_mappingThread.setObjectName(QStringLiteral("com.Corvane.mountedsharesqueue"));
    m_mappingContext->moveToThread(&m_mappingThread);
    connect(&m_mappingThread, &QThread::finished, m_mappingContext, &QObject::deleteLater);
    m_mappingThread.start();
}

PMNetServiceMapper::~PMNetServiceMapper()
{
    for (const PMNetServicePtr &service : services())
        service->stop();
    m_pool.waitForDone();
    m_mappingThread.quit();
    m_mappingThread.wait();
}

void PMNetServiceMapper::attachDiscovery(PMBonjourDiscoveryManager *discovery)
{
    {
        QMutexLocker locker(&m_lock);
        m_services = discovery->identifiedServices();
    }
    connect(discovery, &PMBonjourDiscoveryManager::netServiceAppeared, this, &PMNetServiceMapper::netServiceAppeared);
    connect(
        discovery, &PMBonjourDiscoveryManager::netServiceDisappeared, this, &PMNetServiceMapper::netServiceDisappeared);
}

bool PMNetServiceMapper::watchNetworkChanges()
{
    if (m_networkWatcher)
        return true;
    auto watcher = std::make_unique<platform::NetworkAddressWatcher>();
    if (!watcher->start()) {
        qCWarning(lcMapper) << "network changes are not watched; shares are mounted without waiting after them";
        return false;
    }
    connect(watcher.get(), &platform::NetworkAddressWatcher::addressesChanged, this,
        &PMNetServiceMapper::networkConfigurationChanged);
    m_networkWatcher = std::move(watcher);
    return true;
}

void PMNetServiceMapper::setMountedVolumesSource(std::function<QStringList()> source)
{
    onMappingThread([this, source = std::move(source)] { m_mountedVolumes = source; });
}

QMap<QString, PMNetServicePtr> PMNetServiceMapper::mappedServices() const
{
    QMutexLocker locker(&m_lock);
    return m_mappings;
}

QList<PMNetServicePtr> PMNetServiceMapper::services() const
{
    QMutexLocker locker(&m_lock);
    return m_services;
}

bool PMNetServiceMapper::isMappedSharePath(const QString &mountPath) const
{
    QMutexLocker locker(&m_lock);
    return m_mappings.contains(mountPath);
}

void PMNetServiceMapper::mapMountPoint(const QString &mountPath)
{
    if (!mountPath.isEmpty())
        onMappingThread([this, mountPath] { mapPath(mountPath); });
}

void PMNetServiceMapper::unmapMountPoint(const QString &mountPath)
{
    if (!mountPath.isEmpty())
        onMappingThread([this, mountPath] { unmapPath(mountPath); });
}

void PMNetServiceMapper::mountAllSharesOfNetService(const PMNetServicePtr &service)
{
    if (!service)
        return;
    m_pool.start([this, service] { mountAllShares(service); });
}

void PMNetServiceMapper::waitForQueuedWork()
{
    QMetaObject::invokeMethod(
        m_mappingContext, [] {}, Qt::BlockingQueuedConnection);
}

void PMNetServiceMapper::setDelay()
{
    m_delay = m_changeDelay;
    m_resetDelayTimer.start(m_changeDelay);
}

void PMNetServiceMapper::resetDelay()
{
    m_delay = std::chrono::milliseconds(0);
}

void PMNetServiceMapper::networkConfigurationChanged()
{
    qCInfo(lcMapper) << "IP Configuration changed";
    setDelay();
}

void PMNetServiceMapper::netServiceAppeared(const PMNetServicePtr &service)
{
    if (!service)
        return;
    {
        QMutexLocker locker(&m_lock);
        if (!m_services.contains(service))
            m_services.append(service);
    }
    if (!autoMount()) {
        m_pool.start([this, service] {
            if (service->updateSharesListSync(nullptr))
                onMappingThread([this, service] { mapService(service); });
        });
        return;
    }
    if (m_delay.count() == 0) {
        mountAllSharesOfNetService(service);
        return;
    }
    qCInfo(lcMapper).noquote() << "mounting the shares of" << service->serviceName() << "in" << m_delay.count()
                               << "ms, after the network settled";
    QTimer::singleShot(m_delay, this, [this, service] { mountAllSharesOfNetService(service); });
}

void PMNetServiceMapper::netServiceDisappeared(const PMNetServicePtr &service)
{
    if (!service)
        return;
    QStringList gone;
    {
        QMutexLocker locker(&m_lock);
        m_services.removeAll(service);
        for (auto it = m_mappings.begin(); it != m_mappings.end();) {
            if (it.value() == service) {
                gone.append(it.key());
                it = m_mappings.erase(it);
            } else {
                ++it;
            }
        }
    }
    if (!gone.isEmpty())
        service->stop();
    for (const QString &path : gone) {
        qCInfo(lcMapper).noquote() << "unmapped" << path << ": its device went away";
        Q_EMIT netServiceUnmapped(path, PMNetServicePtr());
    }
}

void PMNetServiceMapper::onMappingThread(std::function<void()> work)
{
    QMetaObject::invokeMethod(m_mappingContext, std::move(work), Qt::QueuedConnection);
}

void PMNetServiceMapper::mountAllShares(const PMNetServicePtr &service)
{
    PMShareServiceError error;
    if (!service->updateSharesListSync(&error)) {
        qCWarning(lcMapper).noquote() << "no shares to mount on" << service->serviceName() << ":" << error.message;
        Q_EMIT netServiceFailedToListShares(error, service);
        return;
    }
    for (const QString &share : service->publicShares())
        service->mountShareSync(share, nullptr); // a share that will not mount leaves the others
    onMappingThread([this, service] { mapService(service); });
}

// GVfs writes the share's name in lower case, and SMB share names are case-insensitive: a
// share listed as "Public" is mounted as "public".
bool PMNetServiceMapper::originOf(const QString &mountPath, QString *host, QString *share) const
{
    const QString address = m_shareService->networkAddress(mountPath);
    const QStringList parts = address.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.size() < 2)
        return false;
    *host = parts.first();
    *share = parts.last();
    return true;
}

void PMNetServiceMapper::mapService(const PMNetServicePtr &service)
{
    const QStringList shares = service->publicShares();
    for (const QString &path : m_mountedVolumes()) {
        QString host;
        QString share;
        if (!originOf(path, &host, &share) || !service->servesHost(host)
            || !shares.contains(share, Qt::CaseInsensitive))
            continue;
        {
            QMutexLocker locker(&m_lock);
            if (m_mappings.value(path) == service)
                continue;
            m_mappings.insert(path, service);
        }
        qCInfo(lcMapper).noquote() << "mapped" << path << "to" << service->serviceName();
        Q_EMIT netServiceMapped(path, service);
    }
}

void PMNetServiceMapper::mapPath(const QString &mountPath)
{
    if (isMappedSharePath(mountPath))
        return;
    QString host;
    QString share;
    if (!originOf(mountPath, &host, &share))
        return;
    for (const PMNetServicePtr &service : services()) {
        if (!service->servesHost(host))
            continue;
        if (!autoMount() && service->publicShares().isEmpty())
            service->updateSharesListSync(nullptr);
        if (!service->publicShares().contains(share, Qt::CaseInsensitive))
            continue;
        {
            QMutexLocker locker(&m_lock);
            m_mappings.insert(mountPath, service);
        }
        qCInfo(lcMapper).noquote() << "mapped" << mountPath << "to" << service->serviceName();
        Q_EMIT netServiceMapped(mountPath, service);
        return;
    }
}

void PMNetServiceMapper::unmapPath(const QString &mountPath)
{
    PMNetServicePtr service;
    {
        QMutexLocker locker(&m_lock);
        service = m_mappings.take(mountPath);
    }
    if (!service)
        return;
    qCInfo(lcMapper).noquote() << "unmapped" << mountPath;
    Q_EMIT netServiceUnmapped(mountPath, service);
}
