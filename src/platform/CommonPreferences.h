// The preference file the maker's programs share ($XDG_CONFIG_HOME/corvane/
// com.corvane.common.plist): an XML property-list dictionary. Its one key of ours says whether
// the agent keeps quiet about network shares that fail to mount; the manager writes it and the
// agent reads it. Keys written by other programs are kept as they are.
//
//   platform::CommonPreferences common;
//   common.setSilenceNetworkAlerts(true);   // the file now holds the key, and whatever it held
//   if (common.silenceNetworkAlerts()) ...
//
// Reads the file at every call (another program may have changed it) and writes it atomically.
// Reentrant; two processes writing at once may lose one of the two changes, as with any
// preference file.
#pragma once

#include <QString>
#include <QVariantMap>

#include <optional>

namespace platform {

class CommonPreferences {
public:
    static inline const QString kSilenceNetworkAlertsKey = QStringLiteral("com.corvane.silenceNetworkAlerts");

    // The shared file of this user.
    CommonPreferences();
    explicit CommonPreferences(QString filePath);

    QString filePath() const { return m_path; }

    // The file's dictionary, or nullopt when the file is missing or is not a dictionary
    // (the latter is logged).
    std::optional<QVariantMap> loadSettings() const;
    // Writes the dictionary as the whole file, creating its folder; false (logged) on failure.
    [[nodiscard]] bool saveSettings(const QVariantMap &settings) const;
    // What the file means when it is missing: the key set to false.
    static QVariantMap defaultSettings();

    // The key's value; false when the file or the key is missing or the value is no boolean.
    bool silenceNetworkAlerts() const;
    // Sets the key in the file's current contents (an empty dictionary when it has none) and
    // writes the file; false (logged) when it cannot be written.
    [[nodiscard]] bool setSilenceNetworkAlerts(bool silence) const;

private:
    QString m_path;
};

} // namespace platform
