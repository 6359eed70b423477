// The Facebook sign-in: the flow's decisions with a stand-in window, and the
// whole flow through the embedded browser against sonarbox-cloud's Facebook
// stand-in.
#include "SigninFixture.h"

#include "ChildProcess.h"
#include "CloudProcess.h"
#include "FacebookBrowser.h"
#include "LoginRegister.h"
#include "TestEnvironment.h"
#include "accounts/FacebookService.h"
#include "accounts/PhFacebook.h"
#include "accounts/PhWebViewController.h"
#include "engine/Sonarbox.h"
#include "settings/NSDefaultsUtility.h"
#include "store/GenericDAO.h"

#include <QTest>
#include <QUrlQuery>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>

namespace {

const QLatin1StringView kToken("FBAStoreccessToken");
const QLatin1StringView kExpiry("FBStoreTokenExpiry");
const QLatin1StringView kPermissions("FBStoreAccessPermissions");

class FakeWindow : public PhWebViewController {
public:
    void loadAddress(const QUrl &address) override { loaded << address; }
    void showWindow() override { visible = true; }
    void hideWindow() override { visible = false; }
    bool isWindowVisible() const override { return visible; }
    QList<QUrl> loaded;
    bool visible = false;
};

class FakeDelegate : public PhFacebookDelegate {
public:
    void tokenResult(const QVariantMap &result) override { results << result; }
    void willShowUINotification(PhFacebook *) override { ++shown; }
    void didDismissUI(PhFacebook *) override { ++dismissed; }
    QList<QVariantMap> results;
    int shown = 0, dismissed = 0;
};

class FakeHost : public FacebookBrowserHost {
public:
    std::unique_ptr<PhWebViewController> createWebViewController() override {
        auto window = std::make_unique<FakeWindow>();
        last = window.get();
        return window;
    }
    void deleteCookies(const QString &host) override { cookieHosts << host; }
    void requestUserAttention() override {}
    FakeWindow *last = nullptr;
    QStringList cookieHosts;
};

class FacebookFlowTest : public SigninFixture {
protected:
    void SetUp() override {
        SigninFixture::SetUp();
        useService(QStringLiteral("http://127.0.0.1:8490"));
        previousHost = PhFacebook::browserHost();
        PhFacebook::setBrowserHost(&host);
        window.parentFacebook = &fb;
        window.permissions = QStringLiteral("read_stream,export_stream,email");
        for (QLatin1StringView key : {kToken, kExpiry, kPermissions})
            NSDefaultsUtility::standard().remove(key);
    }
    void TearDown() override {
        PhFacebook::setBrowserHost(previousHost);
        SigninFixture::TearDown();
    }
    FacebookBrowserHost *previousHost = nullptr;
    FakeHost host;
    FakeDelegate delegate;
    PhFacebook fb{QStringLiteral("100000000000001"), &delegate};
    FakeWindow window;
};

} // namespace

TEST_F(FacebookFlowTest, LoginSuccessAddressGivesTheTokenAndCachesIt) {
    window.visible = true;
    window.didFinishLoad(
        QUrl(QStringLiteral("http://127.0.0.1:8490/CONNECT/"
                            "Login_Success.html#access_token=EAAB12&expires_in=5183999")));
    EXPECT_FALSE(window.visible);
    ASSERT_EQ(delegate.results.size(), 1);
    EXPECT_EQ(delegate.results[0].value(QStringLiteral("valid")), QVariant(true));
    EXPECT_EQ(fb.accessToken(), QStringLiteral("EAAB12"));
    ASSERT_TRUE(fb.authToken()->expiry());
    const qint64 seconds = QDateTime::currentDateTimeUtc().secsTo(*fb.authToken()->expiry());
    EXPECT_NEAR(double(seconds), 5183999.0, 5.0);
    EXPECT_EQ(NSDefaultsUtility::standard().text(kToken), QStringLiteral("EAAB12"));
    EXPECT_EQ(NSDefaultsUtility::standard().text(kPermissions),
              QStringLiteral("read_stream,export_stream,email"));
    const QDateTime cachedExpiry = QDateTime::fromString(
        NSDefaultsUtility::standard().text(kExpiry).value_or(QString()), Qt::ISODate);
    EXPECT_NEAR(double(QDateTime::currentDateTimeUtc().secsTo(cachedExpiry)), 5183999.0, 5.0);

    // Without "expires_in" the token never expires and the cached expiry goes.
    window.didFinishLoad(QUrl(
        QStringLiteral("https://127.0.0.1:8490/connect/login_success.html#access_token=EAAB13")));
    EXPECT_EQ(fb.accessToken(), QStringLiteral("EAAB13"));
    EXPECT_FALSE(fb.authToken()->expiry());
    EXPECT_FALSE(NSDefaultsUtility::standard().contains(kExpiry));

    // A cached token with the same permissions answers at once, without a page.
    PhFacebook again(QStringLiteral("100000000000001"), &delegate);
    again.getAccessTokenForPermissions(FacebookService::permissions(), true);
    ASSERT_EQ(delegate.results.size(), 3);
    EXPECT_EQ(again.accessToken(), QStringLiteral("EAAB13"));
    EXPECT_EQ(host.last, nullptr);
}

TEST_F(FacebookFlowTest, ErrorsOtherPagesAndCancel) {
    window.didFinishLoad(QUrl(QStringLiteral(
        "http://127.0.0.1:8490/connect/login_success.html?error=access_denied&error_code=200&"
        "error_description=Permissions+error")));
    ASSERT_EQ(delegate.results.size(), 1);
    EXPECT_EQ(delegate.results[0].value(QStringLiteral("valid")), QVariant(false));
    EXPECT_EQ(delegate.results[0].value(QStringLiteral("error")),
              QVariant(QStringLiteral("Permissions+error")));
    EXPECT_FALSE(NSDefaultsUtility::standard().contains(kToken));
    EXPECT_FALSE(fb.authToken());

    // The login form (any other finished page) and the dialog page need the user.
    window.didCommitLoad(QUrl(QStringLiteral("http://127.0.0.1:8490/oauth/authorize?x=1")));
    EXPECT_FALSE(window.visible);
    window.didCommitLoad(QUrl(QStringLiteral("http://127.0.0.1:8490/connect/uiserver.php?a=b")));
    EXPECT_TRUE(window.visible);
    EXPECT_EQ(delegate.shown, 1);
    window.visible = false;
    window.didFinishLoad(QUrl(QStringLiteral("http://127.0.0.1:8490/connect/uiserver.php")));
    EXPECT_TRUE(window.visible);
    // Another host's page that carries the success path is not the end.
    window.didFinishLoad(QUrl(QStringLiteral(
        "http://evil.example/127.0.0.1:8490/connect/login_success.html#access_token=X")));
    EXPECT_EQ(delegate.results.size(), 1);

    window.cancel();
    EXPECT_FALSE(window.visible);
    EXPECT_EQ(delegate.dismissed, 1);
    EXPECT_EQ(delegate.results.size(), 1);
}

TEST_F(FacebookFlowTest, NewFlowClearsTheCacheAndAsksWithTheAuthorisationAddress) {
    NSDefaultsUtility::standard().setText(kToken, QStringLiteral("old"));
    NSDefaultsUtility::standard().setText(kPermissions,
                                          QStringLiteral("read_stream,export_stream,email"));
    NSDefaultsUtility::standard().setText(
        kExpiry, QDateTime::currentDateTimeUtc().addSecs(-60).toString(Qt::ISODateWithMs));
    // An expired cached token is not used.
    fb.getAccessTokenForPermissions(FacebookService::permissions(), true);
    EXPECT_TRUE(delegate.results.isEmpty());
    ASSERT_TRUE(host.last);
    ASSERT_EQ(host.last->loaded.size(), 1);
    const QUrl address = host.last->loaded.first();
    EXPECT_EQ(address.scheme(), QStringLiteral("http"));
    EXPECT_EQ(address.authority(), QStringLiteral("127.0.0.1:8490"));
    EXPECT_EQ(address.path(), QStringLiteral("/oauth/authorize"));
    const QUrlQuery query(address);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("client_id")), QStringLiteral("100000000000001"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded),
              QStringLiteral("http://127.0.0.1:8490/connect/login_success.html"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("scope"), QUrl::FullyDecoded),
              QStringLiteral("read_stream,export_stream,email"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("type")), QStringLiteral("user_agent"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("display")), QStringLiteral("popup"));
    EXPECT_EQ(host.last->permissions, QStringLiteral("read_stream,export_stream,email"));
    EXPECT_FALSE(host.last->visible); // shown only when Facebook needs the user

    fb.invalidateCachedToken();
    for (QLatin1StringView key : {kToken, kExpiry, kPermissions})
        EXPECT_FALSE(NSDefaultsUtility::standard().contains(key)) << key.data();
    EXPECT_EQ(host.cookieHosts, QStringList{QStringLiteral("127.0.0.1:8490")});
}

TEST(FacebookAddresses, ParametersAndPrefixes) {
    const QString address = QStringLiteral("http://h/p?a=1#ACCESS_TOKEN=tok&expires_in=60");
    EXPECT_EQ(PhWebViewController::extractParameter(QStringLiteral("access_token="), address),
              QStringLiteral("tok"));
    EXPECT_EQ(PhWebViewController::extractParameter(QStringLiteral("expires_in="), address),
              QStringLiteral("60"));
    EXPECT_FALSE(PhWebViewController::extractParameter(QStringLiteral("error="), address));
    EXPECT_TRUE(PhWebViewController::addressBeginsWith(QStringLiteral("HTTPS://H/P/x"),
                                                       QStringLiteral("h/p")));
    EXPECT_FALSE(
        PhWebViewController::addressBeginsWith(QStringLiteral("data:h/p"), QStringLiteral("h/p")));

    const auto get = PhFacebook::prepareRequest(
        QStringLiteral("https://g"), QStringLiteral("/me?f=1"), QStringLiteral("T"),
        {{QStringLiteral("a"), QStringLiteral("b c")}}, false);
    EXPECT_EQ(get.address.toString(QUrl::FullyEncoded),
              QStringLiteral("https://g/me?f=1&access_token=T&a=b%20c"));
    EXPECT_FALSE(get.postBody);
    const auto post = PhFacebook::prepareRequest(
        QStringLiteral("https://g"), QStringLiteral("/feed"), QStringLiteral("T"),
        {{QStringLiteral("m"), QStringLiteral("x")}}, true);
    EXPECT_EQ(post.address.toString(), QStringLiteral("https://g/feed"));
    EXPECT_EQ(post.postBody, QByteArray("access_token=T&m=x"));
}

namespace {

class FacebookBrowserTest : public SigninFixture {
protected:
    void SetUp() override {
        SigninFixture::SetUp();
        ASSERT_TRUE(cloud.start());
        useService(cloud.baseUrl());
        ASSERT_EQ(ChildProcess::run(CloudProcess::executable(),
                                    {QStringLiteral("add-facebook-user"), QStringLiteral("--data"),
                                     cloud.dataDir(), QStringLiteral("fb@example.com"),
                                     QStringLiteral("fb-pass"),
                                     QStringLiteral("--pbkdf2-iterations"), QStringLiteral("1000"),
                                     QStringLiteral("--weak-password-hashes-for-tests")})
                      .exitCode,
                  0);
    }

    FacebookBrowser *browser() {
        PhFacebook *fb = FacebookService::instance().fb();
        return fb ? dynamic_cast<FacebookBrowser *>(fb->webViewController()) : nullptr;
    }

    // Waits for the stand-in's login form in the shown window and submits it.
    bool logInThroughTheForm() {
        if (!TestEnvironment::waitUntil(
                [&] {
                    return browser() && browser()->isVisible() &&
                           browser()->webView()->url().path() ==
                               QStringLiteral("/connect/uiserver.php");
                },
                30000))
            return false;
        // The window comes up as the page commits; the form may not be there yet.
        browser()->webView()->page()->runJavaScript(
            QStringLiteral("const fill = setInterval(() => {"
                           "  const pass = document.querySelector('input[name=pass]');"
                           "  if (!pass) return;"
                           "  clearInterval(fill);"
                           "  document.querySelector('input[name=email]').value = 'fb@example.com';"
                           "  pass.value = 'fb-pass';"
                           "  document.querySelector('button[value=login]').click();"
                           "}, 50);"));
        return true;
    }

    CloudProcess cloud;
};

} // namespace

TEST_F(FacebookBrowserTest, WholeFlowThroughTheEmbeddedBrowserSignsIn) {
    LogCapture log;
    LoginRegister screen;
    showScreen(&screen);
    screen.controls().fbLoginBtn->click();
    ASSERT_TRUE(logInThroughTheForm());
    ASSERT_TRUE(waitForNotification(QStringLiteral("SuccessFullLoginNotification"), 1, 30000))
        << browser()->webView()->url().toString().toStdString() << "\n"
        << log.lines().join(QLatin1Char('\n')).toStdString();

    const QString token = FacebookService::instance().accessToken();
    ASSERT_FALSE(token.isEmpty());
    EXPECT_FALSE(browser()->isVisible());
    EXPECT_EQ(NSDefaultsUtility::standard().text(kToken), token);
    const UserPtr stored = GenericDAO::instance().getUserFromDB();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->facebookToken, token);
    EXPECT_EQ(cloud.query(QStringLiteral("SELECT COUNT(*) FROM fb_tokens")),
              QStringList{QStringLiteral("1")});
    EXPECT_TRUE(log.linesContaining(token).isEmpty())
        << log.linesContaining(token).join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(log.count(QStringLiteral("Facebook Token API Result:")), 1);

    // A second sign-in starts afresh: cache and the site's cookies go, and
    // the login form shows again.
    WebEngineFacebookHost &host = WebEngineFacebookHost::install();
    QNetworkCookie cookie("fb_session", "abc");
    cookie.setDomain(QStringLiteral("127.0.0.1"));
    cookie.setPath(QStringLiteral("/"));
    host.profile()->cookieStore()->setCookie(cookie, QUrl(cloud.baseUrl()));
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !host.cookies().isEmpty(); }, 5000));
    screen.controls().fbLoginBtn->click();
    EXPECT_FALSE(NSDefaultsUtility::standard().contains(kToken));
    EXPECT_TRUE(TestEnvironment::waitUntil(
        [&] {
            for (const QNetworkCookie &c : host.cookies())
                if (c.name() == "fb_session")
                    return false;
            return true;
        },
        5000));
    ASSERT_TRUE(
        TestEnvironment::waitUntil([&] { return browser() && browser()->isVisible(); }, 30000));

    // Cancel: the window goes and nothing is reported.
    browser()->cancelButton()->click();
    EXPECT_FALSE(browser()->isVisible());
    QTest::qWait(200);
    EXPECT_EQ(notificationCount(QStringLiteral("SuccessFullLoginNotification")), 1);
}
