#include "agent/settings/PMConfigurationFile.h"

#include "agent/settings/PMPreferenceDomains.h"

#include "agent/log/PMAgentLog.h"
#include "agent/settings/PMDriveFileWriter.h"
#include "agent/settings/PMHostUserIdentity.h"
#include "platform/ConfinedPath.h"
#include "platform/PMCorvaneUtilities.h"
#include "platform/PlatformPaths.h"
#include "platform/PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fts.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcConfig, "pellmere.settings")

using namespace PMCorvaneUtilities;

namespace {

// Past this many changes that could not be written, replaying them onto a file changed by
// someone else is given up (the file is then simply rewritten from memory).
constexpr std::size_t kMaxUnwrittenChanges = 256;
constexpr int kFilePermissions = 0666;

QString tr(const char *text)
{
    return QCoreApplication::translate("PMConfigurationFile", text);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    {
    }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

QStringList stringList(const QVariantList &list)
{
    QStringList strings;
    strings.reserve(list.size());
    for (const QVariant &value : list) {
        if (value.typeId() == QMetaType::QString)
            strings.append(value.toString());
    }
    return strings;
}

QVariantList variantList(const QStringList &list)
{
    QVariantList values;
    values.reserve(list.size());
    for (const QString &value : list)
        values.append(value);
    return values;
}

bool isInteger(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}

// Whether two property-list values would be written the same. Integers compare by value
// whatever their C++ width (the file reads back 64-bit numbers where a setter stored 32-bit
// ones); anything else must also have the same type, so a boolean never equals a number.
bool sameValue(const QVariant &a, const QVariant &b)
{
    if (isInteger(a) && isInteger(b))
        return a.toLongLong() == b.toLongLong();
    if (a.typeId() != b.typeId())
        return false;
    if (a.typeId() == QMetaType::QVariantMap) {
        // Maps iterate in key order, so equal keys and equal values in turn make equal maps.
        const QVariantMap left = a.toMap();
        const QVariantMap right = b.toMap();
        return left.keys() == right.keys()
            && std::equal(left.cbegin(), left.cend(), right.cbegin(), right.cend(), sameValue);
    }
    if (a.typeId() == QMetaType::QVariantList) {
        const QVariantList left = a.toList();
        const QVariantList right = b.toList();
        return std::equal(left.cbegin(), left.cend(), right.cbegin(), right.cend(), sameValue);
    }
    return a == b;
}

bool isPathBelow(const QString &path, const QString &folder)
{
    if (folder.isEmpty())
        return false;
    const QString base = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    return path == folder || path.startsWith(base);
}

QString syncTypeKeyFor(int syncType)
{
    switch (syncType) {
    case PMConfigurationFile::kSyncTypePerUser:
        return QStringLiteral("ptop");
    case PMConfigurationFile::kSyncTypeCopyToCopy:
        return QStringLiteral("ctoc");
    default:
        return QStringLiteral("UNKNOWN-SYNC-TYPE");
    }
}

QString libraryPathFromPreferenceDomain(const QString &domain, const QString &mediaFolder)
{
    const QString prefsPath = PMPreferenceDomains::filePath(domain);
    if (!QFileInfo::exists(prefsPath))
        return {};
    const auto prefs = platform::PropertyList::readFile(prefsPath, nullptr, PMConfigurationFile::kMaxFileBytes);
    if (!prefs || prefs->typeId() != QMetaType::QVariantMap)
        return {};
    QString path = stringForKey(prefs->toMap(), QStringLiteral("LibraryPath"));
    if (path.isEmpty() || isPathBelow(platform::PlatformPaths::expandTilde(path), mediaFolder))
        return {};
    return path;
}

// Deletes the true-delete records below root: every item whose name carries a record prefix,
// with all it contains. Never follows a link and never enters another file system.
void removeTrueDeleteRecords(const QString &root)
{
    const QByteArray rootPath = QFile::encodeName(root);
    char *paths[] = { const_cast<char *>(rootPath.constData()), nullptr };
    FTS *fts = ::fts_open(paths, FTS_PHYSICAL | FTS_XDEV | FTS_NOCHDIR, nullptr);
    if (!fts) {
        qCWarning(lcConfig).noquote() << "cannot walk" << root << ::strerror(errno);
        return;
    }
    const QByteArray filePrefix = PMConfigurationFile::kTrueDeleteFilePrefix.toUtf8();
    const QByteArray folderPrefix = PMConfigurationFile::kTrueDeleteFolderPrefix.toUtf8();
    while (FTSENT *entry = ::fts_read(fts)) {
        const QByteArray name(entry->fts_name, entry->fts_namelen);
        const bool parentMarked = entry->fts_level > 0 && entry->fts_parent && entry->fts_parent->fts_number;
        const bool marked
            = entry->fts_level > 0 && (parentMarked || name.startsWith(filePrefix) || name.startsWith(folderPrefix));
        switch (entry->fts_info) {
        case FTS_D:
            entry->fts_number = marked ? 1 : 0;
            break;
        case FTS_DP:
            if (entry->fts_number && ::rmdir(entry->fts_path) != 0)
                qCWarning(lcConfig).noquote() << "cannot remove" << entry->fts_path << ::strerror(errno);
            break;
        case FTS_DC:
        case FTS_DNR:
        case FTS_ERR:
            break;
        default:
            if (marked && ::unlink(entry->fts_path) != 0)
                qCWarning(lcConfig).noquote() << "cannot remove" << entry->fts_path << ::strerror(errno);
            break;
        }
    }
    ::fts_close(fts);
}

} // namespace

PMConfigurationFile::PMConfigurationFile(const QString &mountPoint, int syncType, const QString &userId)
    : m_mountPoint(mountPoint)
    , m_configPath(QDir(mountPoint).filePath(kFileName))
    , m_userId(userId)
    , m_debugLog(PMAgentLog::isDebugEnabled())
    , m_syncType(syncType)
{
    std::lock_guard lock(m_configLock);
    m_driveDevice = deviceOfPath(m_mountPoint);
    initializeConfigurationFileLocked();
}

std::optional<quint64> PMConfigurationFile::deviceOfPath(const QString &path)
{
    struct stat info { };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return quint64(info.st_dev);
}

std::optional<dev_t> PMConfigurationFile::driveDeviceLocked() const
{
    return m_driveDevice ? std::optional<dev_t>(dev_t(*m_driveDevice)) : std::nullopt;
}

bool PMConfigurationFile::driveStillMountedLocked()
{
    const std::optional<quint64> now = deviceOfPath(m_mountPoint);
    if (!m_driveDevice) // the folder was not there when we started: it is the drive now
        m_driveDevice = now;
    return now && now == m_driveDevice;
}

std::unique_ptr<PMConfigurationFile> PMConfigurationFile::configWithMountPoint(const QString &mountPoint, int syncType)
{
    return std::make_unique<PMConfigurationFile>(mountPoint, syncType, PMHostUserIdentity::uniqueHostUserId());
}

void PMConfigurationFile::debugLog(const QString &text) const
{
    if (m_debugLog)
        PMAgentLog::debugMessage(text);
}

PMConfigurationFile::RawRead PMConfigurationFile::readRawLocked(QByteArray *data) const
{
    struct stat info { };
    if (::lstat(QFile::encodeName(m_configPath).constData(), &info) != 0)
        return RawRead::Missing;
    if (S_ISDIR(info.st_mode))
        return RawRead::Directory;
    // Only a regular file is read: a link could lead anywhere, and a pipe or device could block
    // the agent or feed it without end.
    const FileDescriptor fd(
        ::open(QFile::encodeName(m_configPath).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxFileBytes)
        return RawRead::Unreadable;
    QByteArray bytes(qsizetype(info.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    bytes.truncate(done);
    *data = bytes;
    return RawRead::Read;
}

PMConfigurationFile::Format PMConfigurationFile::formatOf(const QVariantMap &contents)
{
    if (!contents.contains(kVersionKey))
        return Format::Old;
    // Only a number says which format this is. Anything else (a string, a boolean, a date) was
    // written by something we do not know: the file is not ours to interpret.
    const QVariant version = contents.value(kVersionKey);
    if (isInteger(version))
        return version.toLongLong() > 2 ? Format::Current : Format::Old;
    if (version.typeId() == QMetaType::Double)
        return version.toDouble() > 2 ? Format::Current : Format::Old;
    return Format::NotUnderstood;
}

PMConfigurationFile::ReadResult PMConfigurationFile::readFileLocked(
    QVariantMap *contents, QByteArray *bytes, bool logFailures) const
{
    QByteArray data;
    const RawRead raw = readRawLocked(&data);
    if (raw == RawRead::Missing)
        return ReadResult::Missing;
    auto refuse = [&](const QString &message) {
        if (logFailures)
            PMAgentLog::logMessage(message);
        return ReadResult::Refused;
    };
    if (raw == RawRead::Directory)
        return refuse(
            QStringLiteral("A directory exists where the configuration file %1 should go.").arg(m_configPath));
    const QString unreadable = tr("Unable to read configuration file from \"%1\".").arg(m_configPath);
    if (raw == RawRead::Unreadable || data.isEmpty())
        return refuse(unreadable);
    QString error;
    const auto parsed = platform::PropertyList::parse(data, &error);
    bool understood = false;
    if (parsed && parsed->typeId() != QMetaType::QVariantMap)
        error = QStringLiteral("not a dictionary");
    else if (parsed && formatOf(parsed->toMap()) == Format::NotUnderstood)
        error = QStringLiteral("%1 is not a number").arg(kVersionKey);
    else
        understood = parsed.has_value();
    if (!understood) {
        if (logFailures) {
            PMAgentLog::logMessage(tr("The configuration file on \"%1\" appears to be corrupt.").arg(m_mountPoint));
            PMAgentLog::logMessage(QStringLiteral("errorString = \"%1\"").arg(error));
        }
        return ReadResult::Refused;
    }
    *contents = parsed->toMap();
    *bytes = data;
    return ReadResult::Loaded;
}

QVariantMap PMConfigurationFile::internalConfiguration(int syncType)
{
    QVariantMap config;
    config.insert(kVersionKey, kCurrentVersion);
    config.insert(kSyncTypeKey, syncTypeKeyFor(syncType));
    if (syncType == kSyncTypePerUser)
        config.insert(kPtopListKey, QVariantMap());
    else if (syncType == kSyncTypeCopyToCopy)
        config.insert(kItemsToSyncKey, QVariantList());
    return config;
}

void PMConfigurationFile::initializeConfigurationFileLocked()
{
    m_hasSyncConfiguration = false;
    m_inSyncWithFile = false;
    QVariantMap contents;
    QByteArray bytes;
    switch (readFileLocked(&contents, &bytes, true)) {
    case ReadResult::Missing:
        m_config = internalConfiguration(m_syncType);
        return;
    case ReadResult::Refused:
        return;
    case ReadResult::Loaded:
        break;
    }
    m_knownFileBytes = bytes;
    debugLog(QStringLiteral("-initializeConfigurationFile: configuration file read: %1.").arg(m_configPath));
    debugLog(
        QStringLiteral("-initializeConfigurationFile: version = %1")
            .arg(contents.contains(kVersionKey) ? contents.value(kVersionKey).toString() : QStringLiteral("(null)")));
    if (formatOf(contents) == Format::Current) {
        m_config = contents;
        m_hasSyncConfiguration = true;
        m_inSyncWithFile = true;
    } else {
        m_oldConfig = contents;
        m_hasOldSyncFormat = true;
    }
}

int PMConfigurationFile::syncType() const
{
    std::lock_guard lock(m_configLock);
    return m_syncType;
}

QString PMConfigurationFile::syncTypeKey() const
{
    return syncTypeKeyFor(syncType());
}

std::optional<QVariantMap> PMConfigurationFile::syncConfigDictionary() const
{
    std::lock_guard lock(m_configLock);
    return m_config;
}

std::optional<QVariantMap> PMConfigurationFile::oldSyncConfigDictionary() const
{
    std::lock_guard lock(m_configLock);
    return m_oldConfig;
}

bool PMConfigurationFile::hasSyncConfigurationLocked() const
{
    if (m_syncType != kSyncTypePerUser)
        return m_hasSyncConfiguration;
    if (!m_hasSyncConfiguration || !m_config)
        return false;
    const auto ptop = dictionaryForKey(*m_config, kPtopListKey);
    return ptop && dictionaryForKey(*ptop, m_userId).has_value();
}

std::optional<dev_t> PMConfigurationFile::driveDevice() const
{
    std::lock_guard lock(m_configLock);
    return driveDeviceLocked();
}

bool PMConfigurationFile::hasSyncConfiguration() const
{
    std::lock_guard lock(m_configLock);
    return hasSyncConfigurationLocked();
}

bool PMConfigurationFile::hasOldSyncFormat() const
{
    std::lock_guard lock(m_configLock);
    return m_hasOldSyncFormat;
}

std::optional<QStringList> PMConfigurationFile::syncItemListLocked() const
{
    if (!m_config)
        return std::nullopt;
    std::optional<QVariantList> items;
    if (m_syncType == kSyncTypePerUser) {
        const auto ptop = dictionaryForKey(*m_config, kPtopListKey);
        const auto entry = ptop ? dictionaryForKey(*ptop, m_userId) : std::nullopt;
        items = entry ? arrayForKey(*entry, kItemsToSyncKey) : std::nullopt;
        debugLog(QStringLiteral("KRTConfig.syncItemList: ptop list = %1")
                     .arg(items ? stringList(*items).join(QStringLiteral(", ")) : QStringLiteral("(null)")));
    } else if (m_syncType == kSyncTypeCopyToCopy) {
        items = arrayForKey(*m_config, kItemsToSyncKey);
        debugLog(QStringLiteral("KRTConfig.syncItemList: ctoc list = %1")
                     .arg(items ? stringList(*items).join(QStringLiteral(", ")) : QStringLiteral("(null)")));
    }
    if (!items)
        return std::nullopt;
    return stringList(*items);
}

std::optional<QStringList> PMConfigurationFile::syncItemList() const
{
    std::lock_guard lock(m_configLock);
    return syncItemListLocked();
}

bool PMConfigurationFile::setSyncItemList(const std::optional<QStringList> &list)
{
    std::lock_guard lock(m_configLock);
    if (list) {
        if (!m_config && !m_hasOldSyncFormat)
            initializeConfigurationFileLocked();
        if (!list->isEmpty() && m_syncType == 0)
            m_syncType = kSyncTypePerUser;
    }
    const int type = m_syncType;
    if (type != kSyncTypePerUser && type != kSyncTypeCopyToCopy)
        debugLog(QStringLiteral("setSyncItemList: syncType not matched = %1").arg(type));
    if (!m_config)
        return writeIfNeededLocked();
    const QString userId = m_userId;
    const QString machineName = stringWithMachineName();
    return applyAndWriteLocked([type, list, userId, machineName](QVariantMap &config) {
        if (type == kSyncTypePerUser) {
            QVariantMap ptop = dictionaryForKey(config, kPtopListKey).value_or(QVariantMap());
            if (!list) {
                ptop.remove(userId);
            } else {
                QVariantMap entry = dictionaryForKey(ptop, userId).value_or(QVariantMap());
                if (!entry.contains(kSyncPathKey))
                    entry.insert(kSyncPathKey, machineName);
                entry.insert(kItemsToSyncKey, variantList(*list));
                ptop.insert(userId, entry);
            }
            config.insert(kPtopListKey, ptop);
        } else if (type == kSyncTypeCopyToCopy) {
            config.insert(kItemsToSyncKey, list ? variantList(*list) : QVariantList());
        }
    });
}

QStringList PMConfigurationFile::oldSyncItemList() const
{
    std::lock_guard lock(m_configLock);
    if (!m_oldConfig)
        return {};
    return stringList(arrayForKey(*m_oldConfig, kOldItemsKey).value_or(QVariantList()));
}

QString PMConfigurationFile::configSyncType() const
{
    std::lock_guard lock(m_configLock);
    return m_config ? stringForKey(*m_config, kSyncTypeKey) : QString();
}

std::optional<QStringList> PMConfigurationFile::configSyncUserList() const
{
    std::lock_guard lock(m_configLock);
    if (!m_config)
        return std::nullopt;
    const auto users = arrayForKey(*m_config, kUserListKey);
    if (!users)
        return std::nullopt;
    return stringList(*users);
}

QString PMConfigurationFile::syncTargetPath() const
{
    std::lock_guard lock(m_configLock);
    QString host = stringWithHostname();
    if (m_syncType != kSyncTypePerUser || !m_config)
        return host;
    const auto ptop = dictionaryForKey(*m_config, kPtopListKey);
    const auto entry = ptop ? dictionaryForKey(*ptop, m_userId) : std::nullopt;
    if (!entry)
        return host;
    return QDir(host).filePath(stringForKey(*entry, kSyncPathKey));
}

bool PMConfigurationFile::addUserToList()
{
    std::lock_guard lock(m_configLock);
    if (!m_config) {
        m_config = internalConfiguration(m_syncType);
        m_inSyncWithFile = false;
    }
    const QString userId = m_userId;
    return applyAndWriteLocked([userId](QVariantMap &config) {
        QVariantList users = arrayForKey(config, kUserListKey).value_or(QVariantList());
        if (!users.contains(QVariant(userId)))
            users.append(userId);
        QVariantMap settings = dictionaryForKey(config, userId).value_or(QVariantMap());
        for (const QString &key : { kMoviesKey, kMusicKey, kPicturesKey, kDocumentsKey }) {
            if (!settings.contains(key))
                settings.insert(key, true);
        }
        if (!settings.contains(kDeviceFilterKey))
            settings.insert(kDeviceFilterKey, 1);
        settings.insert(kUserListKey, users);
        config.insert(userId, settings);
        config.insert(kUserListKey, users);
    });
}

bool PMConfigurationFile::removeUserFromList()
{
    std::lock_guard lock(m_configLock);
    if (!m_config)
        return false;
    const auto users = arrayForKey(*m_config, kUserListKey);
    const bool listed = users && users->contains(QVariant(m_userId));
    if (!listed && m_syncType != kSyncTypePerUser)
        return true;
    // The user and the user's list leave the file in one write.
    beginDeferredWritesLocked();
    if (listed) {
        const QString userId = m_userId;
        applyAndWriteLocked([userId](QVariantMap &config) {
            QVariantList list = arrayForKey(config, kUserListKey).value_or(QVariantList());
            list.removeAll(QVariant(userId));
            config.insert(kUserListKey, list);
            config.remove(userId);
        });
    }
    if (m_syncType == kSyncTypePerUser)
        setSyncItemList(std::nullopt);
    return endDeferredWritesLocked();
}

bool PMConfigurationFile::hasUserSeenDevice() const
{
    std::lock_guard lock(m_configLock);
    return m_config && dictionaryForKey(*m_config, m_userId).has_value();
}

void PMConfigurationFile::updateComputerName()
{
    std::lock_guard lock(m_configLock);
    if (!m_config || !dictionaryForKey(*m_config, m_userId))
        return;
    const QString userId = m_userId;
    const QString name = stringWithMachineName();
    const Change change = [userId, name](QVariantMap &config) {
        auto settings = dictionaryForKey(config, userId);
        if (!settings)
            return;
        settings->insert(kComputerNameKey, name);
        config.insert(userId, *settings);
    };
    if (applyLocked(change))
        m_unwrittenChanges.push_back(change);
}

QVariantMap PMConfigurationFile::userSettingsLocked(const QString &userId) const
{
    if (!m_config)
        return {};
    return dictionaryForKey(*m_config, userId).value_or(QVariantMap());
}

bool PMConfigurationFile::userBool(const QString &userId, const QString &key, bool fallback) const
{
    std::lock_guard lock(m_configLock);
    const QVariantMap settings = userSettingsLocked(userId);
    return settings.contains(key) ? boolForKey(settings, key) : fallback;
}

qint32 PMConfigurationFile::userInt(const QString &userId, const QString &key) const
{
    std::lock_guard lock(m_configLock);
    const QVariant value = numberForKey(userSettingsLocked(userId), key);
    return value.isValid() ? qint32(value.toLongLong()) : 0;
}

bool PMConfigurationFile::setUserValue(const QString &key, const QVariant &value)
{
    std::lock_guard lock(m_configLock);
    if (!m_config || !dictionaryForKey(*m_config, m_userId))
        return writeIfNeededLocked();
    const QString userId = m_userId;
    return applyAndWriteLocked([userId, key, value](QVariantMap &config) {
        auto settings = dictionaryForKey(config, userId);
        if (!settings)
            return;
        settings->insert(key, value);
        config.insert(userId, *settings);
    });
}

// clang-format off
bool PMConfigurationFile::isParticipatingEnabledForUser() const { return userBool(m_userId, kParticipateKey, false); }
bool PMConfigurationFile::isParticipatingEnabledForUniqueHostID(const QString &id) const { return userBool(id, kParticipateKey, false); }
bool PMConfigurationFile::setParticipatingEnabledForUser(bool enabled) { return setUserValue(kParticipateKey, enabled); }
bool PMConfigurationFile::isContinuousEnabledForUser() const { return userBool(m_userId, kContinuousKey, false); }
bool PMConfigurationFile::isContinuousEnabledForUniqueHostID(const QString &id) const { return userBool(id, kContinuousKey, false); }
bool PMConfigurationFile::setContinuousEnabledForUser(bool enabled) { return setUserValue(kContinuousKey, enabled); }
bool PMConfigurationFile::isQuietEnabledForUser() const { return userBool(m_userId, kQuietKey, false); }
bool PMConfigurationFile::isQuietTurnedOffForUser() const { return !userBool(m_userId, kQuietKey, true); }
bool PMConfigurationFile::setQuietEnabledForUser(bool enabled) { return setUserValue(kQuietKey, enabled); }
bool PMConfigurationFile::isSyncMoviesEnabledForUser() const { return userBool(m_userId, kMoviesKey, true); }
bool PMConfigurationFile::isSyncMoviesEnabledForUniqueHostID(const QString &id) const { return userBool(id, kMoviesKey, true); }
bool PMConfigurationFile::setSyncMoviesEnabledForUser(bool enabled) { return setUserValue(kMoviesKey, enabled); }
bool PMConfigurationFile::isSyncMusicEnabledForUser() const { return userBool(m_userId, kMusicKey, true); }
bool PMConfigurationFile::isSyncMusicEnabledForUniqueHostID(const QString &id) const { return userBool(id, kMusicKey, true); }
bool PMConfigurationFile::setSyncMusicEnabledForUser(bool enabled) { return setUserValue(kMusicKey, enabled); }
bool PMConfigurationFile::isSyncPicturesEnabledForUser() const { return userBool(m_userId, kPicturesKey, true); }
bool PMConfigurationFile::isSyncPicturesEnabledForUniqueHostID(const QString &id) const { return userBool(id, kPicturesKey, true); }
bool PMConfigurationFile::setSyncPicturesEnabledForUser(bool enabled) { return setUserValue(kPicturesKey, enabled); }
bool PMConfigurationFile::isSyncDocumentsEnabledForUser() const { return userBool(m_userId, kDocumentsKey, false); }
bool PMConfigurationFile::isSyncDocumentsEnabledForUniqueHostID(const QString &id) const { return userBool(id, kDocumentsKey, false); }
bool PMConfigurationFile::setSyncDocumentsEnabledForUser(bool enabled) { return setUserValue(kDocumentsKey, enabled); }
qint32 PMConfigurationFile::getSyncDeviceFilterForUser() const { return userInt(m_userId, kDeviceFilterKey); }
qint32 PMConfigurationFile::getSyncDeviceFilterForUniqueHostID(const QString &id) const { return userInt(id, kDeviceFilterKey); }
bool PMConfigurationFile::setSyncDeviceFilterForUser(qint32 filter) { return setUserValue(kDeviceFilterKey, filter); }
qint32 PMConfigurationFile::getSyncMediaDeviceTargetForUser() const { return userInt(m_userId, kMediaDeviceTargetKey); }
QDateTime PMConfigurationFile::lastSyncDateForUser() const { return lastSyncDateForUniqueHostID(m_userId); }
// clang-format on

QDateTime PMConfigurationFile::lastSyncDateForUniqueHostID(const QString &userId) const
{
    std::lock_guard lock(m_configLock);
    return dateForKey(userSettingsLocked(userId), kLastSyncTimeKey);
}

bool PMConfigurationFile::setLastSyncDateForUser(const QDateTime &date)
{
    return setUserValue(kLastSyncTimeKey, date.toUTC());
}

QString PMConfigurationFile::computerNameForUniqueHostID(const QString &userId) const
{
    std::lock_guard lock(m_configLock);
    return stringForKey(userSettingsLocked(userId), kComputerNameKey);
}

bool PMConfigurationFile::computerWithUniqueIDHasSyncEnabledForDevice(
    const QString &computerId, const QString &device) const
{
    Q_UNUSED(device)
    std::lock_guard lock(m_configLock);
    // An empty identity would be the prefix of every key.
    if (computerId.isEmpty() || !m_config)
        return false;
    for (auto it = m_config->cbegin(); it != m_config->cend(); ++it) {
        if (it.key().startsWith(computerId) && it->typeId() == QMetaType::QVariantMap
            && boolForKey(it->toMap(), kParticipateKey))
            return true;
    }
    return false;
}

void PMConfigurationFile::removeUsersOfComputerWithUniqueID(const QString &computerId)
{
    std::lock_guard lock(m_configLock);
    // An empty identity would remove the whole configuration, version and lists included.
    if (computerId.isEmpty() || !m_config)
        return;
    const Change change = [computerId](QVariantMap &config) {
        QStringList keys;
        for (auto it = config.cbegin(); it != config.cend(); ++it) {
            if (it.key().startsWith(computerId))
                keys.append(it.key());
        }
        for (const QString &key : keys)
            config.remove(key);
    };
    if (applyLocked(change))
        m_unwrittenChanges.push_back(change);
}

bool PMConfigurationFile::convertOldSync()
{
    std::lock_guard lock(m_configLock);
    if (!m_hasOldSyncFormat || !m_oldConfig)
        return m_hasSyncConfiguration;
    const QString uuid = stringForKey(*m_oldConfig, kOldUuidKey);
    // A uuid naming "..", "." or a path would make us delete outside the temporary folders.
    if (!uuid.isEmpty() && !uuid.contains(QLatin1Char('/')) && uuid != QStringLiteral(".")
        && uuid != QStringLiteral("..")) {
        // Both are reached without following links: a drive holding a link on the way would
        // otherwise have a folder of the computer deleted.
        const platform::ConfinedPath localTemp(
            platform::PlatformPaths::homeDirectory(), QStringLiteral(".Z_PM_W/") + uuid);
        platform::ConfinedPath::Result found;
        if (localTemp.openFolder(&found).isValid()) {
            PMAgentLog::logMessage(
                QStringLiteral("convertOldSync: removing old local temp directory \"%1\"").arg(localTemp.path()));
            qCInfo(lcConfig).noquote() << QStringLiteral("remove oldLocalTempPath %1").arg(localTemp.path());
            static_cast<void>(localTemp.remove());
        }
        const platform::ConfinedPath globalTemp(m_mountPoint, QStringLiteral("Pellmere/.Z_PM_W/") + uuid);
        if (globalTemp.openFolder(&found).isValid()) {
            PMAgentLog::logMessage(
                QStringLiteral("convertOldSync: removing old global temp directory \"%1\"").arg(globalTemp.path()));
            qCInfo(lcConfig).noquote() << QStringLiteral("remove oldGlobalTempPath = %1").arg(globalTemp.path());
            static_cast<void>(globalTemp.remove());
        }
    }
    QVariantMap converted;
    converted.insert(kVersionKey, kCurrentVersion);
    converted.insert(kSyncTypeKey, QStringLiteral("ctoc"));
    converted.insert(kItemsToSyncKey, arrayForKey(*m_oldConfig, kOldItemsKey).value_or(QVariantList()));
    m_config = converted;
    m_inSyncWithFile = false;
    // The old file is replaced as a whole; nothing of it is to be merged back.
    m_unwrittenChanges.clear();
    m_knownFileBytes.clear();
    m_changesLost = true;
    m_convertingOldFormat = true;
    const bool written = writeConfigFileLocked();
    m_convertingOldFormat = false;
    if (written) {
        m_hasSyncConfiguration = true;
        m_hasOldSyncFormat = false;
    }
    return m_hasSyncConfiguration;
}

bool PMConfigurationFile::createDefaultSyncSet()
{
    std::lock_guard lock(m_configLock);
    if (!m_config) {
        m_config = internalConfiguration(m_syncType);
        m_inSyncWithFile = false;
    }
    using platform::PlatformPaths;
    using platform::UserFolder;
    QStringList list;
    for (const UserFolder folder : { UserFolder::Movies, UserFolder::Music, UserFolder::Pictures })
        list.append(PlatformPaths::abbreviateWithTilde(PlatformPaths::userFolder(folder)));
    const QString iTunes = getiTunesMusicLibraryPath();
    if (!iTunes.isEmpty())
        list.append(PlatformPaths::abbreviateWithTilde(iTunes));
    const QString iPhoto = getiPhotoLibraryPath();
    if (!iPhoto.isEmpty())
        list.append(iPhoto);
    const QString photoBooth = getPhotoBoothLibraryPath();
    if (!photoBooth.isEmpty())
        list.append(photoBooth);
    qCInfo(lcConfig).noquote()
        << QStringLiteral("createDefaultSyncSet: newSyncList = (%1)").arg(list.join(QStringLiteral(", ")));
    // A successful write marks the configuration as there; so does a list equal to the one
    // read from a current file. Inside a batch the write comes later and reports for itself.
    const bool set = !list.isEmpty() && setSyncItemList(list);
    if (m_deferDepth > 0)
        return set || hasSyncConfigurationLocked();
    return hasSyncConfigurationLocked();
}

bool PMConfigurationFile::applyLocked(const Change &change)
{
    // Never changed in place: readers on other threads may still share the old contents.
    QVariantMap next = *m_config;
    change(next);
    if (sameValue(next, *m_config))
        return false;
    m_config = next;
    m_inSyncWithFile = false;
    return true;
}

bool PMConfigurationFile::applyAndWriteLocked(Change change)
{
    // A change that leaves our contents as they are is neither kept for the merge nor
    // written. That loses nothing of ours: with no change there is nothing of ours to keep.
    // Another computer may have written a different value since we read the file; leaving
    // its newer file alone then keeps its choice, exactly as if its write had come just
    // after ours, which is all a rewrite could have promised it. Changes of ours still
    // unwritten (a failed write) make writeIfNeededLocked() write as before.
    if (applyLocked(change)) {
        if (m_unwrittenChanges.size() >= kMaxUnwrittenChanges) {
            m_unwrittenChanges.clear();
            m_changesLost = true;
        }
        if (!m_changesLost)
            m_unwrittenChanges.push_back(std::move(change));
    }
    return writeIfNeededLocked();
}

bool PMConfigurationFile::writeIfNeededLocked()
{
    if (m_inSyncWithFile)
        return true;
    if (m_deferDepth > 0)
        return true; // the batch's commit sees the contents differ and writes
    return writeConfigFileLocked();
}

void PMConfigurationFile::beginDeferredWritesLocked()
{
    ++m_deferDepth;
}

bool PMConfigurationFile::endDeferredWritesLocked()
{
    if (m_deferDepth == 0 || --m_deferDepth > 0)
        return true; // an inner batch: the outermost one writes
    const bool requested = m_deferredWriteRequested;
    m_deferredWriteRequested = false;
    if (m_inSyncWithFile && !requested)
        return true;
    return writeConfigFileLocked();
}

void PMConfigurationFile::rebaseOnFileLocked()
{
    if (m_changesLost)
        return;
    QVariantMap onDisk;
    QByteArray bytes;
    if (readFileLocked(&onDisk, &bytes, false) != ReadResult::Loaded || bytes == m_knownFileBytes)
        return;
    if (formatOf(onDisk) != Format::Current)
        return;
    // Someone else wrote the file since we read it: keep what they wrote and apply ours on top.
    debugLog(QStringLiteral("writeConfigFile: configuration file changed on disk; merging our changes"));
    for (const Change &change : m_unwrittenChanges)
        change(onDisk);
    m_config = onDisk;
    m_hasSyncConfiguration = true;
}

bool PMConfigurationFile::writeConfigFile()
{
    std::lock_guard lock(m_configLock);
    if (m_deferDepth > 0) {
        m_deferredWriteRequested = true;
        return true;
    }
    return writeConfigFileLocked();
}

QString PMConfigurationFile::driveName() const
{
    const QString name = QFileInfo(m_mountPoint).fileName();
    return name.isEmpty() ? m_mountPoint : name;
}

void PMConfigurationFile::reportWriteFailureLocked(const PMDriveFileWriter::Outcome &outcome, const QString &path)
{
    PMAgentLog::logMessage(tr("Unable to write configuration file to \"%1\".").arg(path));
    if (outcome.result == PMDriveFileWriter::Result::NoSpace) {
        m_lastWriteError = tr("Not enough free space on \"%1\" to save its sync settings.").arg(driveName());
    } else if (outcome.error == ENODEV) {
        m_lastWriteError = tr("The drive \"%1\" is no longer there.").arg(driveName());
    } else {
        m_lastWriteError = tr("The sync settings could not be saved on \"%1\" (%2).")
                               .arg(driveName(), QString::fromLocal8Bit(::strerror(outcome.error)));
    }
    PMAgentLog::logMessage(m_lastWriteError);
}

bool PMConfigurationFile::keepUnreadableFileLocked()
{
    QByteArray existing;
    if (readRawLocked(&existing) != RawRead::Read || existing.isEmpty())
        return true;
    const auto parsed = platform::PropertyList::parse(existing);
    const Format format
        = parsed && parsed->typeId() == QMetaType::QVariantMap ? formatOf(parsed->toMap()) : Format::NotUnderstood;
    // Only a file we understood is replaced without a copy: a current one (whose entries the
    // write merged), or an old one being converted. Anything else may hold settings of a
    // computer we cannot read, so it is set aside first.
    if (format == Format::Current || (format == Format::Old && m_convertingOldFormat))
        return true;
    const QString stem = kFileName + QStringLiteral(".corrupt-")
        + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    PMDriveFileWriter::Outcome outcome;
    QString kept;
    for (int attempt = 0; attempt < 100; ++attempt) {
        kept = attempt == 0 ? stem : stem + QStringLiteral("-%1").arg(attempt);
        outcome = PMDriveFileWriter::write(
            m_mountPoint, kept, existing, kFilePermissions, PMDriveFileWriter::Mode::KeepExisting, driveDeviceLocked());
        if (outcome.result != PMDriveFileWriter::Result::Failed || outcome.error != EEXIST)
            break;
    }
    if (outcome.result != PMDriveFileWriter::Result::Written) {
        PMAgentLog::logMessage(
            tr("The unreadable configuration file \"%1\" could not be kept; it is left as it is.").arg(m_configPath));
        reportWriteFailureLocked(outcome, QDir(m_mountPoint).filePath(kept));
        return false;
    }
    PMAgentLog::logMessage(
        tr("The unreadable configuration file was kept as \"%1\".").arg(QDir(m_mountPoint).filePath(kept)));
    return true;
}

bool PMConfigurationFile::writeConfigFileLocked()
{
    if (!m_config) {
        PMAgentLog::logMessage(QStringLiteral("Unable to convert configuration dictionary to XML format. %1")
                                   .arg(QStringLiteral("(null)")));
        m_lastWriteError = tr("There are no sync settings to save on \"%1\".").arg(driveName());
        return false;
    }
    rebaseOnFileLocked();
    if (auto settings = dictionaryForKey(*m_config, m_userId)) {
        settings->insert(kComputerNameKey, stringWithMachineName());
        QVariantMap next = *m_config;
        next.insert(m_userId, *settings);
        m_config = next;
    }
    debugLog(QStringLiteral("writeConfigFile: new config dictionary=\"%1\"").arg(m_configPath));
    QString error;
    const QByteArray bytes = platform::PropertyList::serialize(*m_config, platform::PlistFormat::Xml, &error);
    if (bytes.isEmpty()) {
        PMAgentLog::logMessage(
            QStringLiteral("Unable to convert configuration dictionary to XML format. %1").arg(error));
        m_lastWriteError = tr("The sync settings could not be saved on \"%1\".").arg(driveName());
        return false;
    }
    // A drive that went away (a lazy unmount, a pulled cable) leaves the bare mount point
    // folder of another file system behind: the file must never land there.
    if (!driveStillMountedLocked()) {
        PMAgentLog::logMessage(
            tr("Unable to write configuration file to \"%1\": the drive is no longer there.").arg(m_configPath));
        m_lastWriteError = tr("The drive \"%1\" is no longer there.").arg(driveName());
        return false;
    }
    // A file another computer may have written that we cannot read is kept beside ours
    // before it is replaced, so its settings can still be recovered.
    if (!keepUnreadableFileLocked())
        return false;
    // A folder or a link in the place of the file is not ours to replace: the folder may hold
    // somebody's data, and a link was put there by someone who meant it to lead elsewhere.
    struct stat existing { };
    if (::lstat(QFile::encodeName(m_configPath).constData(), &existing) == 0
        && (S_ISDIR(existing.st_mode) || S_ISLNK(existing.st_mode))) {
        PMAgentLog::logMessage(tr("Unable to write configuration file to \"%1\".").arg(m_configPath));
        m_lastWriteError
            = tr("Something other than a file is in the way of the sync settings on \"%1\".").arg(driveName());
        return false;
    }
    // Written beside the old file and renamed over it only when every byte reached the drive:
    // a full drive must leave the old settings, everybody's, as they were. A link the drive
    // carries in place of the file is replaced, never written through.
    const PMDriveFileWriter::Outcome outcome = PMDriveFileWriter::write(
        m_mountPoint, kFileName, bytes, kFilePermissions, PMDriveFileWriter::Mode::Replace, driveDeviceLocked());
    if (outcome.result != PMDriveFileWriter::Result::Written) {
        reportWriteFailureLocked(outcome, m_configPath);
        return false;
    }
    m_lastWriteError.clear();
    m_knownFileBytes = bytes;
    m_hasSyncConfiguration = true;
    m_inSyncWithFile = true;
    m_unwrittenChanges.clear();
    m_changesLost = false;
    debugLog(QStringLiteral("writeConfigFile: configuration file %1 written: %2\n")
                 .arg(m_configPath, QString::fromUtf8(bytes)));
    if (outcome.permissionsSet)
        debugLog(QStringLiteral("Permissions on configuration file \"%1\" set to %2")
                     .arg(m_configPath)
                     .arg(kFilePermissions, 0, 8));
    else
        debugLog(QStringLiteral("Unable to set permissions on configuration file \"%1\" to %2")
                     .arg(m_configPath)
                     .arg(kFilePermissions, 0, 8));
    return true;
}

bool PMConfigurationFile::removeSyncConfiguration()
{
    {
        std::lock_guard lock(m_configLock);
        QFile::remove(m_configPath);
        m_hasSyncConfiguration = false;
        m_inSyncWithFile = false;
        m_knownFileBytes.clear();
    }
    // The walk may take long on a full drive; readers and setters must not wait for it.
    removeTrueDeleteRecords(m_mountPoint);
    return true;
}

QString PMConfigurationFile::getiTunesMusicLibraryPath()
{
    const QString music = platform::PlatformPaths::userFolder(platform::UserFolder::Music);
    const QString libraryFile = QDir(music).filePath(QStringLiteral("iTunes Music Library.xml"));
    if (!QFileInfo(libraryFile).isFile())
        return {};
    const auto library = platform::PropertyList::readFile(libraryFile);
    if (!library || library->typeId() != QMetaType::QVariantMap)
        return {};
    const QUrl url(stringForKey(library->toMap(), QStringLiteral("Music Folder")));
    QString path = url.isLocalFile() ? QDir::cleanPath(url.toLocalFile()) : QString();
    if (path.isEmpty() || isPathBelow(path, music))
        return {};
    return path;
}

QString PMConfigurationFile::getiPhotoLibraryPath()
{
    return libraryPathFromPreferenceDomain(
        PMPreferenceDomains::kIPhoto, platform::PlatformPaths::userFolder(platform::UserFolder::Pictures));
}

QString PMConfigurationFile::getPhotoBoothLibraryPath()
{
    return libraryPathFromPreferenceDomain(
        PMPreferenceDomains::kPhotoBooth, platform::PlatformPaths::userFolder(platform::UserFolder::Pictures));
}

QString PMConfigurationFile::lastWriteError() const
{
    std::lock_guard lock(m_configLock);
    return m_lastWriteError;
}
