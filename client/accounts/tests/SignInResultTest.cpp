// Signing in answers what happened and changes nothing else: the result
// carries the account, its session, the status and the message, and only the
// coordinator, acting on it, keeps them. No sign-in starts a sync.
#include "AccountsFixture.h"

#include "accounts/ReturningUser.h"
#include "accounts/Synchronize.h"
#include "engine/Sonarbox.h"

#include <QSignalSpy>

namespace {

const QString kLimitText = QStringLiteral("Your account has reached its limit of desktop "
                                          "installations. Remove one in the web application and "
                                          "try again.");
const QString kNoAnswerText =
    QStringLiteral("We could not sign you in. Please check your connection and try again.");

class SignInResultTest : public AccountsFixture {
protected:
    void SetUp() override {
        AccountsFixture::SetUp();
        Sonarbox &sonarbox = Sonarbox::instance();
        sonarbox.setJSessionID(QStringLiteral("JSESSIONID=before"));
        sonarbox.setSyncStatus(QStringLiteral("before"));
        sonarbox.setSyncMessage(QStringLiteral("before"));
    }
    void answer(const QByteArray &status) { answerSignIns(status, "JSESSIONID=new"); }
    static RunContext sentWith() {
        return {nullptr, QStringLiteral("JSESSIONID=old"), QStringLiteral("DEVICE-7")};
    }
    // What a sign-in of the accounts layer must leave as it was.
    static void expectCoordinatorUntouched() {
        Sonarbox &sonarbox = Sonarbox::instance();
        EXPECT_EQ(sonarbox.jSessionID(), QStringLiteral("JSESSIONID=before"));
        EXPECT_EQ(sonarbox.syncStatus(), QStringLiteral("before"));
        EXPECT_EQ(sonarbox.syncMessage(), QStringLiteral("before"));
        EXPECT_FALSE(sonarbox.loggedUser());
        EXPECT_FALSE(sonarbox.flow_errorAtLogin);
        EXPECT_FALSE(sonarbox.syncInProgress);
    }
};

} // namespace

TEST_F(SignInResultTest, TheExchangeAnswersTheSessionStatusAndMessageAndKeepsNothing) {
    answer("SUCCESS");
    const UserPtr user = emailUser();
    SignInResult result = Synchronize::login(client, user, sentWith());
    EXPECT_EQ(result.outcome, SignInResult::Outcome::SignedIn);
    EXPECT_EQ(result.user, user);
    EXPECT_EQ(result.session.account, user);
    EXPECT_EQ(result.session.session, QStringLiteral("JSESSIONID=new"));
    EXPECT_TRUE(result.newSession);
    EXPECT_EQ(result.session.deviceID, QStringLiteral("DEVICE-7"));
    EXPECT_TRUE(result.answered);
    EXPECT_EQ(result.status, QStringLiteral("SUCCESS"));
    EXPECT_TRUE(result.message.isEmpty());
    // Sent with the context's session and device.
    EXPECT_EQ(serviceRequests().last().header("Cookie"), "JSESSIONID=old");
    expectCoordinatorUntouched();

    answer("INVALID_DEVICE_ID");
    result = Synchronize::login(client, user, sentWith());
    EXPECT_EQ(result.outcome, SignInResult::Outcome::Refused);
    EXPECT_EQ(result.status, QStringLiteral("INVALID_DEVICE_ID"));
    EXPECT_EQ(result.message, kLimitText);
    expectCoordinatorUntouched();

    useGateway(QStringLiteral("http://127.0.0.1:%1").arg(scripted::closedPort()));
    result = ReturningUser::doLogin(client, user, sentWith());
    EXPECT_EQ(result.outcome, SignInResult::Outcome::NoAnswer);
    EXPECT_FALSE(result.answered);
    EXPECT_FALSE(result.newSession);
    EXPECT_EQ(result.session.session, QStringLiteral("JSESSIONID=old"));
    EXPECT_EQ(result.status, QStringLiteral("FAILED"));
    EXPECT_EQ(result.message, kNoAnswerText);
    expectCoordinatorUntouched();
}

TEST_F(SignInResultTest, TheCoordinatorKeepsTheResultAndStartsNoSync) {
    Sonarbox &sonarbox = Sonarbox::instance();
    QSignalSpy syncChanges(&sonarbox, &Sonarbox::syncStateChanged);
    sonarbox.flow_stopProcesses = true;

    answer("SUCCESS");
    ASSERT_EQ(sonarbox.signInAgain(emailUser()), SignInResult::Outcome::SignedIn);
    EXPECT_EQ(sonarbox.jSessionID(), QStringLiteral("JSESSIONID=new"));
    EXPECT_EQ(sonarbox.syncStatus(), QStringLiteral("SUCCESS"));
    EXPECT_TRUE(sonarbox.syncMessage().isEmpty());
    EXPECT_FALSE(sonarbox.flow_stopProcesses) << "a stop request left over is cleared";
    EXPECT_FALSE(sonarbox.flow_errorAtLogin);

    answer("INVALID_DEVICE_ID");
    ASSERT_EQ(sonarbox.signInAgain(emailUser()), SignInResult::Outcome::Refused);
    EXPECT_EQ(sonarbox.syncStatus(), QStringLiteral("INVALID_DEVICE_ID"));
    EXPECT_EQ(sonarbox.syncMessage(), kLimitText);
    EXPECT_TRUE(sonarbox.flow_errorAtLogin);

    answer("SUCCESS");
    EXPECT_TRUE(sonarbox.signIn(emailUser()).signedIn());

    QCoreApplication::processEvents();
    EXPECT_FALSE(sonarbox.syncInProgress);
    EXPECT_EQ(sonarbox.operationQueue().operationCount(), 0);
    EXPECT_EQ(syncChanges.count(), 0) << "no sign-in starts or stops a sync";
}
