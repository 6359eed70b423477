#include "GatewayFixture.h"

#include "service/CommonRequest.h"
#include "service/ServiceReporting.h"
#include "settings/NetworkState.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

using scripted::Reply;
using scripted::Request;

namespace {

class CommonRequestTest : public GatewayFixture {
protected:
    std::optional<QByteArray> send(const QByteArray &body, const QString &process,
                                   bool *error = nullptr, const RunContext &context = {}) {
        CommonRequest request(client);
        const auto reply = request.connect(context, body, process);
        if (error)
            *error = request.error();
        return reply;
    }
};

RunContext signedIn(const UserPtr &account, const std::optional<QString> &session) {
    return RunContext{account, session, QStringLiteral("DEVICE-1")};
}

} // namespace

TEST_F(CommonRequestTest, SendsThePostWithItsHeadersInOrder) {
    server->setHandler([](const Request &) { return Reply::json(R"({"responseStatus":"OK"})"); });
    // Multi-byte names: the length is counted in bytes, not characters.
    const QByteArray body = QStringLiteral(R"({"name":"Björk – Jóga"})").toUtf8();
    ASSERT_NE(body.size(), QStringLiteral(R"({"name":"Björk – Jóga"})").size());

    bool error = true;
    const auto reply = send(body, QStringLiteral("userLoginProcess"), &error);
    EXPECT_FALSE(error);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, R"({"responseStatus":"OK"})");

    const QList<Request> requests = server->requests();
    ASSERT_EQ(requests.size(), 1);
    const Request &r = requests.first();
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/Vexmusic/userJson");
    EXPECT_EQ(r.body, body);
    // Our four headers follow each other in this order; the HTTP stack adds
    // its own (Host first, Connection ... after them).
    const QList<QByteArray> names = r.headerNames();
    const qsizetype accept = names.indexOf("Accept");
    ASSERT_GE(accept, 0);
    EXPECT_LE(accept, 1) << "only Host may precede them";
    EXPECT_EQ(names.mid(accept, 4),
              (QList<QByteArray>{"Accept", "Content-Type", "Data-Type", "Content-Length"}));
    EXPECT_EQ(r.header("Accept"), "application/json");
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    EXPECT_EQ(r.header("Data-Type"), "json");
    EXPECT_EQ(r.header("Content-Length"), QByteArray::number(body.size()));
    EXPECT_FALSE(r.header("Cookie")) << "the context has no session";
}

TEST_F(CommonRequestTest, ProcessNamesSelectTheirPaths) {
    server->setHandler([](const Request &) { return Reply::json("{}"); });
    const QList<QPair<QString, QByteArray>> table = {
        {"userLoginProcess", "/Vexmusic/userJson"},
        {"signUpUserProcess", "/Vexmusic/userJson"},
        {"getTokenProcess", "/Vexmusic/userJson"},
        {"sendStatusProcess", "/Vexmusic/userJson"},
        {"getUserContentProcess", "/Vexmusic/rest/medias/sync"},
        {"setUserGNHandle", "/Vexmusic/rest/user/updateGracenoteUser"},
        {"createUserMediaFromCatalog", "/Vexmusic/rest/userContent/createUserMediaFromCatalog"},
        {"createMediaProcess", "/Vexmusic/userContentJson"},
        {"userLogOutProcess", "/Vexmusic/rest/user/logout"},
    };
    for (const auto &[process, path] : table) {
        CommonRequest request(client);
        request.connect({}, "{}", process);
        EXPECT_EQ(request.serviceName(), QString::fromLatin1(path.mid(10)))
            << process.toStdString();
    }
    const QList<Request> requests = server->requests();
    ASSERT_EQ(requests.size(), table.size());
    for (int i = 0; i < table.size(); ++i)
        EXPECT_EQ(requests.at(i).target, table.at(i).second);
    EXPECT_FALSE(CommonRequest::serviceNameForProcess(QStringLiteral("noSuchProcess")));
}

TEST_F(CommonRequestTest, TheCookieIsTheContextsSessionAndOnlyASignInHandsOneBack) {
    // Replies carry these Set-Cookie fields.
    const auto replyWithCookies = [this](const QList<QByteArray> &setCookies) {
        server->setHandler([setCookies](const Request &) {
            Reply reply = Reply::json("{}");
            for (const QByteArray &cookie : setCookies)
                reply.headers.append(qMakePair(QByteArray("Set-Cookie"), cookie));
            return reply;
        });
    };
    const QString session = QStringLiteral("JSESSIONID=abc123; Path=/Vexmusic; HttpOnly");
    replyWithCookies({session.toUtf8()});

    CommonRequest login(client);
    login.connect({}, "{}", QStringLiteral("userLoginProcess"));
    EXPECT_EQ(login.receivedSession(), session);
    // Replies to other processes hand no session back.
    CommonRequest status(client);
    status.connect({}, "{}", QStringLiteral("sendStatusProcess"));
    EXPECT_FALSE(status.receivedSession());
    // The transport keeps nothing: a context without a session sends none,
    // whatever a sign-in received before.
    EXPECT_FALSE(server->requests().last().header("Cookie"));

    // The context's session is sent verbatim.
    send("{}", QStringLiteral("getUserContentProcess"), nullptr, signedIn({}, session));
    EXPECT_EQ(server->requests().last().header("Cookie"), session.toUtf8());
    // Two contexts, two sessions: each request carries its own.
    send("{}", QStringLiteral("getUserContentProcess"), nullptr,
         signedIn({}, QStringLiteral("JSESSIONID=other")));
    EXPECT_EQ(server->requests().last().header("Cookie"), "JSESSIONID=other");
    // After a log-out the header is sent, empty.
    send("{}", QStringLiteral("getUserContentProcess"), nullptr, signedIn({}, QString()));
    EXPECT_EQ(server->requests().last().header("Cookie"), QByteArray(""));

    // A sign-in's reply without Set-Cookie hands nothing back.
    replyWithCookies({});
    CommonRequest without(client);
    without.connect(signedIn({}, session), "{}", QStringLiteral("userLoginProcess"));
    EXPECT_FALSE(without.receivedSession());

    // Several cookies come back on one line, as a header we can send again.
    replyWithCookies({"JSESSIONID=s2; Path=/", "route=r7"});
    CommonRequest several(client);
    several.connect({}, "{}", QStringLiteral("userLoginProcess"));
    EXPECT_EQ(several.receivedSession(), QStringLiteral("JSESSIONID=s2; Path=/, route=r7"));
}

TEST_F(CommonRequestTest, LoginReplyFillsTheContextsAccount) {
    const auto replyWith = [this](const QByteArray &body) {
        server->setHandler([body](const Request &) { return Reply::json(body); });
    };
    // A Facebook account has no user name until the reply names it.
    replyWith(R"({"responseStatus":"SUCCESS","firstName":"Ada","lastName":"Byron",
                          "gracenoteUser":"gn-handle","userName":"ada@example.com"})");
    auto user = std::make_shared<User>();
    user->facebookToken = QStringLiteral("fb");
    CommonRequest request(client);
    request.connect(signedIn(user, std::nullopt), "{}", QStringLiteral("userLoginProcess"));
    EXPECT_EQ(user->firstName, QStringLiteral("Ada"));
    EXPECT_EQ(user->lastName, QStringLiteral("Byron"));
    EXPECT_EQ(user->gracenoteUser, QStringLiteral("gn-handle"));
    EXPECT_EQ(user->username, QStringLiteral("ada@example.com"));

    // An account with a user name keeps it; wrong types and absent members
    // store nothing.
    replyWith(R"({"firstName":42,"lastName":null,"userName":"other@example.com"})");
    auto second = std::make_shared<User>(*user);
    CommonRequest again(client);
    again.connect(signedIn(second, std::nullopt), "{}", QStringLiteral("userLoginProcess"));
    EXPECT_EQ(second->firstName, QStringLiteral("Ada"));
    EXPECT_EQ(second->lastName, QStringLiteral("Byron"));
    EXPECT_EQ(second->gracenoteUser, QStringLiteral("gn-handle"));
    EXPECT_EQ(second->username, QStringLiteral("ada@example.com"));

    // Without an account there is nothing to fill in, and the reply still arrives.
    CommonRequest nobody(client);
    EXPECT_TRUE(nobody.connect({}, "{}", QStringLiteral("userLoginProcess")));
    EXPECT_FALSE(nobody.error());

    // Other processes never touch the account.
    replyWith(R"({"firstName":"Changed","userName":"changed@example.com"})");
    auto unnamed = std::make_shared<User>();
    CommonRequest other(client);
    other.connect(signedIn(unnamed, std::nullopt), "{}", QStringLiteral("sendStatusProcess"));
    EXPECT_FALSE(unnamed->firstName);
    EXPECT_FALSE(unnamed->username);
}

TEST_F(CommonRequestTest, StatusAndBodyRules) {
    bool error = false;
    // 204 with an empty body is a failure for a JSON process ...
    server->setHandler([](const Request &) { return Reply::json("", 204); });
    LogCapture log;
    EXPECT_FALSE(send("{}", QStringLiteral("sendStatusProcess"), &error));
    EXPECT_TRUE(error);
    EXPECT_TRUE(log.contains(QStringLiteral("!=!=! NULL RESPONSE for ")));
    // ... but the token reply is not parsed.
    server->setHandler([](const Request &) { return Reply::json("plain token text"); });
    EXPECT_EQ(send("{}", QStringLiteral("getTokenProcess"), &error), "plain token text");
    EXPECT_FALSE(error);

    // Other statuses return their body and are not failures here.
    server->setHandler([](const Request &) {
        Reply reply = Reply::json("<html><body>Internal error</body></html>", 500);
        reply.headers = {{"Content-Type", "text/html"}};
        return reply;
    });
    EXPECT_EQ(send("{}", QStringLiteral("userLoginProcess"), &error),
              "<html><body>Internal error</body></html>");
    EXPECT_FALSE(error);

    // Invalid or truncated JSON with 200 is a failure.
    for (const QByteArray &bad : {QByteArray("not json"), QByteArray(R"({"responseStatus":"OK")"),
                                  QByteArray("\xff\xfe\x00", 3)}) {
        server->setHandler([bad](const Request &) { return Reply::json(bad); });
        EXPECT_FALSE(send("{}", QStringLiteral("getUserContentProcess"), &error));
        EXPECT_TRUE(error);
    }
}

TEST_F(CommonRequestTest, NothingIsSentOfflineOrWithoutABody) {
    NetworkState::offline() = true;
    LogCapture log;
    bool error = false;
    EXPECT_FALSE(send("{}", QStringLiteral("userLoginProcess"), &error));
    EXPECT_TRUE(error);
    EXPECT_TRUE(log.contains(QStringLiteral("!!! APP OFFLINE  1")));
    NetworkState::offline() = false;

    CommonRequest request(client);
    EXPECT_FALSE(request.connect({}, std::nullopt, QStringLiteral("userLoginProcess")));
    EXPECT_TRUE(request.error());
    EXPECT_TRUE(server->requests().isEmpty());
}

TEST_F(CommonRequestTest, ConnectionFailuresSetTheErrorFlag) {
    useGateway(QStringLiteral("http://127.0.0.1:%1").arg(scripted::closedPort()));
    LogCapture log;
    bool error = false;
    EXPECT_FALSE(send("{}", QStringLiteral("userLoginProcess"), &error));
    EXPECT_TRUE(error);
    EXPECT_TRUE(log.contains(QStringLiteral("Service: userJson | Return Error ERROR: ")));

    // A server that drops the connection without a reply.
    useGateway(server->baseUrl());
    server->setHandler([](const Request &) {
        Reply reply;
        reply.mode = Reply::Mode::Close;
        return reply;
    });
    EXPECT_FALSE(send("{}", QStringLiteral("getUserContentProcess"), &error));
    EXPECT_TRUE(error);
}

TEST_F(CommonRequestTest, SilentServerTimesOutWithoutBlockingTheMainThread) {
    server->setHandler([](const Request &) {
        Reply reply;
        reply.mode = Reply::Mode::NeverAnswer;
        return reply;
    });
    client.setTimeout(400);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);

    bool error = false;
    std::optional<QByteArray> reply = QByteArray("unset");
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(
        runInBackground([&] { reply = send("{}", QStringLiteral("userLoginProcess"), &error); }));
    EXPECT_GE(clock.elapsed(), 350);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(error);
    EXPECT_FALSE(reply);
    EXPECT_GE(ticks, 5) << "the main thread kept running its events";
    EXPECT_EQ(server->requests().size(), 1);
}

TEST_F(CommonRequestTest, OversizedRepliesFailTheExchangeAndTheListingHasItsOwnLimit) {
    client.setMaximumReplySize(64 * 1024);
    client.setMaximumListingSize(256 * 1024);
    const QByteArray large = "[\"" + QByteArray(200 * 1024, 'x') + "\"]";
    for (const bool withLength : {true, false}) {
        server->setHandler([&](const Request &) {
            Reply reply = Reply::json(large);
            reply.withContentLength = withLength;
            return reply;
        });
        CommonRequest status(client);
        EXPECT_FALSE(status.connect({}, QByteArray("{}"), QStringLiteral("sendStatusProcess")))
            << withLength;
        EXPECT_TRUE(status.error());
        EXPECT_EQ(status.errorString(), QStringLiteral("The reply is larger than 64 KiB."));
        // The same reply is a small listing.
        CommonRequest listing(client);
        EXPECT_EQ(listing.connect({}, QByteArray("{}"), QStringLiteral("getUserContentProcess")),
                  large)
            << withLength;
        EXPECT_FALSE(listing.error());
    }
    // A reply of exactly the limit is accepted; one byte more is not.
    const QByteArray fits = "[\"" + QByteArray(64 * 1024 - 4, 'y') + "\"]";
    server->setHandler([&](const Request &) {
        Reply reply = Reply::json(fits);
        reply.withContentLength = false;
        return reply;
    });
    bool error = true;
    EXPECT_EQ(send("{}", QStringLiteral("sendStatusProcess"), &error), fits);
    EXPECT_FALSE(error);
    client.setMaximumReplySize(64 * 1024 - 1);
    EXPECT_FALSE(send("{}", QStringLiteral("sendStatusProcess"), &error));
    EXPECT_TRUE(error);
}

TEST_F(CommonRequestTest, DeviceStatusReportsGoOutForTheContextsAccount) {
    server->setHandler(
        [](const Request &) { return Reply::json(R"({"responseStatus":"SUCCESS"})"); });
    // Signed out, a report is about nobody and is not sent.
    sendDeviceStatus(client, RunContext{}, QStringLiteral("SCANNING"), 0);
    EXPECT_TRUE(server->requests().isEmpty());

    auto user = std::make_shared<User>();
    user->username = QStringLiteral("ana@example.com");
    sendDeviceStatus(client, signedIn(user, QStringLiteral("JSESSIONID=ana")),
                     QStringLiteral("MATCHING"), 7);
    ASSERT_EQ(server->requests().size(), 1);
    const Request r = server->requests().first();
    EXPECT_EQ(r.target, "/Vexmusic/userJson");
    EXPECT_EQ(r.header("Cookie"), "JSESSIONID=ana");
    EXPECT_EQ(QJsonDocument::fromJson(r.body).object(),
              QJsonObject({{"updateDeviceServiceStatus",
                            QJsonObject({{"status", "MATCHING"}, {"tracksFound", 7}})}}));
}
