#include "autoupdate/AUPropertyStore.h"

#include "autoupdate/AUKeys.h"
#include "autoupdate/AULog.h"
#include "autoupdate/CorvaneAutoUpdate.h"
#include "platform/PlatformPaths.h"
#include "platform/PropertyList.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <dlfcn.h>

namespace {

const QString kPropsFile = QStringLiteral("UpdaterProps.plist");
const QString kUpdatesFile = QStringLiteral("Updates.plist");
const QString kBadResponseFile = QStringLiteral("BadHTTPResponse.txt");
const QString kDefaultsFile = QStringLiteral("DefaultUpdaterProps.plist");

// The service's answers are small; anything bigger is not one.
constexpr qint64 kMaxAnswerBytes = 1024 * 1024;

std::optional<QVariantMap> readDictionary(const QString &path)
{
    QString error;
    const std::optional<QVariant> root = platform::PropertyList::readFile(path, &error, kMaxAnswerBytes);
    if (!root || root->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return root->toMap();
}

} // namespace

AUPropertyStore::AUPropertyStore(const QString &moduleName, const QString &moduleVersion, const QString &serviceUrl)
    : m_moduleName(moduleName)
    , m_moduleVersion(moduleVersion)
    , m_serviceUrl(serviceUrl)
    , m_folder(platform::PlatformPaths::autoUpdateDirectory(moduleName))
{
}

QString AUPropertyStore::defaultPropertiesPath()
{
    Dl_info info {};
    if (::dladdr(reinterpret_cast<const void *>(&AUPropertyStore::defaultPropertiesPath), &info) == 0
        || !info.dli_fname)
        return {};
    const QDir libraryDir = QFileInfo(QFile::decodeName(info.dli_fname)).absoluteDir();
    const QString beside = libraryDir.filePath(kDefaultsFile);
    if (QFileInfo::exists(beside))
        return beside;
    return QDir::cleanPath(libraryDir.filePath(QStringLiteral(CORVANE_AUTOUPDATE_DATA_FROM_LIB "/") + kDefaultsFile));
}

bool AUPropertyStore::load(QString *error)
{
    if (!QDir().mkpath(m_folder)) {
        *error = QStringLiteral("cannot make %1").arg(m_folder);
        return false;
    }
    std::optional<QVariantMap> props = readDictionary(m_folder + QLatin1Char('/') + kPropsFile);
    if (!props) {
        props = readDictionary(defaultPropertiesPath());
        if (!props) {
            *error = QStringLiteral("neither %1 nor %2 is a dictionary").arg(kPropsFile, defaultPropertiesPath());
            return false;
        }
    }
    m_checkInterval = int(props->value(QString::fromUtf8(AUKeys::UpdateCheckInterval)).toLongLong());
    const QVariant last = props->value(QString::fromUtf8(AUKeys::LastCheckTimestamp));
    m_lastCheck = last.typeId() == QMetaType::QDateTime ? last.toDateTime() : QDateTime();
    m_lastErrorMessage = props->value(QString::fromUtf8(AUKeys::LastErrorMessage));
    return true;
}

QVariantMap AUPropertyStore::properties() const
{
    QVariantMap map;
    map.insert(QString::fromUtf8(AUKeys::ModuleName), m_moduleName);
    map.insert(QString::fromUtf8(AUKeys::ModuleVersion), m_moduleVersion);
    map.insert(QString::fromUtf8(AUKeys::ModuleXMLURL), m_serviceUrl);
    map.insert(QString::fromUtf8(AUKeys::UpdateCheckInterval), qint64(m_checkInterval));
    if (m_lastCheck.isValid())
        map.insert(QString::fromUtf8(AUKeys::LastCheckTimestamp), m_lastCheck.toUTC());
    if (m_lastErrorMessage.isValid())
        map.insert(QString::fromUtf8(AUKeys::LastErrorMessage), m_lastErrorMessage);
    return map;
}

QVariant AUPropertyStore::property(const QString &name) const
{
    return properties().value(name);
}

bool AUPropertyStore::save() const
{
    QString error;
    if (!platform::PropertyList::writeFile(
            m_folder + QLatin1Char('/') + kPropsFile, properties(), platform::PlistFormat::Xml, &error)) {
        qCWarning(lcAutoUpdate) << "cannot write the updater's properties:" << error;
        return false;
    }
    return true;
}

QVariant AUPropertyStore::savedAnswer() const
{
    const std::optional<QVariantMap> answer = readDictionary(m_folder + QLatin1Char('/') + kUpdatesFile);
    return answer ? QVariant(*answer) : QVariant();
}

bool AUPropertyStore::writeFile(const QString &name, const QByteArray &bytes) const
{
    QSaveFile file(m_folder + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        qCWarning(lcAutoUpdate) << "cannot write" << file.fileName() << file.errorString();
        return false;
    }
    return true;
}

bool AUPropertyStore::saveAnswer(const QByteArray &body) const
{
    return writeFile(kUpdatesFile, body);
}

bool AUPropertyStore::saveBadResponse(const QByteArray &body) const
{
    return writeFile(kBadResponseFile, body);
}
