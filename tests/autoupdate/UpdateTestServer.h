// A small HTTP/1.1 server on 127.0.0.1 for the updater's tests, plain or TLS with a
// self-signed certificate made by openssl when the test starts. The certificate is trusted
// only inside the test process (added to its default SSL configuration).
//
//   UpdateTestServer server(UpdateTestServer::Tls);
//   server.route("/check", { 200, answerXml });
//   QUrl url = server.url("/check");
//
// Main thread.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrl>

class QTcpSocket;

class UpdateTestServer : public QTcpServer {
    Q_OBJECT

public:
    enum Mode { Plain, Tls };

    struct Response {
        Response(int status_ = 200, QByteArray body_ = {}, QByteArray contentType_ = "text/xml",
            bool sendLength_ = true, qint64 claimedLength_ = -1, bool stallAfterBody_ = false)
            : status(status_)
            , body(std::move(body_))
            , contentType(std::move(contentType_))
            , sendLength(sendLength_)
            , claimedLength(claimedLength_)
            , stallAfterBody(stallAfterBody_)
        {
        }
        int status = 200;
        QByteArray body;
        QByteArray contentType = "text/xml";
        bool sendLength = true; // false: the body ends when the connection closes
        qint64 claimedLength = -1; // a Content-Length that differs from the body
        bool stallAfterBody = false; // keep the connection open after the body, never end it
        QByteArray location = {}; // where a redirect sends the client
    };

    struct Request {
        QByteArray method;
        QByteArray path;
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };

    explicit UpdateTestServer(Mode mode);
    // False (with the reason in error()) when the server or its certificate could not be made.
    bool isReady() const { return m_ready; }
    QString error() const { return m_error; }

    void route(const QByteArray &path, const Response &response) { m_routes.insert(path, response); }
    QUrl url(const QByteArray &path) const;
    const QList<Request> &requests() const { return m_requests; }
    // Connections the client has closed.
    int closedConnections() const { return m_closed; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void serve(QTcpSocket *socket);
    bool makeCertificate();

    Mode m_mode;
    bool m_ready = false;
    QString m_error;
    QTemporaryDir m_certificateDir;
    QMap<QByteArray, Response> m_routes;
    QList<Request> m_requests;
    int m_closed = 0;
};
