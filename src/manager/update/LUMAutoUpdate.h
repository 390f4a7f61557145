// The manager's one updater of the update library: made from the build configuration (module
// "Pellmere", this build's version, the update service's address), it keeps the update the
// service offers and turns the library's download notifications into Qt signals.
//
//   std::unique_ptr<LUMAutoUpdate> updates = LUMAutoUpdate::create(LUMAutoUpdate::buildConfiguration());
//   if (updates) { QVariantMap offer = updates->checkForUpdate(); ... }
//
// Main thread, except checkForUpdate(), which blocks and is called from a worker thread.
#pragma once

#include "CorvaneAutoUpdate.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <memory>

class LUMAutoUpdate : public QObject {
    Q_OBJECT

public:
    struct Configuration {
        QString moduleName;
        QString installerVersion; // empty: "0.0.1"
        QString serviceUrl;
        QString productPage; // with "$LANG" where the language goes
        QString installFolder; // empty: the library finds it from the running program
        QString relativeExecutable;
    };

    // The module name, version, service address and product page this manager was built with.
    static Configuration buildConfiguration();
    // Null (logged) when the library cannot be set up or the configuration is incomplete.
    static std::unique_ptr<LUMAutoUpdate> create(const Configuration &configuration);
    // The application's instance, made on first use; null when it could not be made.
    static LUMAutoUpdate *shared();
    // Ends the application's instance while the event loop's objects still exist (before the
    // application object goes), once nothing uses it any more.
    static void releaseShared();
    ~LUMAutoUpdate() override;

    QVariantMap queryProperties() const;
    QVariant queryProperty(const QString &name) const;
    void setProperty(const QString &name, const QVariant &value);

    // Asks the service now (blocking). The offered update, or an empty map when none applies
    // (the stored offer is replaced) or the check failed (the stored offer stays).
    QVariantMap checkForUpdate();
    QVariantMap updateInfo() const;
    QString productPage() const { return m_productPage; }

    // Starts downloading the stored offer; false when it did not start.
    bool downloadUpdateAsync();
    void abortDownload();

Q_SIGNALS:
    void downloadWillStart(const QVariantMap &info, const QString &path);
    void downloadInProgress(const QVariantMap &info, const QString &path, qint64 total, qint64 downloaded);
    void mounting(const QVariantMap &info, const QString &path);
    void launchingPackage(const QVariantMap &info, const QString &path);
    void completed(const QVariantMap &info, const QString &path);
    void downloadFailed(const QVariantMap &info, int error);

private:
    explicit LUMAutoUpdate(const QString &productPage);
    static void onNotification(AUUpdaterRef updater, int type, const char *info, const char *path, int32_t expected,
        int32_t received, int32_t error, void *context);

    AUUpdaterRef m_updater = nullptr;
    mutable QMutex m_mutex;
    QVariantMap m_updateInfo;
    QString m_productPage;
};
