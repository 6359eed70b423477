#include "CommonRequest.h"

#include "HttpExchange.h"
#include "JSONDictionary.h"
#include "RequestGate.h"
#include "SecretMasking.h"
#include "settings/Logging.h"
#include "settings/NetworkState.h"
#include "settings/Reachability.h"
#include "settings/Utils.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <exception>

namespace {

const QString kLogin = QStringLiteral("userLoginProcess");
const QString kToken = QStringLiteral("getTokenProcess");
const QString kListing = QStringLiteral("getUserContentProcess");

// The reply's JSON object or array, or nothing for an empty or invalid body.
std::optional<QJsonDocument> parsedReply(const QByteArray &body) {
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || document.isNull())
        return std::nullopt;
    return document;
}

// Whether the body is one JSON object or array, as parsedReply would find,
// without building a document of it.
bool isJson(const QByteArray &body) {
    const char *begin = body.constData();
    const char *end = begin + body.size();
    const auto first = std::find_if_not(
        begin, end, [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; });
    return first != end && (*first == '{' || *first == '[') && nlohmann::json::accept(begin, end);
}

QString headersForLog(const QList<QPair<QByteArray, QByteArray>> &headers) {
    QStringList lines;
    for (const auto &[name, value] : headers) {
        const QString text = name == "Cookie" ? SecretMasking::masked(QString::fromUtf8(value))
                                              : QString::fromUtf8(value);
        lines << QStringLiteral("    %1: %2").arg(QString::fromLatin1(name), text);
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

void CommonRequest::fail(const QString &why) {
    m_error = true;
    m_errorString = why;
}

std::optional<QString> CommonRequest::serviceNameForProcess(const QString &processName) {
    static const QHash<QString, QString> paths = {
        {QStringLiteral("userLoginProcess"), QStringLiteral("userJson")},
        {QStringLiteral("signUpUserProcess"), QStringLiteral("userJson")},
        {QStringLiteral("getTokenProcess"), QStringLiteral("userJson")},
        {QStringLiteral("sendStatusProcess"), QStringLiteral("userJson")},
        {QStringLiteral("getUserContentProcess"), QStringLiteral("rest/medias/sync")},
        {QStringLiteral("setUserGNHandle"), QStringLiteral("rest/user/updateGracenoteUser")},
        {QStringLiteral("createUserMediaFromCatalog"),
         QStringLiteral("rest/userContent/createUserMediaFromCatalog")},
        {QStringLiteral("createMediaProcess"), QStringLiteral("userContentJson")},
        {QStringLiteral("retireUserMedia"), QStringLiteral("rest/userContent/retireUserMedia")},
        {QStringLiteral("userLogOutProcess"), QStringLiteral("rest/user/logout")},
    };
    const auto it = paths.constFind(processName);
    if (it == paths.constEnd())
        return std::nullopt;
    return *it;
}

std::optional<QByteArray> CommonRequest::connect(const RunContext &context,
                                                 const std::optional<QByteArray> &dataToSend,
                                                 const QString &withServiceName) {
    if (!RequestGate::allows(context, withServiceName)) {
        fail(QStringLiteral("Not sent: a dry run changes nothing on the service."));
        return std::nullopt;
    }
    if (NetworkState::offline()) {
        qCInfo(lcService).noquote() << QStringLiteral("!!! APP OFFLINE  %1").arg(1);
        fail(QStringLiteral("The service cannot be reached: the network is offline."));
        return std::nullopt;
    }
    if (!dataToSend) {
        // A builder that could not make a body: nothing is sent.
        qCWarning(lcService).noquote()
            << QStringLiteral("No request body for %1; nothing sent").arg(withServiceName);
        fail(QStringLiteral("The request could not be made."));
        return std::nullopt;
    }
    try {
        return exchange(context, *dataToSend, withServiceName);
    } catch (const std::exception &e) {
        fail(QStringLiteral("The exchange with the service failed."));
        Utils::sendException(QStringLiteral("Error on CommonRequest.connect:dataToSend"),
                             QString::fromUtf8(e.what()));
    } catch (...) {
        fail(QStringLiteral("The exchange with the service failed."));
        Utils::sendException(QStringLiteral("Error on CommonRequest.connect:dataToSend"),
                             QStringLiteral("unknown error"));
    }
    return std::nullopt;
}

std::optional<QByteArray> CommonRequest::exchange(const RunContext &context, const QByteArray &body,
                                                  const QString &processName) {
    m_serviceName = serviceNameForProcess(processName).value_or(QString());
    const QString urlText =
        QStringLiteral("%1/Vexmusic/%2").arg(m_client.gatewayBaseUrl(), m_serviceName);

    QNetworkRequest request{QUrl(urlText)};
    m_client.applyTls(request);
    QList<QPair<QByteArray, QByteArray>> headers = {
        {"Accept", "application/json"},
        {"Content-Type", "application/json"},
        {"Data-Type", "json"},
        {"Content-Length", QByteArray::number(body.size())},
    };
    if (const std::optional<QString> &session = context.session) {
        QByteArray value = session->toUtf8();
        if (value.isNull())
            value = QByteArray("", 0); // an empty header, not a missing one
        headers.append({"Cookie", value});
    }
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);

    qCInfo(lcService).noquote()
        << QStringLiteral("REQUEST HEADER: \n%1\n").arg(headersForLog(headers));
    qCInfo(lcService).noquote() << QStringLiteral("REQUEST BODY: %1 \n%2\n\n")
                                       .arg(urlText, SecretMasking::bodyForLog(body));

    const qint64 maximumSize =
        processName == kListing ? m_client.maximumListingSize() : m_client.maximumReplySize();
    const HttpResult reply = HttpExchange::post(request, body, m_client.timeout(), maximumSize);

    const QString replyForLog = processName == kToken
                                    ? SecretMasking::masked(QString::fromUtf8(reply.body))
                                    : SecretMasking::bodyForLog(reply.body);
    qCInfo(lcService).noquote() << QStringLiteral("REQUEST RETURN #1: %1 | %2\n%3 \n\n")
                                       .arg(reply.status)
                                       .arg(urlText, replyForLog);

    if (reply.setCookie && processName == kLogin) {
        // Several Set-Cookie fields arrive joined by new-lines; a header we
        // send back must stay on one line.
        QByteArray cookie = *reply.setCookie;
        cookie.replace('\n', ", ");
        m_receivedSession = QString::fromUtf8(cookie);
    }

    if (reply.connectionError) {
        qCWarning(lcService).noquote()
            << QStringLiteral("Service: %1 | Return Error ERROR: %2 | Response Code: %3")
                   .arg(m_serviceName, reply.errorString)
                   .arg(reply.status);
        fail(reply.errorString);
        // The network may have gone: let the monitors find out now rather
        // than at their next round.
        Reachability::probeNow();
        if (reply.body.isEmpty())
            return std::nullopt;
        return reply.body;
    }
    if (reply.status != 200 && reply.status != 204)
        return reply.body;
    if (processName == kToken)
        return reply.body;

    // A listing is only checked here: its reader makes the tracks as it
    // parses, and a document of a large listing would cost more than they do.
    const bool listing = processName == kListing;
    const std::optional<QJsonDocument> parsed = listing ? std::nullopt : parsedReply(reply.body);
    if (listing ? !isJson(reply.body) : !parsed) {
        fail(QStringLiteral("The service's reply could not be read."));
        qCWarning(lcService).noquote()
            << QStringLiteral("!=!=! NULL RESPONSE for %1 | %2").arg(urlText, processName);
        return std::nullopt;
    }
    qCInfo(lcService).noquote() << QStringLiteral("REQUEST RETURN #2: %1 | %2\n%3 \n\n")
                                       .arg(reply.status)
                                       .arg(urlText, SecretMasking::bodyForLog(reply.body));
    if (parsed) {
        if (processName == kLogin && parsed->isObject())
            copyLoginReply(context.account, parsed->object());
        m_replyDocument = *parsed;
    }
    return reply.body;
}

void CommonRequest::copyLoginReply(const UserPtr &user, const QJsonObject &reply) {
    if (!user)
        return;
    if (const auto v = JSONValues::text(reply, QStringLiteral("firstName")))
        user->firstName = v;
    if (const auto v = JSONValues::text(reply, QStringLiteral("lastName")))
        user->lastName = v;
    if (const auto v = JSONValues::text(reply, QStringLiteral("gracenoteUser")))
        user->gracenoteUser = v;
    // A Facebook account learns its user name from the reply.
    if (!user->username) {
        if (const auto v = JSONValues::text(reply, QStringLiteral("userName")))
            user->username = v;
    }
}
