#include "UpdateTestServer.h"

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>

UpdateTestServer::UpdateTestServer(Mode mode)
    : m_mode(mode)
{
    if (mode == Tls && !makeCertificate())
        return;
    if (!listen(QHostAddress::LocalHost)) {
        m_error = errorString();
        return;
    }
    m_ready = true;
}

bool UpdateTestServer::makeCertificate()
{
    if (!QSslSocket::supportsSsl()) {
        m_error = QStringLiteral("this Qt has no TLS backend");
        return false;
    }
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
        { QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
            QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
            QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"),
            QStringLiteral("-keyout"), m_certificateDir.filePath(QStringLiteral("key.pem")), QStringLiteral("-out"),
            m_certificateDir.filePath(QStringLiteral("cert.pem")) });
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
        m_error = QStringLiteral("openssl could not make a certificate: ") + QString::fromLocal8Bit(openssl.readAll());
        return false;
    }
    const QList<QSslCertificate> certificates
        = QSslCertificate::fromPath(m_certificateDir.filePath(QStringLiteral("cert.pem")));
    if (certificates.isEmpty()) {
        m_error = QStringLiteral("the certificate openssl made does not load");
        return false;
    }
    // Trusted by this test process only.
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.addCaCertificates(certificates);
    QSslConfiguration::setDefaultConfiguration(config);
    return true;
}

QUrl UpdateTestServer::url(const QByteArray &path) const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3")
                    .arg(m_mode == Tls ? QStringLiteral("https") : QStringLiteral("http"))
                    .arg(serverPort())
                    .arg(QString::fromUtf8(path)));
}

void UpdateTestServer::incomingConnection(qintptr descriptor)
{
    if (m_mode == Plain) {
        auto *socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        serve(socket);
        return;
    }
    auto *socket = new QSslSocket(this);
    socket->setSocketDescriptor(descriptor);
    QFile certificate(m_certificateDir.filePath(QStringLiteral("cert.pem")));
    QFile key(m_certificateDir.filePath(QStringLiteral("key.pem")));
    if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) {
        socket->deleteLater();
        return;
    }
    socket->setLocalCertificate(QSslCertificate(&certificate, QSsl::Pem));
    socket->setPrivateKey(QSslKey(&key, QSsl::Rsa, QSsl::Pem));
    socket->startServerEncryption();
    serve(socket);
}

void UpdateTestServer::serve(QTcpSocket *socket)
{
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        ++m_closed;
        socket->deleteLater();
    });
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
        *buffer += socket->readAll();
        const qsizetype end = buffer->indexOf("\r\n\r\n");
        if (end < 0)
            return;
        Request request;
        const QList<QByteArray> lines = buffer->left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.path = first.value(1);
        qint64 length = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines.at(i).indexOf(':');
            if (colon < 0)
                continue;
            const QByteArray name = lines.at(i).left(colon).trimmed().toLower();
            request.headers.insert(name, lines.at(i).mid(colon + 1).trimmed());
            if (name == "content-length")
                length = lines.at(i).mid(colon + 1).trimmed().toLongLong();
        }
        if (buffer->size() < end + 4 + length)
            return;
        request.body = buffer->mid(end + 4, length);
        buffer->clear();
        m_requests.append(request);

        const Response response = m_routes.value(request.path, Response { 404, "not here", "text/plain" });
        QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " X\r\n";
        head += "Content-Type: " + response.contentType + "\r\n";
        if (!response.location.isEmpty())
            head += "Location: " + response.location + "\r\n";
        if (response.claimedLength >= 0)
            head += "Content-Length: " + QByteArray::number(response.claimedLength) + "\r\n";
        else if (response.sendLength)
            head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
        head += response.sendLength ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
        socket->write(head + "\r\n" + response.body);
        if (!response.sendLength && !response.stallAfterBody)
            socket->disconnectFromHost();
    });
}
