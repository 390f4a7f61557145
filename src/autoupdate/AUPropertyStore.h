// The persistent properties of one module's updater and the files of its folder
// ($XDG_CONFIG_HOME/corvane/AutoUpdate/<Module>/): "UpdaterProps.plist" (the properties that
// are set), "Updates.plist" (the service's last answer as received) and
// "BadHTTPResponse.txt" (the last answer that was not a property-list dictionary).
// A module without "UpdaterProps.plist" starts from "DefaultUpdaterProps.plist", installed
// with the library.
//
// Not thread-safe: the updater guards it.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <QVariantMap>

class AUPropertyStore {
public:
    AUPropertyStore(const QString &moduleName, const QString &moduleVersion, const QString &serviceUrl);

    // Makes the module folder and reads the properties (or the defaults). False when the
    // folder cannot be made or neither file is a dictionary.
    [[nodiscard]] bool load(QString *error);
    // Rewrites "UpdaterProps.plist"; false (logged) when it cannot.
    bool save() const;

    QVariantMap properties() const;
    QVariant property(const QString &name) const;

    int checkInterval() const { return m_checkInterval; }
    void setCheckInterval(int code) { m_checkInterval = code; }
    QDateTime lastCheck() const { return m_lastCheck; }
    void setLastCheck(const QDateTime &when) { m_lastCheck = when; }
    QString moduleName() const { return m_moduleName; }
    QString moduleVersion() const { return m_moduleVersion; }
    QString serviceUrl() const { return m_serviceUrl; }
    QString folder() const { return m_folder; }

    // The saved answer, or an invalid QVariant when there is none or it does not parse.
    QVariant savedAnswer() const;
    bool saveAnswer(const QByteArray &body) const;
    bool saveBadResponse(const QByteArray &body) const;

    // Where the library's default properties are: beside the library in the build tree,
    // share/corvane-autoupdate/ below its prefix once installed.
    static QString defaultPropertiesPath();

private:
    bool writeFile(const QString &name, const QByteArray &bytes) const;

    QString m_moduleName;
    QString m_moduleVersion;
    QString m_serviceUrl;
    QString m_folder;
    int m_checkInterval = 0;
    QDateTime m_lastCheck;
    QVariant m_lastErrorMessage;
};
