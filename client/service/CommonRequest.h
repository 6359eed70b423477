#pragma once

#include "ServiceClient.h"
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
// The exchange goes to the client's gateway with the client's time-out and
// reply limits as they were when the request was made.
class CommonRequest {
public:
    explicit CommonRequest(const ServiceClient &client)
        : m_client(client) {}

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

private:
    std::optional<QByteArray> exchange(const RunContext &context, const QByteArray &body,
                                       const QString &processName);
    void copyLoginReply(const UserPtr &user, const QJsonObject &reply);

    void fail(const QString &why);

    const ServiceClient m_client;
    QString m_serviceName;
    bool m_error = false;
    QString m_errorString;
    QJsonDocument m_replyDocument;
    std::optional<QString> m_receivedSession;
};
