// The controller of the manager's preferences window. Its one setting, silenceNetworkErrors
// (whether the agent keeps quiet about network shares that fail to mount), lives in the
// preference file shared with the agent (platform::CommonPreferences); the check box of the
// window binds to the property.
//
//   LUMPreferencesController preferences;               // reads the shared file
//   checkBox->setChecked(preferences.silenceNetworkErrors());
//   preferences.setSilenceNetworkErrors(true);          // writes it at once
//
// Main thread.
#pragma once

#include "platform/CommonPreferences.h"

#include <QObject>
#include <QVariantMap>

#include <optional>

class LUMPreferencesController : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool silenceNetworkErrors READ silenceNetworkErrors WRITE setSilenceNetworkErrors NOTIFY
            silenceNetworkErrorsChanged)

public:
    // Over the user's shared preference file.
    explicit LUMPreferencesController(QObject *parent = nullptr);
    explicit LUMPreferencesController(platform::CommonPreferences file, QObject *parent = nullptr);

    bool silenceNetworkErrors() const { return m_silenceNetworkErrors; }
    // Keeps the value and writes it into the shared file, other keys untouched (a failed
    // write is logged; the window keeps the user's choice).
    void setSilenceNetworkErrors(bool silence);

    std::optional<QVariantMap> loadSettings() const { return m_file.loadSettings(); }
    bool saveSettings(const QVariantMap &settings) const;
    static QVariantMap defaultSettings() { return platform::CommonPreferences::defaultSettings(); }

Q_SIGNALS:
    void silenceNetworkErrorsChanged(bool silence);

private:
    platform::CommonPreferences m_file;
    bool m_silenceNetworkErrors = false;
};
