// One download of an update: the release archive named by the entry's "SWURL" is written to
// the desktop folder (the download folder when there is none), checked against the entry's
// "SHA256" when it has one, unpacked beside itself, and handed over to the new copy it holds.
// Each step is announced through the notify function (the kAUDownload… types):
//
//   will start (0) → in progress (1, repeatedly) → complete (2) → unpacking (3) → handed over (4)
//   any failure → failed (5, with error()); abort() → nothing more, file removed.
//
// Lives on its owner's thread; notify is called synchronously there and may call abort().
#pragma once

#include <QFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QThread;

class AUDownload : public QObject {
    Q_OBJECT

public:
    // Larger downloads are refused; no release archive comes near it.
    static constexpr qint64 kMaxDownloadBytes = qint64(1024) * 1024 * 1024;

    struct InstallLocation {
        QString installFolder; // replaced by the new copy
        QString relativeExecutable; // the program inside it
    };

    using Notify = std::function<void(int type)>;

    AUDownload(QNetworkAccessManager &network, Notify notify, QObject *parent = nullptr);
    ~AUDownload() override;

    // 0 when the download started (will-start was announced), -1 otherwise: one already
    // runs, the address is not HTTPS, names no file, or the file cannot be created.
    int start(const QVariantMap &updateInfo, const InstallLocation &location);
    // Ends whatever step runs and removes the file; nothing more is announced.
    void abort();

    bool isRunning() const { return m_running; }
    QVariantMap updateInfo() const { return m_info; }
    QString path() const { return m_path; }
    qint32 expectedSize() const { return m_expected; }
    qint32 bytesReceived() const { return qint32(m_received); }
    qint32 error() const { return m_error; }

private:
    void onReadyRead();
    void onFinished();
    void unpack();
    void onUnpacked(bool ok, const QString &error);
    void handOver();
    bool matchesChecksum() const;
    // Announces type; false when the client ended the download (or the updater) meanwhile.
    bool announce(int type);
    void fail(int error, const QString &why);
    void cleanUp(bool keepFile);

    QNetworkAccessManager &m_network;
    Notify m_notify;
    QPointer<QNetworkReply> m_reply;
    QFile m_file;
    QVariantMap m_info;
    InstallLocation m_location;
    QString m_path;
    QString m_unpackFolder;
    QThread *m_unpacker = nullptr;
    quint64 m_generation = 0;
    bool m_running = false;
    qint32 m_expected = -1;
    qint64 m_received = 0;
    qint32 m_error = 0;
};
