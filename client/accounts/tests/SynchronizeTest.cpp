#include "AccountsFixture.h"

#include "engine/Sonarbox.h"
#include "settings/Localization.h"

using scripted::Reply;
using scripted::Request;

namespace {

class SynchronizeTest : public AccountsFixture {
protected:
    void replyWithStatus(const QByteArray &status) {
        server->setHandler(withTokens([status](const Request &) {
            return Reply::json(status.isNull() ? R"({"firstName":"Ada"})"
                                               : R"({"responseStatus":")" + status + R"("})");
        }));
    }
};

struct StatusCase {
    QByteArray status; // null: no status member
    bool signedIn;
    const char *messageKey; // nullptr: no message
};

} // namespace

TEST_F(SynchronizeTest, EveryLoginStatusHasItsOutcome) {
    const QList<StatusCase> cases = {
        {"FAILED_FACEBOOK_AUTHENTICATION", false, "facebook_account_deauthorized_message"},
        {"DEVICE_ID_NOT_FOUND", false, "DeviceIdNotFoundServiceErrorMessage"},
        {"INVALID_DEVICE_ID", false, "DesktopLimitErrorMessage"},
        {"REGISTER_TO_APPLICATION_FIRST", false, "register_before_login_message"},
        {"FAILED_CREDENTIALS_MISSING", false, "AuthenticationError"},
        {"FAILED_INVALID_EMAIL", false, "AuthenticationError"},
        {"FAILED_USER_EXISTS", false, nullptr},
        {"FAILED", false, "AuthenticationError"},
        {"SUCCESS", true, nullptr},
        {"DAILY_LIMIT_REACHED", true, nullptr},
        {QByteArray(), true, nullptr},
    };
    Sonarbox &sonarbox = Sonarbox::instance();
    for (const StatusCase &c : cases) {
        SCOPED_TRACE(c.status.isNull() ? "(no status)" : c.status.toStdString());
        replyWithStatus(c.status);
        sonarbox.setSyncMessage(QStringLiteral("left over"));
        EXPECT_EQ(Sonarbox::instance().signIn(emailUser()).signedIn(), c.signedIn);
        const QString expected =
            c.messageKey ? Localization::localizedString(QString::fromLatin1(c.messageKey))
                         : QString();
        EXPECT_EQ(sonarbox.syncMessage(), expected);
        if (c.messageKey) {
            EXPECT_NE(expected, QString::fromLatin1(c.messageKey)) << "the key has an English text";
        }
    }
    EXPECT_EQ(Localization::localizedString(QStringLiteral("AuthenticationError")),
              QStringLiteral("The e-mail address or password is not correct. Please try again."));
}

// Another server on the service's address (a web server's error page, a
// proxy's notice) has not signed anyone in, whatever its HTTP status.
TEST_F(SynchronizeTest, AnAnswerThatIsNotTheServicesSignsNobodyIn) {
    for (const auto &[status, body] :
         {std::pair{404, QByteArray("<html><body>Not Found</body></html>")},
          std::pair{200, QByteArray(R"(["SUCCESS"])")}}) {
        SCOPED_TRACE(body.toStdString());
        server->setHandler(withTokens([status, body](const Request &) {
            Reply reply;
            reply.status = status;
            reply.headers = {{"Content-Type", "text/html"}};
            reply.body = body;
            return reply;
        }));
        LogCapture log;
        EXPECT_FALSE(Sonarbox::instance().signIn(emailUser()).signedIn());
        EXPECT_EQ(log.count(QStringLiteral("not the service's: not signed in")), 1);
    }
}

TEST_F(SynchronizeTest, FailedExchangeSetsNoMessage) {
    useGateway(QStringLiteral("http://127.0.0.1:%1").arg(scripted::closedPort()));
    Sonarbox::instance().setSyncMessage(QStringLiteral("left over"));
    LogCapture log;
    EXPECT_FALSE(Sonarbox::instance().signIn(emailUser()).signedIn());
    EXPECT_TRUE(Sonarbox::instance().syncMessage().isEmpty());
    // "%c" of the flag YES: the character with code 1, not the digit "1".
    const QStringList lines = log.linesContaining(QStringLiteral("request.error=TRUE"));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.first().endsWith(
        QStringLiteral("Synchronize.login request.error=TRUE | Error: \u0001")))
        << lines.first().toStdString();
    EXPECT_FALSE(Sonarbox::instance().signIn(nullptr).signedIn());
}

TEST_F(SynchronizeTest, CloudListing) {
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.setSyncMilliSeconds(99);
    const SyncRunPtr run = sonarbox.newRun();
    server->setHandler([](const Request &) {
        return Reply::json(R"({"responseStatus":"OK","milliseconds":120,"updatedUserMedias":[
            {"mediaType":"AUDIO","deleted":0,"name":"a.mp3","id":5,"downloadable":1}]})");
    });
    EXPECT_TRUE(listCloudLibrary(*run));
    ASSERT_EQ(run->cloudLibraryTracks().size(), 1);
    EXPECT_EQ(run->cloudLibraryTracks().first()->userMediaID, QStringLiteral("5"));
    EXPECT_EQ(run->listingPosition(), 120);
    EXPECT_EQ(sonarbox.syncMilliSeconds(), 99)
        << "the session's moves once the run's downloads end";
    const QList<Request> requests = server->requests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests.first().target, "/Vexmusic/rest/medias/sync");
    EXPECT_EQ(requests.first().body, R"({"milliseconds":99,"version":"1.0"})");

    // A refused listing stops the running sync.
    server->setHandler([](const Request &) {
        return Reply::json(R"({"responseStatus":"FAILED","updatedUserMedias":[]})");
    });
    LogCapture log;
    sonarbox.flow_stopProcesses = false;
    EXPECT_FALSE(listCloudLibrary(*run));
    EXPECT_TRUE(sonarbox.flow_stopProcesses);
    EXPECT_TRUE(
        log.contains(QStringLiteral("Missing login session, please logout and log back in.")));
    EXPECT_EQ(run->cloudLibraryTracks().size(), 1) << "the previous listing is kept";

    // An empty status, or no reply at all, is a plain failure.
    server->setHandler([](const Request &) { return Reply::json(R"({"responseStatus":""})"); });
    EXPECT_FALSE(listCloudLibrary());
    sonarbox.isAppOffline = true;
    EXPECT_FALSE(listCloudLibrary());
}
