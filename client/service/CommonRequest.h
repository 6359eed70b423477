#pragma once

#include "store/RunContext.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <optional>

// One JSON exchange with the service's desktop gateway: a POST of a ready
// body to the path that the process name selects, with the session cookie of
// the context it is made for. Create one per exchange, call connect() once
// (off the main thread: it blocks until the reply arrives), then read error().
class CommonRequest {
public:
    // Sends `dataToSend` for the process `withServiceName`. Answers the reply
    // body, or nothing. `error()` tells whether the exchange failed; an HTTP
    // status other than 200/204 is not a failure here (the reply parsers judge
    // the contents).
    // A sign-in's reply fills the names of the context's account in.
    std::optional<QByteArray> connect(const RunContext &context,
                                      const std::optional<QByteArray> &dataToSend,
                                      const QString &withServiceName);

    bool error() const { return m_error; }
    void setError(bool error) { m_error = error; }
    // Why the exchange failed, in words for a person (empty when it did not,
    // or when only the reply's contents can tell).
    QString errorString() const { return m_errorString; }
    // The reply of connect() as the transport parsed it (a JSON reply of
    // status 200 or 204, but a listing, which is only checked); null otherwise.
    const QJsonDocument &replyDocument() const { return m_replyDocument; }
    // The session cookie that a sign-in's reply set (several joined on one
    // line); nothing when it set none.
    std::optional<QString> receivedSession() const { return m_receivedSession; }
    // The service path chosen by the last connect(); empty before.
    QString serviceName() const { return m_serviceName; }

    // The service path of a process name, or nothing for an unknown name.
    static std::optional<QString> serviceNameForProcess(const QString &processName);

    // The exchange fails when nothing moves for this long (60 s by default;
    // tests shorten it).
    static void setTimeout(int milliseconds);
    static int timeout();
    // Replies larger than this fail the exchange (64 MiB by default), so that
    // a broken or hostile server cannot exhaust memory.
    static void setMaximumReplySize(qint64 bytes);
    static qint64 maximumReplySize();
    // The cloud library listing has a limit of its own: a full listing grows
    // with the library (about 250 bytes a track), and one of a million
    // tracks must still arrive (1 GiB by default).
    static void setMaximumListingSize(qint64 bytes);
    static qint64 maximumListingSize();
    // The limit that applies to the replies of a process.
    static qint64 maximumReplySizeFor(const QString &processName);
    static constexpr int DefaultTimeout = 60 * 1000;
    static constexpr qint64 DefaultMaximumReplySize = 64 * 1024 * 1024;
    static constexpr qint64 DefaultMaximumListingSize = 1024 * 1024 * 1024;

private:
    std::optional<QByteArray> exchange(const RunContext &context, const QByteArray &body,
                                       const QString &processName);
    void copyLoginReply(const UserPtr &user, const QJsonObject &reply);

    void fail(const QString &why);

    QString m_serviceName;
    bool m_error = false;
    QString m_errorString;
    QJsonDocument m_replyDocument;
    std::optional<QString> m_receivedSession;
};
