#include "autoupdate/AUServiceRequest.h"

#include "autoupdate/AULog.h"
#include "autoupdate/AUServiceAddress.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace {

constexpr int kTransferTimeoutMs = 60000;

QNetworkRequest baseRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("CorvaneAutoUpdate"));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setTransferTimeout(kTransferTimeoutMs);
    return request;
}

} // namespace

QNetworkRequest AUServiceRequest::checkRequest(const QUrl &url)
{
    QNetworkRequest request = baseRequest(url);
    request.setRawHeader(QByteArrayLiteral("Accept"), QByteArrayLiteral("text/xml"));
    return request;
}

QNetworkRequest AUServiceRequest::downloadRequest(const QUrl &url)
{
    return baseRequest(url);
}

void AUServiceRequest::guardRedirects(QNetworkReply *reply)
{
    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply](const QUrl &target) {
        if (AUServiceAddress::isAcceptable(target)) {
            Q_EMIT reply->redirectAllowed();
        } else {
            qCWarning(lcAutoUpdate) << "refusing the redirect to" << target.toString();
            reply->abort();
        }
    });
}

AUServiceRequest::Answer AUServiceRequest::checkSync(const QUrl &url)
{
    Answer answer;
    if (!AUServiceAddress::isAcceptable(url)) {
        answer.error = QStringLiteral("refusing %1: not HTTPS").arg(url.toString());
        return answer;
    }
    QNetworkAccessManager network;
    QEventLoop loop;
    QNetworkReply *reply = network.post(checkRequest(url), QByteArray());
    guardRedirects(reply);
    bool tooLarge = false;
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        if (answer.body.size() + reply->bytesAvailable() > kMaxAnswerBytes) {
            tooLarge = true;
            reply->abort();
            return;
        }
        answer.body += reply->readAll();
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    if (!tooLarge && answer.body.size() + reply->bytesAvailable() <= kMaxAnswerBytes)
        answer.body += reply->readAll();
    else
        tooLarge = true;
    if (tooLarge) {
        answer.body.clear();
        answer.error
            = QStringLiteral("the answer of %1 is larger than %2 bytes").arg(url.toString()).arg(kMaxAnswerBytes);
    } else if (reply->error() != QNetworkReply::NoError
        && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isNull()) {
        answer.body.clear();
        answer.error = reply->errorString();
    } else {
        answer.received = true;
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (answer.status != 200)
            answer.error = QStringLiteral("status %1").arg(answer.status);
    }
    delete reply;
    return answer;
}
