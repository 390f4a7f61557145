#include "agent/sync/PMDriveQualifier.h"

#include "agent/log/PMAgentLog.h"
#include "agent/settings/PMConfigurationBatch.h"
#include "agent/settings/PMConfigurationFile.h"
#include "agent/settings/PMUserDefaults.h"
#include "netstorage/FSNamesAndTags.h"
#include "netstorage/PMFileSystemClassifier.h"
#include "netstorage/PMMappedShareSet.h"
#include "platform/VolumeDescription.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>

#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>

Q_LOGGING_CATEGORY(lcDriveQualifier, "pellmere.sync")

namespace {

// The volume's root, as the mount table spells it.
QString cleanMountPath(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

// statvfs of the mount point; on failure the debug line names the operation.
bool canExamine(const QString &mountPoint, const char *operation)
{
    struct statvfs info = {};
    if (statvfs(QFile::encodeName(mountPoint).constData(), &info) == 0)
        return true;
    const int error = errno;
    PMAgentLog::debugMessage(QStringLiteral("-%1: cannot get statfs information about \"%2\" (%3, %4)")
                                 .arg(QLatin1String(operation), mountPoint)
                                 .arg(error)
                                 .arg(QString::fromLocal8Bit(std::strerror(error))));
    return false;
}

std::atomic<const PMMappedShareSet *> s_systemMappedShares { nullptr };

// Asks whichever set the agent installed at the time of the question.
class SystemMappedShares : public PMMappedShareSet {
public:
    bool isMappedSharePath(const QString &mountPath) const override
    {
        const PMMappedShareSet *shares = s_systemMappedShares.load();
        return shares && shares->isMappedSharePath(mountPath);
    }
};

} // namespace

void PMDriveQualifier::setSystemMappedShares(const PMMappedShareSet *shares)
{
    s_systemMappedShares.store(shares);
}

PMDriveQualifier::Services PMDriveQualifier::systemServices()
{
    static const std::unique_ptr<platform::VolumeDescriber> describer = platform::VolumeDescriber::create();
    static const SystemMappedShares mappedShares;
    Services services;
    services.describer = describer.get();
    services.catalog = &FSNamesAndTags::sharedManager();
    services.mappedShares = &mappedShares;
    services.addSeenDevice = [](const QString &uuid) { PMUserDefaults::sharedInstance().addSeenDevice(uuid); };
    return services;
}

PMDriveQualifier::PMDriveQualifier(
    const QString &mountPoint, const QString &uuid, PMConfigurationFile &config, Services services)
    : m_mountPoint(mountPoint)
    , m_uuid(uuid)
    , m_config(config)
    , m_services(std::move(services))
{
}

bool PMDriveQualifier::isValidDevice() const
{
    if (!canExamine(m_mountPoint, "isValidDevice"))
        return false;
    const std::optional<platform::VolumeDescription> volume = m_services.describer->describeVolume(m_mountPoint);
    if (!volume) {
        PMAgentLog::debugMessage(QStringLiteral("-isValidDevice: no volume holds \"%1\"").arg(m_mountPoint));
        return false;
    }
    PMAgentLog::debugMessage(
        QStringLiteral("-isValidDevice: f_mntonname=%1 f_mntfromname=%2").arg(volume->volumePath, volume->mountSource));
    if (m_services.mappedShares->isMappedSharePath(m_mountPoint))
        return true;
    // Only a whole volume can be a drive; a folder inside one (the system disk) cannot.
    if (cleanMountPath(m_mountPoint) != volume->volumePath)
        return false;
    return !volume->bsdName.isEmpty();
}

bool PMDriveQualifier::isValidFileSystem()
{
    if (!canExamine(m_mountPoint, "isValidFileSystem"))
        return false;
    const std::optional<platform::VolumeDescription> volume = m_services.describer->describeVolume(m_mountPoint);
    if (!volume)
        return false;
    {
        std::lock_guard lock(m_mutex);
        m_fileSystemType = volume->mountType;
        m_diskSlice
            = volume->mountSource.startsWith(QLatin1String("/dev/")) ? volume->mountSource.mid(5) : volume->mountSource;
    }
    if (!fsIsCompatible() || !fsIsWritable())
        return false;
    PMAgentLog::debugMessage(
        QStringLiteral("-isValidFileSystem: file system check passed for \"%1\".").arg(m_mountPoint));
    return true;
}

bool PMDriveQualifier::syncIsEnabledForThisDevice()
{
    if (m_config.hasSyncConfiguration()) {
        const bool participating = m_config.isParticipatingEnabledForUser();
        if (participating)
            m_config.addUserToList();
        return participating;
    }
    if (m_config.hasOldSyncFormat()) {
        const bool converted = m_config.convertOldSync();
        PMConfigurationBatch batch(m_config);
        if (converted)
            m_config.addUserToList();
        m_config.setParticipatingEnabledForUser(converted);
        m_config.setContinuousEnabledForUser(true);
        m_config.setQuietEnabledForUser(true);
        return converted;
    }
    // A drive never set up: register this user with syncing off until the user turns it on.
    QString uuid = m_uuid;
    if (uuid.isEmpty())
        uuid = QStringLiteral("1-1-1");
    else
        qCInfo(lcDriveQualifier).noquote() << "_deviceUUIDString =" << uuid;
    if (m_services.addSeenDevice)
        m_services.addSeenDevice(uuid);
    PMConfigurationBatch batch(m_config);
    m_config.addUserToList();
    m_config.createDefaultSyncSet();
    m_config.setParticipatingEnabledForUser(false);
    m_config.setContinuousEnabledForUser(true);
    m_config.setQuietEnabledForUser(true);
    return false;
}

bool PMDriveQualifier::hasUserSeenThisDevice() const
{
    return m_config.hasUserSeenDevice();
}

void PMDriveQualifier::initFSVars()
{
    std::lock_guard lock(m_mutex);
    initFSVarsLocked();
}

void PMDriveQualifier::initFSVarsLocked()
{
    m_fsIsCompatible = false;
    m_fsIsNTFS = false;
    m_fsLimit4G = false;
    const std::optional<platform::VolumeDescription> volume = m_services.describer->describeVolume(m_mountPoint);
    if (!volume) {
        PMAgentLog::debugMessage(QStringLiteral("initFSVars: no description of \"%1\"").arg(m_mountPoint));
        return;
    }
    if (volume->volumeNetwork || m_services.mappedShares->isMappedSharePath(m_mountPoint)) {
        m_fsIsWritable = access(QFile::encodeName(m_mountPoint).constData(), W_OK) == 0;
        m_fsIsCompatible = true;
        m_fsName = volume->volumeName.isEmpty() ? QFileInfo(m_mountPoint).fileName() : volume->volumeName;
        m_contentTag = m_mountPoint;
        // A share has no medium; its capacity is the file system's.
        m_totalBytes = volume->volumeTotalBytes;
        m_freeBytes = volume->volumeAvailableBytes;
        return;
    }
    m_fsName = m_services.catalog->userFSNameForPersonality(volume->volumeKind);
    m_contentTag = volume->mediaContent;
    const PMFileSystemClass fileSystem
        = PMFileSystemClassifier::classify(volume->volumeKind, volume->mediaContent, *m_services.catalog);
    m_fsIsCompatible = fileSystem.compatible;
    m_fsIsNTFS = fileSystem.isNTFS;
    m_fsLimit4G = fileSystem.limit4G;
    m_fsIsWritable = volume->mediaWritable;
    // A FUSE volume whose medium could not be found has only the file system's size.
    m_totalBytes = volume->mediaSize > 0 ? volume->mediaSize : volume->volumeTotalBytes;
    m_freeBytes = volume->volumeAvailableBytes;
}

void PMDriveQualifier::ensureFactsLocked()
{
    if (!m_contentTag)
        initFSVarsLocked();
}

QString PMDriveQualifier::fsName()
{
    std::lock_guard lock(m_mutex);
    ensureFactsLocked();
    if (!m_fsName || m_fsName->isEmpty()) {
        qCWarning(lcDriveQualifier) << "fsName no fsName after initFSVars";
        return FSNamesAndTags::unknownFileSystemName();
    }
    return *m_fsName;
}

bool PMDriveQualifier::fsIsCompatible()
{
    std::lock_guard lock(m_mutex);
    ensureFactsLocked();
    return m_fsIsCompatible;
}

bool PMDriveQualifier::fsIsNTFS()
{
    std::lock_guard lock(m_mutex);
    ensureFactsLocked();
    return m_fsIsNTFS;
}

bool PMDriveQualifier::fsLimit4G()
{
    std::lock_guard lock(m_mutex);
    ensureFactsLocked();
    return m_fsLimit4G;
}

qint64 PMDriveQualifier::totalBytes()
{
    std::lock_guard lock(m_mutex);
    if (!m_totalBytes)
        initFSVarsLocked();
    return m_totalBytes.value_or(0);
}

qint64 PMDriveQualifier::freeBytes()
{
    std::lock_guard lock(m_mutex);
    if (!m_freeBytes)
        initFSVarsLocked();
    return m_freeBytes.value_or(0);
}

bool PMDriveQualifier::fsIsWritable() const
{
    std::lock_guard lock(m_mutex);
    return m_fsIsWritable;
}

QString PMDriveQualifier::contentTag() const
{
    std::lock_guard lock(m_mutex);
    return m_contentTag.value_or(QString());
}

QString PMDriveQualifier::fileSystemType() const
{
    std::lock_guard lock(m_mutex);
    return m_fileSystemType;
}

QString PMDriveQualifier::diskSlice() const
{
    std::lock_guard lock(m_mutex);
    return m_diskSlice;
}

QString PMDriveQualifier::volumeName() const
{
    const QString slice = diskSlice();
    if (slice.isEmpty())
        return QString();
    for (const platform::MountEntry &entry : m_services.describer->mountedVolumes()) {
        if (!entry.source.startsWith(QLatin1String("/dev/")) || entry.source.mid(5) != slice)
            continue;
        const std::optional<platform::VolumeDescription> volume
            = m_services.describer->describeVolume(entry.mountPoint);
        if (volume && !volume->volumeName.isEmpty())
            return volume->volumeName;
        const QString folderName = QFileInfo(entry.mountPoint).fileName();
        return folderName.isEmpty() ? entry.mountPoint : folderName;
    }
    return QString();
}

qint64 PMDriveQualifier::parseDiskSize(const QString &text)
{
    static const QRegularExpression number(
        QStringLiteral(R"(^\s*([+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?)\s*(\S*))"));
    const QRegularExpressionMatch match = number.match(text);
    if (!match.hasMatch())
        return 0;
    // Tenths, so one decimal survives the integer arithmetic; out-of-range values saturate.
    const double tenths = match.captured(1).toDouble() * 10.0;
    constexpr qint64 maximum = std::numeric_limits<qint64>::max();
    if (!(tenths < double(maximum)) || !(tenths > -double(maximum)))
        return tenths > 0 ? maximum / 10 : -(maximum / 10);
    const qint64 value = qint64(tenths);
    const QString unit = match.captured(2);
    int shift = 0;
    if (unit == QLatin1String("TB") || unit == QLatin1String("Ti") || unit == QLatin1String("TiB"))
        shift = 40;
    else if (unit == QLatin1String("GB") || unit == QLatin1String("Gi") || unit == QLatin1String("GiB"))
        shift = 30;
    else if (unit == QLatin1String("MB") || unit == QLatin1String("Mi") || unit == QLatin1String("MiB"))
        shift = 20;
    else if (unit == QLatin1String("KB") || unit == QLatin1String("Ki") || unit == QLatin1String("KiB"))
        shift = 10;
    const qint64 limit = maximum >> shift;
    if (value > limit || value < -limit)
        return value > 0 ? maximum / 10 : -(maximum / 10);
    return (value * (qint64(1) << shift)) / 10;
}
