#include "manager/volumes/LUMVolumeBase.h"

#include <QFile>
#include <QFileInfo>

#include <sys/statvfs.h>

LUMVolumeBase::LUMVolumeBase(const platform::VolumeDescription &description)
    : m_daInfo(description)
{
    if (description.volumePath.isEmpty())
        return;
    m_volumePathName = description.volumePath;
    m_volumeURL = QUrl::fromLocalFile(description.volumePath);
    // A file system without a label shows as the folder it is mounted at, as file managers do.
    m_volumeName
        = description.volumeName.isEmpty() ? QFileInfo(description.volumePath).fileName() : description.volumeName;
    m_bsdName = description.bsdName;
}

LUMVolumeBase::~LUMVolumeBase() = default;

bool LUMVolumeBase::readCapacity()
{
    if (m_volumePathName.isEmpty())
        return false;
    struct statvfs info { };
    if (::statvfs(QFile::encodeName(m_volumePathName).constData(), &info) != 0)
        return false;
    m_totalBytes = quint64(info.f_blocks) * info.f_frsize;
    m_freeBytes = quint64(info.f_bavail) * info.f_frsize;
    return true;
}

QString LUMVolumeBase::capacityString()
{
    return {};
}

double LUMVolumeBase::percentInUse()
{
    if (!readCapacity() || m_totalBytes == 0)
        return 0.0;
    return (1.0 - double(m_freeBytes) / double(m_totalBytes)) * 100.0;
}

bool LUMVolumeBase::volumeNameAscending(const LUMVolumeBase &a, const LUMVolumeBase &b)
{
    return a.volumeName() < b.volumeName();
}
