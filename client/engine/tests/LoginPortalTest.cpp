#include "AccountsFixture.h"

#include "TestEnvironment.h"
#include "engine/LoginPortal.h"
#include "engine/Sonarbox.h"
#include "settings/NotificationCenter.h"
#include "store/GenericDAO.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTimer>

using scripted::Reply;
using scripted::Request;

namespace {

// Records the posts of one notification: the object and whether it was
// posted on the main thread.
class NotificationProbe {
public:
    explicit NotificationProbe(const QString &name) {
        m_token = NotificationCenter::defaultCenter().addObserver(name, [this](QObject *object) {
            objects << object;
            onMainThread = QThread::currentThread() == qApp->thread();
        });
    }
    ~NotificationProbe() { NotificationCenter::defaultCenter().removeObserver(m_token); }
    QList<QObject *> objects;
    bool onMainThread = false;

private:
    int m_token = 0;
};

class LoginPortalTest : public AccountsFixture {
protected:
    void SetUp() override {
        AccountsFixture::SetUp();
        replyWith("SUCCESS");
        GenericDAO::instance().deleteAll(QStringLiteral("User"));
        GenericDAO::instance().resetAllTracksInDB();
        auto track = std::make_shared<Audio>();
        track->name = QStringLiteral("Old account's song");
        track->checksum = QStringLiteral("00112233445566778899aabbccddeeff");
        GenericDAO::instance().addTrackToDB(track, true);
        ASSERT_EQ(GenericDAO::instance().getSize(QStringLiteral("Audio")), 1);
    }
    void TearDown() override {
        Sonarbox &sonarbox = Sonarbox::instance();
        sonarbox.stopSyncAction();
        TestEnvironment::waitUntil([&] { return !sonarbox.syncInProgress; }, 5000);
        AccountsFixture::TearDown();
    }

    // Login replies carry this status and a session cookie.
    void replyWith(const QByteArray &status) { answerSignIns(status, "JSESSIONID=s1"); }

    UserPtr newUser() {
        auto user = std::make_shared<User>();
        user->id = QStringLiteral("1");
        user->username = QStringLiteral("ada@example.com");
        user->password = QStringLiteral("secret-pw");
        user->deviceId = Sonarbox::instance().deviceID();
        return user;
    }

    // Waits, processing events, for the sign-in's answer.
    static bool finish(QFuture<bool> future, int ms = 10000) {
        EXPECT_TRUE(TestEnvironment::waitUntil([&] { return future.isFinished(); }, ms));
        return future.isFinished() && future.result();
    }

    FakeLoginScreen screen;
};

} // namespace

TEST_F(LoginPortalTest, NewSignInForgetsThePreviousAccount) {
    NotificationProbe success(QStringLiteral("SuccessFullLoginNotification"));
    Sonarbox &sonarbox = Sonarbox::instance();
    // A stop request left over from the previous account must not stop the new one's sync.
    sonarbox.flow_stopProcesses = true;
    QSignalSpy syncChanges(&sonarbox, &Sonarbox::syncStateChanged);
    const UserPtr user = newUser();
    ASSERT_TRUE(finish(LoginPortal::loginNewUser(user, &screen)));
    EXPECT_EQ(syncChanges.count(), 0) << "a new account picks its library before a sync";

    EXPECT_EQ(sonarbox.loggedUser(), user);
    EXPECT_TRUE(sonarbox.flow_newUser);
    EXPECT_FALSE(sonarbox.flow_stopProcesses);
    EXPECT_EQ(sonarbox.jSessionID(), QStringLiteral("JSESSIONID=s1"));
    EXPECT_EQ(GenericDAO::instance().getSize(QStringLiteral("Audio")), 0);
    const UserPtr stored = GenericDAO::instance().uniqueResult<User>();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->username, QStringLiteral("ada@example.com"));
    EXPECT_EQ(stored->password, QStringLiteral("secret-pw"));
    EXPECT_EQ(stored->firstName, QStringLiteral("Ada")) << "copied from the login reply";

    // The screen heard of it on the main thread, before the sign-in ended.
    EXPECT_EQ(screen.stopped, 1);
    EXPECT_EQ(screen.enabled, 1);
    EXPECT_EQ(screen.errorsShown, 0);
    EXPECT_FALSE(screen.calledOffMainThread);
    ASSERT_EQ(success.objects.size(), 1);
    EXPECT_EQ(success.objects.first(), &screen.indicator);
    EXPECT_TRUE(success.onMainThread);
}

TEST_F(LoginPortalTest, FacebookSignInTakesTheUserNameFromTheReply) {
    server->setHandler(withTokens([](const Request &) {
        return Reply::json(R"({"responseStatus":"SUCCESS","userName":"ada@example.com"})");
    }));
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.setLoggedUser(nullptr);
    sonarbox.fbLogin = true;
    auto user = std::make_shared<User>();
    user->id = QStringLiteral("1");
    user->deviceId = sonarbox.deviceID();
    user->facebookToken = QStringLiteral("EAAG-token-1");
    const bool signedIn = finish(LoginPortal::loginNewUser(user, &screen));
    sonarbox.fbLogin = false;
    ASSERT_TRUE(signedIn);

    EXPECT_EQ(user->username, QStringLiteral("ada@example.com"));
    const UserPtr stored = GenericDAO::instance().uniqueResult<User>();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->username, QStringLiteral("ada@example.com"));
    EXPECT_EQ(stored->facebookToken, QStringLiteral("EAAG-token-1"));
}

// A Facebook account signs in anew at every start (its token does not
// last): the same account as the stored one keeps its tracks, whichever way
// it signs in; another account does not.
TEST_F(LoginPortalTest, SigningInAgainAsTheStoredAccountKeepsItsTracks) {
    server->setHandler(withTokens([](const Request &) {
        return Reply::json(R"({"responseStatus":"SUCCESS","userName":"Ada@Example.com"})");
    }));
    auto stored = newUser();
    GenericDAO::instance().save(stored);
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.setLoggedUser(nullptr);
    sonarbox.fbLogin = true;
    auto viaFacebook = std::make_shared<User>();
    viaFacebook->id = QStringLiteral("1");
    viaFacebook->deviceId = sonarbox.deviceID();
    viaFacebook->facebookToken = QStringLiteral("EAAG-token-2");
    const bool signedIn = finish(LoginPortal::loginNewUser(viaFacebook, &screen));
    sonarbox.fbLogin = false;
    ASSERT_TRUE(signedIn);
    EXPECT_EQ(GenericDAO::instance().getSize(QStringLiteral("Audio")), 1);

    auto someoneElse = newUser();
    someoneElse->username = QStringLiteral("bob@example.com");
    sonarbox.setLoggedUser(nullptr);
    replyWith("SUCCESS");
    ASSERT_TRUE(finish(LoginPortal::loginNewUser(someoneElse, &screen)));
    EXPECT_EQ(GenericDAO::instance().getSize(QStringLiteral("Audio")), 0);
}

TEST_F(LoginPortalTest, SignInWithoutAScreenStillAnnouncesIt) {
    NotificationProbe success(QStringLiteral("SuccessFullLoginNotification"));
    ASSERT_TRUE(finish(LoginPortal::loginNewUser(newUser(), nullptr)));
    ASSERT_EQ(success.objects.size(), 1);
    EXPECT_EQ(success.objects.first(), nullptr);
}

TEST_F(LoginPortalTest, SignInAfterAFailedOneKeepsTracksAndSyncs) {
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.flow_errorAtLogin = true;
    sonarbox.flow_newUser = true;
    NotificationProbe processing(QStringLiteral("showProcessingViewNotification"));
    NotificationProbe success(QStringLiteral("SuccessFullLoginNotification"));
    const UserPtr user = newUser();
    ASSERT_TRUE(finish(LoginPortal::loginNewUser(user, &screen)));

    EXPECT_FALSE(sonarbox.flow_errorAtLogin);
    EXPECT_FALSE(sonarbox.flow_newUser);
    EXPECT_EQ(sonarbox.loggedUser(), user);
    EXPECT_EQ(GenericDAO::instance().getSize(QStringLiteral("Audio")), 1);
    EXPECT_TRUE(GenericDAO::instance().uniqueResult<User>());
    EXPECT_EQ(processing.objects.size(), 1);
    EXPECT_TRUE(processing.onMainThread);
    EXPECT_TRUE(success.objects.isEmpty());
    EXPECT_TRUE(sonarbox.operation_fingerprintLocalMedia()) << "a sync was started";
    EXPECT_EQ(screen.stopped, 1);
    EXPECT_FALSE(screen.calledOffMainThread);
}

TEST_F(LoginPortalTest, RefusedSignInChangesNothing) {
    replyWith("INVALID_DEVICE_ID");
    NotificationProbe success(QStringLiteral("SuccessFullLoginNotification"));
    Sonarbox &sonarbox = Sonarbox::instance();
    EXPECT_FALSE(finish(LoginPortal::loginNewUser(newUser(), &screen)));
    EXPECT_EQ(screen.errorsShown, 1);
    EXPECT_FALSE(screen.calledOffMainThread);
    EXPECT_FALSE(sonarbox.loggedUser());
    EXPECT_FALSE(GenericDAO::instance().uniqueResult<User>());
    EXPECT_EQ(GenericDAO::instance().getSize(QStringLiteral("Audio")), 1);
    EXPECT_TRUE(success.objects.isEmpty());
    EXPECT_FALSE(sonarbox.syncMessage().isEmpty());
}

TEST_F(LoginPortalTest, SilentServerNeitherBlocksTheScreenNorHangsTheSignIn) {
    server->setHandler([](const Request &) {
        Reply reply;
        reply.mode = Reply::Mode::NeverAnswer;
        return reply;
    });
    Sonarbox::instance().serviceClient().setTimeout(300);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);

    // Two exchanges time out: the token, then the login itself.
    EXPECT_FALSE(finish(LoginPortal::loginNewUser(newUser(), &screen), 10000));
    EXPECT_GE(ticks, 10);
    EXPECT_EQ(screen.errorsShown, 1);
    EXPECT_TRUE(Sonarbox::instance().syncMessage().isEmpty()) << "the screen shows its fallback";
}

TEST_F(LoginPortalTest, ClosedScreenIsNotCalled) {
    replyWith("FAILED");
    auto gone = std::make_unique<FakeLoginScreen>();
    QFuture<bool> future = LoginPortal::loginNewUser(newUser(), gone.get());
    gone.reset();
    EXPECT_FALSE(finish(future));
}
