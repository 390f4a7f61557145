#include "autoupdate/AUDownload.h"

#include "autoupdate/AUArchiveExtractor.h"
#include "autoupdate/AUDownloadName.h"
#include "autoupdate/AUHandOver.h"
#include "autoupdate/AUKeys.h"
#include "autoupdate/AULog.h"
#include "autoupdate/AUServiceAddress.h"
#include "autoupdate/AUServiceRequest.h"
#include "autoupdate/CorvaneAutoUpdate.h"
#include "platform/PlatformPaths.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QThread>

namespace {

constexpr qint64 kReadChunk = 32768;

// The folder the archive unpacks into: its name without the archive suffixes, made free.
QString unpackFolderFor(const QString &archivePath)
{
    const QFileInfo archive(archivePath);
    QString stem = archive.fileName();
    for (const char *suffix : { ".tar.xz", ".txz", ".tar.gz", ".tgz", ".tar" }) {
        if (stem.endsWith(QLatin1String(suffix), Qt::CaseInsensitive) && stem.size() > qsizetype(strlen(suffix))) {
            stem.chop(qsizetype(strlen(suffix)));
            break;
        }
    }
    if (stem == archive.fileName())
        stem += QStringLiteral("-unpacked");
    const QString folder = archive.absolutePath();
    return folder + QLatin1Char('/') + AUDownloadName::firstFree(folder, stem);
}

} // namespace

AUDownload::AUDownload(QNetworkAccessManager &network, Notify notify, QObject *parent)
    : QObject(parent)
    , m_network(network)
    , m_notify(std::move(notify))
{
}

AUDownload::~AUDownload()
{
    cleanUp(false);
    if (m_unpacker) {
        m_unpacker->wait();
        delete m_unpacker;
    }
}

int AUDownload::start(const QVariantMap &updateInfo, const InstallLocation &location)
{
    if (m_running || m_unpacker)
        return -1;
    m_expected = -1;
    m_received = 0;
    m_error = 0;
    const QUrl url(updateInfo.value(QString::fromUtf8(AUKeys::DmgURL)).toString());
    if (!AUServiceAddress::isAcceptable(url)) {
        qCWarning(lcAutoUpdate) << "refusing to download" << url.toString() << "(not HTTPS)";
        return -1;
    }
    const QString name = AUDownloadName::fromUrl(url);
    if (name.isEmpty())
        return -1;
    const QString folder = platform::PlatformPaths::userFolder(platform::UserFolder::Desktop);
    if (!QDir().mkpath(folder))
        return -1;
    m_path = folder + QLatin1Char('/') + AUDownloadName::firstFree(folder, name);
    m_file.setFileName(m_path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        qCWarning(lcAutoUpdate) << "cannot create" << m_path << m_file.errorString();
        m_path.clear();
        return -1;
    }
    m_info = updateInfo;
    m_location = location;
    m_running = true;
    m_reply = m_network.get(AUServiceRequest::downloadRequest(url));
    AUServiceRequest::guardRedirects(m_reply);
    m_reply->setReadBufferSize(kReadChunk);
    connect(m_reply, &QNetworkReply::readyRead, this, &AUDownload::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &AUDownload::onFinished);
    (void)announce(kAUDownloadWillStart);
    return 0;
}

bool AUDownload::announce(int type)
{
    const QPointer<AUDownload> self(this);
    const quint64 generation = m_generation;
    m_notify(type);
    return self && generation == m_generation;
}

void AUDownload::onReadyRead()
{
    if (!m_reply)
        return;
    if (m_expected < 0) {
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid()) {
            if (length.toLongLong() > kMaxDownloadBytes) {
                fail(kAUDownloadErrorTransfer, QStringLiteral("the archive is larger than the updater accepts"));
                return;
            }
            m_expected = qint32(length.toLongLong());
        }
    }
    while (m_reply && m_reply->bytesAvailable() > 0) {
        const QByteArray chunk = m_reply->read(kReadChunk);
        if (m_received + chunk.size() > kMaxDownloadBytes) {
            fail(kAUDownloadErrorTransfer, QStringLiteral("the archive is larger than the updater accepts"));
            return;
        }
        if (m_file.write(chunk) != chunk.size()) {
            fail(kAUDownloadErrorTransfer, m_file.errorString());
            return;
        }
        m_received += chunk.size();
        if (!announce(kAUDownloadInProgress))
            return;
    }
}

void AUDownload::onFinished()
{
    if (!m_reply)
        return;
    onReadyRead();
    if (!m_reply)
        return;
    if (m_reply->error() != QNetworkReply::NoError) {
        qCWarning(lcAutoUpdate).noquote()
            << QStringLiteral("download error; domain=network; error=%1;").arg(int(m_reply->error()));
        fail(kAUDownloadErrorTransfer, m_reply->errorString());
        return;
    }
    m_reply->deleteLater();
    m_reply = nullptr;
    m_file.close();
    if (!matchesChecksum()) {
        fail(kAUDownloadErrorTransfer, QStringLiteral("the archive does not match its SHA256"));
        return;
    }
    if (!announce(kAUDownloadComplete))
        return;
    unpack();
}

bool AUDownload::matchesChecksum() const
{
    const QVariant expected = m_info.value(QString::fromUtf8(AUKeys::SHA256));
    if (!expected.isValid())
        return true;
    QFile file(m_path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return false;
    return QString::fromLatin1(hash.result().toHex()).compare(expected.toString().trimmed(), Qt::CaseInsensitive) == 0;
}

void AUDownload::unpack()
{
    m_unpackFolder = unpackFolderFor(m_path);
    if (!QDir().mkpath(m_unpackFolder)) {
        fail(kAUDownloadErrorOpen, QStringLiteral("cannot make %1").arg(m_unpackFolder));
        return;
    }
    const quint64 generation = m_generation;
    const QString archive = m_path;
    const QString folder = m_unpackFolder;
    auto result = std::make_shared<std::pair<bool, QString>>(false, QString());
    // Unpacking takes seconds; the caller's event loop keeps running meanwhile.
    m_unpacker = QThread::create([archive, folder, result] {
        QString error;
        result->first = AUArchiveExtractor::extract(archive, folder, &error);
        result->second = error;
    });
    connect(m_unpacker, &QThread::finished, this, [this, generation, folder, result] {
        m_unpacker->deleteLater();
        m_unpacker = nullptr;
        if (generation != m_generation) {
            // Aborted meanwhile: nothing of it stays.
            QDir(folder).removeRecursively();
            return;
        }
        onUnpacked(result->first, result->second);
    });
    m_unpacker->start();
    (void)announce(kAUDownloadOpening);
}

void AUDownload::onUnpacked(bool ok, const QString &error)
{
    if (!ok) {
        QDir(m_unpackFolder).removeRecursively();
        fail(kAUDownloadErrorOpen, error);
        return;
    }
    handOver();
}

void AUDownload::handOver()
{
    const QString executable
        = AUHandOver::findNewExecutable(m_unpackFolder, m_location.installFolder, m_location.relativeExecutable);
    bool started = false;
    if (executable.isEmpty())
        qCWarning(lcAutoUpdate) << "the archive" << m_path << "holds no" << m_location.installFolder;
    else
        started = AUHandOver::start(executable, m_location.installFolder);
    if (!announce(kAUDownloadHandedOver))
        return;
    cleanUp(true);
    // The new copy replaces this program's files: this one ends, cleanly.
    if (started)
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

void AUDownload::fail(int error, const QString &why)
{
    qCWarning(lcAutoUpdate) << "the update download failed:" << why;
    m_error = error;
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    if (!announce(kAUDownloadFailed))
        return;
    cleanUp(false);
}

void AUDownload::abort()
{
    cleanUp(false);
}

void AUDownload::cleanUp(bool keepFile)
{
    ++m_generation;
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    m_file.close();
    m_info.clear();
    m_expected = -1;
    m_received = 0;
    m_running = false;
    if (!keepFile && !m_path.isEmpty()) {
        QFile::remove(m_path);
        if (!m_unpackFolder.isEmpty() && !m_unpacker)
            QDir(m_unpackFolder).removeRecursively();
    }
    // A kept file is the user's now: nothing later (another clean-up, the updater's release)
    // removes it.
    m_path.clear();
    m_unpackFolder.clear();
}
