#include "platform/PreferenceStore.h"

#include "platform/PropertyList.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcPreferences, "pellmere.preferences")

namespace platform {

PreferenceStore::PreferenceStore(QString filePath)
    : m_path(std::move(filePath))
{
}

void PreferenceStore::reloadIfChangedLocked() const
{
    const QFileInfo info(m_path);
    const QDateTime modification = info.exists() ? info.lastModified() : QDateTime();
    const qint64 size = info.exists() ? info.size() : -1;
    if (m_loaded && modification == m_loadedModification && size == m_loadedSize)
        return;
    m_loaded = true;
    m_loadedModification = modification;
    m_loadedSize = size;
    if (!info.exists()) {
        m_values.clear();
        return;
    }
    QString error;
    const std::optional<QVariant> root = PropertyList::readFile(m_path, &error);
    if (!root || root->typeId() != QMetaType::QVariantMap) {
        qCWarning(lcPreferences) << "ignoring unreadable preferences" << m_path << error;
        m_values.clear();
        return;
    }
    m_values = root->toMap();
}

bool PreferenceStore::writeLocked()
{
    QString error;
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath())
        || !PropertyList::writeFile(m_path, m_values, PlistFormat::Xml, &error)) {
        qCWarning(lcPreferences) << "cannot save preferences" << m_path << error;
        return false;
    }
    const QFileInfo info(m_path);
    m_loadedModification = info.lastModified();
    m_loadedSize = info.size();
    return true;
}

void PreferenceStore::registerDefaults(const QVariantMap &defaults)
{
    std::lock_guard lock(m_mutex);
    for (auto it = defaults.cbegin(); it != defaults.cend(); ++it)
        m_defaults.insert(it.key(), it.value());
}

QVariant PreferenceStore::value(const QString &key) const
{
    std::lock_guard lock(m_mutex);
    reloadIfChangedLocked();
    const auto it = m_values.constFind(key);
    return it != m_values.cend() ? *it : m_defaults.value(key);
}

bool PreferenceStore::boolValue(const QString &key) const
{
    return value(key).toBool();
}

QVariantMap PreferenceStore::storedValues() const
{
    std::lock_guard lock(m_mutex);
    reloadIfChangedLocked();
    return m_values;
}

bool PreferenceStore::setValue(const QString &key, const QVariant &value)
{
    std::lock_guard lock(m_mutex);
    reloadIfChangedLocked();
    m_values.insert(key, value);
    return writeLocked();
}

bool PreferenceStore::removeValue(const QString &key)
{
    std::lock_guard lock(m_mutex);
    reloadIfChangedLocked();
    m_values.remove(key);
    return writeLocked();
}

bool PreferenceStore::replaceAll(const QVariantMap &values)
{
    std::lock_guard lock(m_mutex);
    m_loaded = true;
    m_values = values;
    return writeLocked();
}

} // namespace platform
