#include "netstorage/PMNetServiceObject.h"

#include "netstorage/PMReachability.h"
#include "netstorage/PMShareService.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QMutexLocker>
#include <QThread>

#include <algorithm>

Q_LOGGING_CATEGORY(lcNetService, "pellmere.netstorage.service")

PMNetServiceObject::PMNetServiceObject(PMShareService *shareService, PMReachability *reachability, QObject *parent)
    : QObject(parent)
    , m_shareService(shareService)
    , m_reachability(reachability)
{
}

QSharedPointer<PMNetServiceObject> PMNetServiceObject::create(
    PMShareService *shareService, PMReachability *reachability)
{
    return QSharedPointer<PMNetServiceObject>(
        new PMNetServiceObject(shareService, reachability), [](PMNetServiceObject *object) {
            if (object->thread() == QThread::currentThread())
                delete object;
            else
                object->deleteLater();
        });
}

PMNetServiceObject::~PMNetServiceObject()
{
    // Mounts stay: the user may still be using the share.
    QObject::disconnect(m_reachabilityConnection);
}

QSharedPointer<PMNetServiceObject> PMNetServiceObject::copy() const
{
    auto twin = QSharedPointer<PMNetServiceObject>::create(m_shareService, m_reachability);
    QMutexLocker locker(&m_lock);
    twin->m_record = m_record;
    twin->m_txt = m_txt;
    twin->m_smbPort = m_smbPort;
    const QStringList addresses = m_addresses;
    const QString chosen = m_chosenAddress;
    locker.unlock();
    twin->setIp4Addresses(addresses, chosen);
    return twin;
}

int PMNetServiceObject::compare(const PMNetServiceObject &a, const PMNetServiceObject &b)
{
    const QString left = a.serviceName();
    const QString right = b.serviceName();
    if (left.isEmpty() || right.isEmpty())
        return left.isEmpty() == right.isEmpty() ? 0 : (left.isEmpty() ? -1 : 1);
    const int order = left.compare(right, Qt::CaseInsensitive);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

PMServiceRecord PMNetServiceObject::netService() const
{
    QMutexLocker locker(&m_lock);
    return m_record;
}

void PMNetServiceObject::setNetService(const PMServiceRecord &record)
{
    QMutexLocker locker(&m_lock);
    m_record = record;
}

QString PMNetServiceObject::serviceName() const
{
    QMutexLocker locker(&m_lock);
    return m_record.name;
}

void PMNetServiceObject::setServiceName(const QString &name)
{
    QMutexLocker locker(&m_lock);
    m_record.name = name;
}

QMap<QString, QByteArray> PMNetServiceObject::txDictionary() const
{
    QMutexLocker locker(&m_lock);
    return m_txt;
}

void PMNetServiceObject::setTxDictionary(const QMap<QString, QByteArray> &txt)
{
    QMutexLocker locker(&m_lock);
    m_txt = txt;
}

void PMNetServiceObject::setIp4Addresses(const QStringList &all, const QString &chosen)
{
    {
        QMutexLocker locker(&m_lock);
        m_addresses = all;
        m_chosenAddress = chosen;
    }
    stopWatching();
    if (!chosen.isEmpty())
        startWatching();
}

QString PMNetServiceObject::ip4AddressString() const
{
    QMutexLocker locker(&m_lock);
    return m_chosenAddress;
}

QStringList PMNetServiceObject::ip4Addresses() const
{
    QMutexLocker locker(&m_lock);
    return m_addresses;
}

QString PMNetServiceObject::addressesDisplayString() const
{
    QMutexLocker locker(&m_lock);
    return m_addresses.join(QStringLiteral(", "));
}

void PMNetServiceObject::setSmbPort(quint16 port)
{
    QMutexLocker locker(&m_lock);
    m_smbPort = port;
}

QString PMNetServiceObject::shareHost() const
{
    QMutexLocker locker(&m_lock);
    if (m_chosenAddress.isEmpty() || m_smbPort == 0)
        return m_chosenAddress;
    return m_chosenAddress + QLatin1Char(':') + QString::number(m_smbPort);
}

bool PMNetServiceObject::servesHost(const QString &host) const
{
    QMutexLocker locker(&m_lock);
    const QString suffix = m_smbPort == 0 ? QString() : QLatin1Char(':') + QString::number(m_smbPort);
    for (const QString &address : m_addresses)
        if (address + suffix == host)
            return true;
    return false;
}

QStringList PMNetServiceObject::publicShares() const
{
    QMutexLocker locker(&m_lock);
    return m_publicShares;
}

QMap<QString, QString> PMNetServiceObject::mountedShares() const
{
    QMutexLocker locker(&m_lock);
    return m_mountedShares;
}

void PMNetServiceObject::setListingTiming(const PMShareListingTiming &timing)
{
    QMutexLocker locker(&m_lock);
    m_timing = timing;
}

bool PMNetServiceObject::updateSharesListSync(PMShareServiceError *error)
{
    QStringList result;
    const QString host = shareHost();
    const PMShareListingTiming timing = [this] {
        QMutexLocker locker(&m_lock);
        return m_timing;
    }();
    QElapsedTimer started;
    started.start();
    while (result.isEmpty() && std::chrono::milliseconds(started.elapsed()) < timing.timeout && !isStopped()
        && connectionStatus() == Reachable) {
        QStringList shares;
        QString errorText;
        if (!m_shareService->listPublicShares(host, &shares, &errorText))
            qCInfo(lcNetService).noquote() << "listing the shares of" << host << "failed:" << errorText;
        std::sort(shares.begin(), shares.end(), [](const QString &a, const QString &b) { return a.compare(b) < 0; });
        result = shares;
        if (result.isEmpty()) {
            const auto left = timing.timeout - std::chrono::milliseconds(started.elapsed());
            pause(std::min(timing.retryInterval, left));
        }
    }
    {
        QMutexLocker locker(&m_lock);
        m_publicShares = result;
    }
    if (result.isEmpty() && error)
        *error = PMShareServiceError::noPublicShares();
    return !result.isEmpty();
}

bool PMNetServiceObject::mountShareSync(const QString &share, PMShareServiceError *error)
{
    if (share.isEmpty() || !publicShares().contains(share) || isStopped()) {
        if (error)
            *error = PMShareServiceError::shareNotFound();
        return false;
    }
    const QString host = shareHost();
    QString mountPath;
    QString errorText;
    if (!m_shareService->mountShare(host, share, &mountPath, &errorText)) {
        qCWarning(lcNetService).noquote() << "mounting" << share << "of" << host << "failed:" << errorText;
        return false;
    }
    if (!mountPath.isEmpty()) {
        QMutexLocker locker(&m_lock);
        m_mountedShares.insert(share, mountPath);
    }
    return true;
}

bool PMNetServiceObject::unmountShareSync(const QString &share)
{
    QString mountPath;
    {
        QMutexLocker locker(&m_lock);
        if (!m_publicShares.contains(share))
            return true;
        mountPath = m_mountedShares.value(share);
    }
    if (mountPath.isEmpty())
        return true;
    if (!m_shareService->unmountShare(mountPath)) {
        qCWarning(lcNetService).noquote() << "unmounting" << mountPath << "failed";
        return false;
    }
    QMutexLocker locker(&m_lock);
    m_mountedShares.remove(share);
    return true;
}

bool PMNetServiceObject::unmountAllSharesSync()
{
    bool all = true;
    for (const QString &share : publicShares())
        all = unmountShareSync(share) && all;
    return all;
}

void PMNetServiceObject::stop()
{
    m_stopped.store(true);
    stopWatching();
    wakePause();
}

void PMNetServiceObject::refreshReachability()
{
    const QString address = ip4AddressString();
    if (address.isEmpty() || isStopped() || connectionStatus() == NotWatched)
        return;
    setStatus(m_reachability->isReachable(QHostAddress(address)) ? Reachable : NotReachable);
}

void PMNetServiceObject::setStatus(int status)
{
    const int before = m_status.exchange(status);
    wakePause();
    if (status == NotReachable && before != NotReachable) {
        qCInfo(lcNetService).noquote() << serviceName() << "became unreachable";
        Q_EMIT becameUnreachable(this);
    }
}

void PMNetServiceObject::startWatching()
{
    if (isStopped())
        return;
    m_reachabilityConnection
        = connect(m_reachability, &PMReachability::changed, this, &PMNetServiceObject::refreshReachability);
    setStatus(m_reachability->isReachable(QHostAddress(ip4AddressString())) ? Reachable : NotReachable);
}

void PMNetServiceObject::stopWatching()
{
    QObject::disconnect(m_reachabilityConnection);
    setStatus(NotWatched);
}

void PMNetServiceObject::pause(std::chrono::milliseconds delay)
{
    std::unique_lock lock(m_pauseLock);
    m_pauseWake.wait_for(lock, delay, [this] { return isStopped() || connectionStatus() != Reachable; });
}

void PMNetServiceObject::wakePause()
{
    // Taking the lock orders the change before a waiter's next look at it.
    const std::lock_guard lock(m_pauseLock);
    m_pauseWake.notify_all();
}
