#pragma once

#include "ServiceClient.h"
#include "store/Audio.h"
#include "store/RunContext.h"

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

#include <optional>

// The requests of the upload and download stages and the reply to an upload:
// the gateway's addresses, the session and credentials each one carries, and
// what the service answers. The stages send them and follow the transfers.
namespace TransferRequests {

// The file name the service is told in the upload address, already
// percent-escaped for the query.
QString uploadFileName(const Audio &track);
// The address on the client's gateway a track is uploaded to; its bytes go
// out exactly as built.
QByteArray uploadAddress(const ServiceClient &client, const Audio &track);
// The multipart POST of `size` bytes separated by `boundary`, with the
// context's session, carrying a file of `fileSize` bytes. A redirect is not
// followed: the body cannot be sent twice.
QNetworkRequest upload(const ServiceClient &client, const QByteArray &address,
                       const RunContext &context, const QByteArray &boundary, qint64 size,
                       qint64 fileSize, int timeoutMs);
// Asks whether the service takes a file of `size` bytes (why an upload was
// cut off while it was sent).
QNetworkRequest uploadSizeCheck(const ServiceClient &client, const RunContext &context, qint64 size,
                                int timeoutMs);

// What the service answered to an upload.
struct UploadReply {
    bool parsed = false;
    QString parseError; // when not parsed
    // The media ID it gave the upload, when it named one.
    std::optional<QString> mediaID;
};
UploadReply readUploadReply(const QByteArray &body);

// The gateway address that redirects to a song's file, with the context's
// session.
QUrl downloadAddress(const ServiceClient &client, const RunContext &context,
                     const QString &mediaID);
// What a download request carries to prove who asks.
enum class Credentials { None, Password, FacebookToken };
// A GET of `url` that follows no redirect by itself. With `credentials`, the
// context's account goes along: its user name and password when it has both,
// otherwise its Facebook token.
QNetworkRequest download(const ServiceClient &client, const QUrl &url, const RunContext &context,
                         bool withCredentials, int timeoutMs, Credentials *sent = nullptr);

} // namespace TransferRequests
