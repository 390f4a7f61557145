#include "manager/volumes/LUMVolumeRemote.h"

#include "manager/volumes/LUMCapacityText.h"
#include "netstorage/PMShareService.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

LUMVolumeRemote::LUMVolumeRemote(const PMNetServicePtr &netservice)
    : m_netservice(netservice)
{
    if (m_netservice)
        m_volumeName = m_netservice->serviceName();
}

void LUMVolumeRemote::setVolumePathName(const QString &path)
{
    m_volumePathName = path;
    m_volumeURL = path.isEmpty() ? QUrl() : QUrl::fromLocalFile(path);
}

bool LUMVolumeRemote::matchMountedPath(PMShareService &shares)
{
    if (!m_netservice || m_volumePathName.isEmpty())
        return false;
    const QStringList parts = shares.networkAddress(m_volumePathName).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    // The host as the device is addressed: its dotted IPv4 address, with the SMB port when the
    // device serves another than the standard one.
    if (parts.size() < 2 || !m_netservice->servesHost(parts.first()))
        return false;
    m_mountedShare = parts.last();
    // GVfs knows a share's name only in lower case; the device's listing has its own spelling.
    for (const QString &listed : m_netservice->publicShares()) {
        if (listed.compare(m_mountedShare, Qt::CaseInsensitive) == 0)
            m_mountedShare = listed;
    }
    m_capacityRead = readCapacity();
    if (m_capacityRead) {
        m_freeBytesN = qint64(m_freeBytes);
        m_totalBytesN = qint64(m_totalBytes);
    }
    return true;
}

QString LUMVolumeRemote::capacityString()
{
    if (m_volumePathName.isEmpty() || !m_capacityRead)
        return QCoreApplication::translate("LUMVolumeRemote", "Unknown");
    return LUMCapacityText::format(m_freeBytes, m_totalBytes);
}

bool LUMVolumeRemote::isValidDestination() const
{
    if (!isMounted() || m_volumePathName.isEmpty())
        return false;
    return QFileInfo(m_volumePathName).isDir() && ::access(QFile::encodeName(m_volumePathName).constData(), W_OK) == 0;
}
