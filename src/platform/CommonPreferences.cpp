#include "platform/CommonPreferences.h"

#include "platform/PlatformPaths.h"
#include "platform/PropertyList.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcCommonPreferences, "pellmere.preferences")

namespace platform {

CommonPreferences::CommonPreferences()
    : CommonPreferences(PlatformPaths::commonPreferencesPath())
{
}

CommonPreferences::CommonPreferences(QString filePath)
    : m_path(std::move(filePath))
{
}

std::optional<QVariantMap> CommonPreferences::loadSettings() const
{
    if (!QFileInfo::exists(m_path))
        return std::nullopt;
    QString error;
    const std::optional<QVariant> root = PropertyList::readFile(m_path, &error);
    if (!root || root->typeId() != QMetaType::QVariantMap) {
        qCWarning(lcCommonPreferences) << "ignoring unreadable common preferences" << m_path << error;
        return std::nullopt;
    }
    return root->toMap();
}

bool CommonPreferences::saveSettings(const QVariantMap &settings) const
{
    QString error;
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath())
        || !PropertyList::writeFile(m_path, settings, PlistFormat::Xml, &error)) {
        qCWarning(lcCommonPreferences) << "cannot save common preferences" << m_path << error;
        return false;
    }
    return true;
}

QVariantMap CommonPreferences::defaultSettings()
{
    return { { kSilenceNetworkAlertsKey, false } };
}

bool CommonPreferences::silenceNetworkAlerts() const
{
    const QVariant value = loadSettings().value_or(defaultSettings()).value(kSilenceNetworkAlertsKey);
    // Another program may have stored anything here; only a real boolean counts.
    return value.typeId() == QMetaType::Bool && value.toBool();
}

bool CommonPreferences::setSilenceNetworkAlerts(bool silence) const
{
    QVariantMap settings = loadSettings().value_or(QVariantMap());
    settings.insert(kSilenceNetworkAlertsKey, silence);
    return saveSettings(settings);
}

} // namespace platform
