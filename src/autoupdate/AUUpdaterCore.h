// One module's updater behind the C interface: its properties, the schedule timer and the
// scheduled check on the creating thread's event loop, the blocking check (any thread) and
// the download.
//
// Lives on the thread that created it. checkSync() may run on another thread at the same
// time; the properties are guarded, the timer is moved back on the owning thread.
#pragma once

#include "autoupdate/AUDownload.h"
#include "autoupdate/AUPropertyStore.h"

#include <QDateTime>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QVariantMap>

class QNetworkReply;

class AUUpdaterCore : public QObject {
    Q_OBJECT

public:
    AUUpdaterCore(
        const QString &moduleName, const QString &moduleVersion, const QString &serviceUrl, AUDownload::Notify notify);
    ~AUUpdaterCore() override;

    // Reads the properties, finds the update a previous check saved, writes the properties
    // back and schedules the next check. False when the properties cannot be read.
    [[nodiscard]] bool initialize(QString *error);
    QVariantMap pendingUpdate() const { return m_pending; }

    QVariantMap properties() const;
    QVariant property(const QString &name) const;
    // Only the check interval is settable; other names are ignored.
    void setProperty(const QString &name, const QVariant &value);

    // 0 with *update (empty when no upgrade applies), -1 when the service gave no usable
    // answer. Records the check either way.
    int checkSync(QVariantMap *update);

    void setInstallLocation(const AUDownload::InstallLocation &location) { m_location = location; }
    AUDownload::InstallLocation installLocation() const { return m_location; }
    AUDownload &download() { return m_download; }

    // When the next scheduled check is due (for tests and the log); AUSchedule::never() when
    // none is.
    QDateTime nextCheck() const;

private:
    void reschedule();
    void armTimer();
    void onTimer();
    void startScheduledCheck();
    void finishScheduledCheck();
    QVariantMap process(const QVariant &answer) const;

    mutable QMutex m_mutex;
    AUPropertyStore m_store;
    bool m_checkDone = false;
    QVariantMap m_pending;
    QDateTime m_nextFire;
    QTimer m_timer;
    QNetworkAccessManager m_network;
    QPointer<QNetworkReply> m_scheduled;
    QByteArray m_scheduledBody;
    bool m_scheduledTooLarge = false;
    AUDownload m_download;
    AUDownload::InstallLocation m_location;
};
