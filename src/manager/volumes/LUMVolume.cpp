#include "manager/volumes/LUMVolume.h"

#include "manager/log/LUMFileLog.h"
#include "manager/volumes/LUMCapacityText.h"
#include "netstorage/FSNamesAndTags.h"
#include "netstorage/PMFileSystemClassifier.h"
#include "platform/MountTable.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

LUMVolume::LUMVolume(const platform::VolumeDescription &description, const FSNamesAndTags &catalog)
    : LUMVolumeBase(description)
{
    initFSVars(catalog);
    m_validDestination = readMount() && m_fsIsCompatible && m_fsIsWritable;
}

void LUMVolume::initFSVars(const FSNamesAndTags &catalog)
{
    const QString &kind = m_daInfo.volumeKind;
    if (kind.isEmpty() || m_volumePathName.isEmpty())
        return;
    m_fsName = catalog.userFSNameForPersonality(kind);
    m_contentTag = m_daInfo.mediaContent;
    const PMFileSystemClass fileSystem = PMFileSystemClassifier::classify(kind, m_contentTag, catalog);
    m_fsIsCompatible = fileSystem.compatible;
    m_fsIsNTFS = fileSystem.isNTFS;
    // The medium and the mount must both take writes, and so must the mount point for us.
    m_fsIsWritable = m_daInfo.mediaWritable && ::access(QFile::encodeName(m_volumePathName).constData(), W_OK) == 0;
    m_totalBytesN = m_daInfo.mediaSize;
    m_freeBytesN = m_daInfo.volumeAvailableBytes;
}

bool LUMVolume::readMount()
{
    if (m_volumePathName.isEmpty())
        return false;
    const std::optional<platform::MountEntry> entry = platform::MountTable::entryForPath(m_volumePathName);
    // Something else mounted over it, or gone already: the description no longer holds.
    if (!entry || entry->mountPoint != QDir::cleanPath(m_volumePathName))
        return false;
    m_fileSystemType = entry->fsType;
    const QString source = QDir::cleanPath(entry->source);
    m_diskSlice = source.startsWith(QLatin1String("/dev/")) ? source.mid(5) : QString();
    return true;
}

QString LUMVolume::capacityString()
{
    if (!readCapacity())
        return {};
    return LUMCapacityText::format(m_freeBytes, m_totalBytes);
}

QString LUMVolume::fsName() const
{
    if (!m_fsName.isEmpty())
        return m_fsName;
    qCDebug(LUMFileLog::category()).noquote() << "D - LUMVolume(fsName) - fsName no fsName after initFSVars";
    return FSNamesAndTags::unknownFileSystemName();
}
