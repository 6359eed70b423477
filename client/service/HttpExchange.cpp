#include "HttpExchange.h"

#include <QEventLoop>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

namespace {

// Errors that carry an HTTP status (4xx/5xx) are replies, not failed exchanges.
bool isHttpStatusError(QNetworkReply::NetworkError error) {
    return (error >= QNetworkReply::ContentAccessDenied &&
            error <= QNetworkReply::UnknownContentError) ||
           (error >= QNetworkReply::InternalServerError &&
            error <= QNetworkReply::UnknownServerError);
}

} // namespace

HttpResult HttpExchange::post(QNetworkRequest request, const QByteArray &body, int idleTimeoutMs,
                              qint64 maximumReplyBytes) {
    HttpResult result;
    // The session cookie is managed by the caller, never by a cookie jar.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);

    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.post(request, body);
    QEventLoop loop;
    QTimer idle;
    idle.setSingleShot(true);
    bool timedOut = false;
    bool tooLarge = false;

    const auto progress = [&] { idle.start(idleTimeoutMs); };
    QObject::connect(&idle, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] {
        progress();
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > maximumReplyBytes) {
            tooLarge = true;
            reply->abort();
        } else if (length.isValid() && length.toLongLong() > 0) {
            // One allocation of the announced size: growing by doubling
            // would need up to twice the memory of a large listing.
            result.body.reserve(length.toLongLong());
        }
    });
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        progress();
        if (tooLarge)
            return;
        const qint64 room = maximumReplyBytes - result.body.size();
        // Never ask for more than is there: read() sizes its buffer by the request.
        const QByteArray chunk = reply->read(qMin(reply->bytesAvailable(), room + 1));
        if (chunk.size() > room) {
            tooLarge = true;
            result.body.clear();
            reply->abort();
            return;
        }
        result.body.append(chunk);
    });
    QObject::connect(reply, &QNetworkReply::uploadProgress, &loop, progress);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    progress();
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    idle.stop();

    if (!tooLarge && !timedOut && reply->bytesAvailable() > 0) {
        const qint64 room = maximumReplyBytes - result.body.size();
        const QByteArray rest = reply->read(qMin(reply->bytesAvailable(), room + 1));
        if (rest.size() > room)
            tooLarge = true;
        else
            result.body.append(rest);
    }

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    result.status = status.isValid() ? status.toInt() : 0;
    if (reply->hasRawHeader("Set-Cookie"))
        result.setCookie = reply->rawHeader("Set-Cookie");

    const QNetworkReply::NetworkError error = reply->error();
    if (timedOut) {
        result.connectionError = true;
        result.errorString = QStringLiteral("The request timed out.");
    } else if (tooLarge) {
        result.connectionError = true;
        result.errorString = QStringLiteral("The reply is larger than %1.")
                                 .arg(QLocale::c().formattedDataSize(maximumReplyBytes, 0));
    } else if (error != QNetworkReply::NoError && !isHttpStatusError(error)) {
        result.connectionError = true;
        result.errorString = reply->errorString();
    }
    if (tooLarge)
        result.body.clear();
    delete reply;
    return result;
}
