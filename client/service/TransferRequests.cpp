#include "TransferRequests.h"

#include "JSONDictionary.h"
#include "settings/Utility.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace TransferRequests {

namespace {

const QByteArray kUploadPath = "/Vexmusic/controllers/DesktopUploadMedia";

QByteArray gateway(const ServiceClient &client) {
    return client.gatewayBaseUrl().toUtf8();
}

// Percent escapes for the query: what may not stand in an address, and the
// characters that would change what the service reads ('#' ends the query,
// '%' starts an escape, '+' reads as a space); "&", "=", "?" and "/" stay.
QString escapedForQuery(const QString &text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text, "!$&'()*,;=:@/?"));
}

void withSession(QNetworkRequest &request, const RunContext &context) {
    if (context.session)
        request.setRawHeader("Cookie", context.session->toUtf8());
}

} // namespace

QString uploadFileName(const Audio &track) {
    const QString name = track.name.value_or(QString());
    if (name.isEmpty())
        return QStringLiteral("Unknown-%1").arg(track.checksum.value_or(QString()));
    if (track.fileExtension && !track.fileExtension->isEmpty() && track.songName &&
        !track.songName->isEmpty())
        return escapedForQuery(QStringLiteral("%1.%2").arg(*track.songName, *track.fileExtension));
    return escapedForQuery(name);
}

QByteArray uploadAddress(const ServiceClient &client, const Audio &track) {
    return QByteArray(gateway(client))
        .append(kUploadPath)
        .append("?fileName=")
        .append(uploadFileName(track).toLatin1());
}

QNetworkRequest upload(const ServiceClient &client, const QByteArray &address,
                       const RunContext &context, const QByteArray &boundary, qint64 size,
                       qint64 fileSize, int timeoutMs) {
    // Parsed from its encoded form, the address is neither escaped again nor
    // unescaped.
    QNetworkRequest request(QUrl::fromEncoded(address));
    client.applyTls(request);
    request.setRawHeader("Content-Type",
                         QByteArray("multipart/form-data; boundary=").append(boundary));
    withSession(request, context);
    request.setRawHeader("mobileUpload", "true");
    request.setHeader(QNetworkRequest::ContentLengthHeader, size);
    // The file's own size lets the server pass the file on to its storage
    // while it arrives rather than after.
    request.setRawHeader("X-File-Size", QByteArray::number(fileSize));
    // Without this Qt reads a sequential body whole into memory before it
    // sends a byte; with the length known it streams it as the socket drains.
    request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
    request.setTransferTimeout(timeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    return request;
}

QNetworkRequest uploadSizeCheck(const ServiceClient &client, const RunContext &context, qint64 size,
                                int timeoutMs) {
    QNetworkRequest request(QUrl::fromEncoded(QByteArray(gateway(client))
                                                  .append(kUploadPath)
                                                  .append("?fileSize=")
                                                  .append(QByteArray::number(size))));
    client.applyTls(request);
    withSession(request, context);
    request.setTransferTimeout(timeoutMs);
    return request;
}

UploadReply readUploadReply(const QByteArray &body) {
    UploadReply reply;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        reply.parseError = error.errorString();
        return reply;
    }
    reply.parsed = true;
    const QJsonArray content =
        document.object().value(QStringLiteral("purchasedContent")).toArray();
    if (!content.isEmpty())
        reply.mediaID = JSONValues::identifier(content.first().toObject(), QStringLiteral("id"));
    return reply;
}

QUrl downloadAddress(const ServiceClient &client, const RunContext &context,
                     const QString &mediaID) {
    const QString session =
        Utility::getValidJSessionID(context.session.value_or(QString())).value_or(QString());
    return QUrl::fromEncoded(QByteArray(gateway(client))
                                 .append("/Vexmusic/rest/downloadController/redirectToCdnDownload/")
                                 .append(QUrl::toPercentEncoding(mediaID))
                                 .append("/?jsessionId=")
                                 .append(QUrl::toPercentEncoding(session)));
}

QNetworkRequest download(const ServiceClient &client, const QUrl &url, const RunContext &context,
                         bool withCredentials, int timeoutMs, Credentials *sent) {
    QNetworkRequest request(url);
    client.applyTls(request);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(timeoutMs);
    Credentials carried = Credentials::None;
    if (withCredentials) {
        const UserPtr user = context.account;
        const QString username = user ? user->username.value_or(QString()) : QString();
        const QString password = user ? user->password.value_or(QString()) : QString();
        if (!username.isEmpty() && !password.isEmpty()) {
            request.setRawHeader("USERNAME", username.toUtf8());
            request.setRawHeader("PASSWORD", password.toUtf8());
            carried = Credentials::Password;
        } else {
            const QString token = user ? user->facebookToken.value_or(QString()) : QString();
            request.setRawHeader("FACEBOOK_TOKEN", token.toUtf8());
            carried = Credentials::FacebookToken;
        }
    }
    if (sent)
        *sent = carried;
    return request;
}

} // namespace TransferRequests
