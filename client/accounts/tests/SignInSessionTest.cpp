// The session cookie from the sign-in to the requests that follow: the
// transport hands it back, the sign-in keeps it on the coordinator, and a
// run sends the session it started with.
#include "AccountsFixture.h"

#include "engine/Sonarbox.h"

using scripted::Reply;
using scripted::Request;

namespace {

class SignInSessionTest : public AccountsFixture {
protected:
    // Sign-ins and listings succeed; each reply carries `setCookie` (none
    // when empty).
    void replyWithCookie(const QByteArray &setCookie) {
        server->setHandler(withTokens([setCookie](const Request &request) {
            Reply reply = Reply::json(
                request.target == "/Vexmusic/rest/medias/sync"
                    ? R"({"responseStatus":"OK","milliseconds":1,"updatedUserMedias":[]})"
                    : R"({"responseStatus":"SUCCESS","firstName":"Ada"})");
            if (!setCookie.isEmpty())
                reply.headers.append(qMakePair(QByteArray("Set-Cookie"), setCookie));
            return reply;
        }));
    }
    std::optional<QByteArray> lastCookie() const {
        return serviceRequests().last().header("Cookie");
    }
};

} // namespace

TEST_F(SignInSessionTest, TheSignInKeepsItsSessionForTheRequestsThatFollow) {
    const QString session = QStringLiteral("JSESSIONID=abc123; Path=/Vexmusic; HttpOnly");
    replyWithCookie(session.toUtf8());
    Sonarbox &sonarbox = Sonarbox::instance();
    EXPECT_FALSE(sonarbox.jSessionID());

    ASSERT_TRUE(Sonarbox::instance().signIn(emailUser()).signedIn());
    EXPECT_FALSE(lastCookie()) << "no session before the first sign-in";
    EXPECT_EQ(sonarbox.jSessionID(), session);

    // Sent back verbatim; a Set-Cookie on another reply changes nothing.
    replyWithCookie("JSESSIONID=other");
    EXPECT_TRUE(listCloudLibrary());
    EXPECT_EQ(lastCookie(), session.toUtf8());
    EXPECT_EQ(sonarbox.jSessionID(), session);

    // A sign-in whose reply sets no cookie keeps the session.
    replyWithCookie({});
    ASSERT_TRUE(Sonarbox::instance().signIn(emailUser()).signedIn());
    EXPECT_EQ(lastCookie(), session.toUtf8());
    EXPECT_EQ(sonarbox.jSessionID(), session);

    // After a log-out the header is sent, empty.
    sonarbox.setJSessionID(QStringLiteral(""));
    listCloudLibrary();
    EXPECT_EQ(lastCookie(), QByteArray(""));
}

TEST_F(SignInSessionTest, ARunListsWithTheSessionItStartedWith) {
    replyWithCookie({});
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.setLoggedUser(emailUser());
    sonarbox.setJSessionID(QStringLiteral("JSESSIONID=someone-else"));
    const RunContext run{emailUser(), QStringLiteral("JSESSIONID=run"), QStringLiteral("DEVICE-1")};
    EXPECT_TRUE(listCloudLibrary(run));
    EXPECT_EQ(lastCookie(), "JSESSIONID=run");
    // Without a context: the coordinator's current session.
    EXPECT_TRUE(listCloudLibrary());
    EXPECT_EQ(lastCookie(), "JSESSIONID=someone-else");
}
