#include "support/ScriptedShareService.h"

#include <QMutexLocker>

namespace testsupport {

void ScriptedShareService::setShares(const QString &host, const QStringList &shares)
{
    QMutexLocker locker(&m_lock);
    m_listingFails.remove(host);
    m_shares.insert(host, shares);
}

void ScriptedShareService::setListingFails(const QString &host)
{
    QMutexLocker locker(&m_lock);
    m_listingFails.insert(host);
}

void ScriptedShareService::setMountFails(const QString &host, const QString &share)
{
    QMutexLocker locker(&m_lock);
    m_mountFails.insert(host + QLatin1Char('/') + share);
}

void ScriptedShareService::setUnmountFails(const QString &mountPath)
{
    QMutexLocker locker(&m_lock);
    m_unmountFails.insert(mountPath);
}

void ScriptedShareService::addForeignMount(const QString &mountPath, const QString &hostAndShare)
{
    QMutexLocker locker(&m_lock);
    m_mounted.insert(mountPath, hostAndShare);
}

int ScriptedShareService::listingCalls(const QString &host) const
{
    QMutexLocker locker(&m_lock);
    return m_listingCalls.value(host);
}

int ScriptedShareService::mountCalls() const
{
    QMutexLocker locker(&m_lock);
    return m_mountCalls;
}

QStringList ScriptedShareService::mountedPaths() const
{
    QMutexLocker locker(&m_lock);
    QStringList paths = m_mounted.keys();
    paths.sort();
    return paths;
}

QString ScriptedShareService::mountPathFor(const QString &host, const QString &share)
{
    return QStringLiteral("/run/test-gvfs/") + host + QLatin1Char('-') + share;
}

bool ScriptedShareService::listPublicShares(const QString &host, QStringList *shares, QString *errorText)
{
    QMutexLocker locker(&m_lock);
    ++m_listingCalls[host];
    if (m_listingFails.contains(host) || !m_shares.contains(host)) {
        *errorText = QStringLiteral("no answer from ") + host;
        return false;
    }
    *shares = m_shares.value(host);
    return true;
}

bool ScriptedShareService::mountShare(const QString &host, const QString &share, QString *mountPath, QString *errorText)
{
    QMutexLocker locker(&m_lock);
    ++m_mountCalls;
    const QString origin = host + QLatin1Char('/') + share;
    if (m_mountFails.contains(origin) || !m_shares.value(host).contains(share)) {
        *errorText = QStringLiteral("cannot mount ") + origin;
        return false;
    }
    *mountPath = mountPathFor(host, share);
    m_mounted.insert(*mountPath, origin);
    return true;
}

bool ScriptedShareService::unmountShare(const QString &mountPath)
{
    QMutexLocker locker(&m_lock);
    if (m_unmountFails.contains(mountPath))
        return false;
    m_mounted.remove(mountPath);
    return true;
}

QString ScriptedShareService::networkAddress(const QString &mountPath)
{
    QMutexLocker locker(&m_lock);
    return m_mounted.value(mountPath);
}

} // namespace testsupport
