// The HTTP side of the updater: the requests it sends and a bounded, blocking check.
//
// Redirects are followed only to addresses AUServiceAddress accepts.
#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

class QNetworkReply;

class AUServiceRequest {
public:
    // Answers larger than this are not answers of the update service.
    static constexpr qint64 kMaxAnswerBytes = 1024 * 1024;

    struct Answer {
        bool received = false; // false: no response (or too large); status and body are empty
        int status = 0;
        QByteArray body;
        QString error;
    };

    // POST, "User-Agent: CorvaneAutoUpdate", "Accept: text/xml", no body.
    static QNetworkRequest checkRequest(const QUrl &url);
    // GET, "User-Agent: CorvaneAutoUpdate".
    static QNetworkRequest downloadRequest(const QUrl &url);
    // Allows each redirect of reply only to an acceptable address; aborts it otherwise.
    static void guardRedirects(QNetworkReply *reply);

    // Sends the check and waits for the whole answer on a private event loop of the calling
    // thread.
    static Answer checkSync(const QUrl &url);
};
