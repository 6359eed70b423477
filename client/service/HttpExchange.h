#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkRequest>
#include <QPair>
#include <QString>

#include <optional>

// One synchronous HTTP POST: runs its own network manager and event loop on
// the calling thread and returns when the reply is complete, the connection
// fails, nothing has moved for `idleTimeoutMs`, or the reply grows beyond
// `maximumReplyBytes` (which counts as a failed exchange, so a hostile or
// broken server cannot exhaust memory).
struct HttpResult {
    // The exchange failed below HTTP (refused, reset, time-out, too large).
    bool connectionError = false;
    QString errorString;
    int status = 0; // 0 when no HTTP reply arrived
    QByteArray body;
    std::optional<QByteArray> setCookie;
};

class HttpExchange {
public:
    static HttpResult post(QNetworkRequest request, const QByteArray &body, int idleTimeoutMs,
                           qint64 maximumReplyBytes);
};
