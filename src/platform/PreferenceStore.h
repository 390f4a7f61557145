// A small persistent key-value store in one property-list file: the per-user preference
// domains of the agent (its plain defaults, its per-host preference set).
//
// The file is read on first use and again whenever it changed on disk (another process of
// the same user may write it); every change is written back atomically at once.
// Registered defaults answer for keys the file does not hold and are never written.
//
//   platform::PreferenceStore defaults(platform::PlatformPaths::standardDefaultsPath());
//   defaults.registerDefaults({{"debug", false}});
//   if (defaults.value("debug").toBool()) ...
//
// Thread-safe: one mutex guards the cached contents.
#pragma once

#include <QDateTime>
#include <QString>
#include <QVariantMap>

#include <mutex>

namespace platform {

class PreferenceStore {
public:
    explicit PreferenceStore(QString filePath);

    QString filePath() const { return m_path; }

    void registerDefaults(const QVariantMap &defaults);
    QVariant value(const QString &key) const;
    bool boolValue(const QString &key) const;
    // Stored keys only (not the registered defaults).
    QVariantMap storedValues() const;

    // Each setter writes the file; they answer whether the write succeeded (the value is
    // kept in memory either way, so the program goes on with what the user chose).
    bool setValue(const QString &key, const QVariant &value);
    bool removeValue(const QString &key);
    bool replaceAll(const QVariantMap &values);

private:
    void reloadIfChangedLocked() const;
    bool writeLocked();

    QString m_path;
    mutable std::mutex m_mutex;
    mutable QVariantMap m_values;
    mutable QDateTime m_loadedModification;
    mutable qint64 m_loadedSize = -1;
    mutable bool m_loaded = false;
    QVariantMap m_defaults;
};

} // namespace platform
