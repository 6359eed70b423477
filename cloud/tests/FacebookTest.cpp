// The Facebook stand-in end to end, and the analytics collector.
#include "TestServer.h"

#include <gtest/gtest.h>

using cloud::json::Value;
using namespace cloudtest;

namespace {

const std::string kFbUser = "fay@example.org";
const std::string kFbPassword = "face pass";

std::string successUri(const TestServer &s) {
    return "http://127.0.0.1:" + std::to_string(s.port()) + "/connect/login_success.html";
}

std::string query(const TestServer &s) {
    return "client_id=123456789012345&redirect_uri=" + successUri(s) +
           "&scope=read_stream,export_stream,email&type=user_agent&display=popup";
}

std::string urlEncodeForm(const std::map<std::string, std::string> &fields) {
    std::string out;
    for (const auto &[k, v] : fields) {
        if (!out.empty())
            out += '&';
        out += k + '=';
        for (const char c : v) {
            if (std::isalnum(static_cast<unsigned char>(c)))
                out += c;
            else {
                char buf[4];
                std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(c));
                out += buf;
            }
        }
    }
    return out;
}

// What the client's browser window reads from the final address.
std::string parameter(const std::string &address, const std::string &name) {
    const auto at = address.find(name + "=");
    if (at == std::string::npos)
        return {};
    const auto start = at + name.size() + 1;
    const auto end = address.find('&', start);
    return address.substr(start, end == std::string::npos ? end : end - start);
}

Reply loginThroughFacebook(TestServer &s, const std::string &token, const std::string &device) {
    Value args;
    args.set("accessToken", token);
    args.set("referrer", "");
    args.set("inviteFriendKey", "");
    args.set("deviceId", device);
    Value body;
    body.set("loginDesktopThroughFacebook", args);
    return s.postJson("/Vexmusic/userJson", body);
}

class FacebookTest : public ::testing::Test {
protected:
    void SetUp() override { server.addFacebookUser(kFbUser, kFbPassword); }
    Reply submit(const std::string &email, const std::string &password, const std::string &action) {
        return server.post("/connect/uiserver.php",
                           urlEncodeForm({{"client_id", "123456789012345"},
                                          {"redirect_uri", successUri(server)},
                                          {"scope", "read_stream,export_stream,email"},
                                          {"email", email},
                                          {"pass", password},
                                          {"action", action}}),
                           {}, {{"Content-Type", "application/x-www-form-urlencoded"}});
    }
    TestServer server;
};

TEST_F(FacebookTest, AuthorisationLeadsThroughTheDialogToAToken) {
    const Reply authorize = server.get("/oauth/authorize?" + query(server));
    ASSERT_EQ(authorize.status, 302);
    std::string dialog = authorize.headers.at("location");
    const std::string origin = "http://127.0.0.1:" + std::to_string(server.port());
    EXPECT_EQ(dialog.rfind(origin + "/connect/uiserver.php?", 0), 0u) << dialog;
    dialog = dialog.substr(origin.size());
    const Reply form = server.get(dialog);
    EXPECT_EQ(form.status, 200);
    EXPECT_NE(form.body.find("<form"), std::string::npos);
    EXPECT_NE(form.body.find("name=\"pass\""), std::string::npos);

    const Reply wrong = submit(kFbUser, "nope", "login");
    EXPECT_EQ(wrong.status, 200);
    EXPECT_NE(wrong.body.find("wrong"), std::string::npos);

    const Reply ok = submit(kFbUser, kFbPassword, "login");
    ASSERT_EQ(ok.status, 302);
    const std::string final = ok.headers.at("location");
    EXPECT_EQ(final.rfind(successUri(server) + "#access_token=", 0), 0u) << final;
    const std::string token = parameter(final, "access_token");
    EXPECT_EQ(parameter(final, "expires_in"), "5183999");
    EXPECT_EQ(server.get("/connect/login_success.html").status, 200);

    // The token signs in to the service, making the account on first use.
    const Reply login = loginThroughFacebook(server, token, "device-1");
    EXPECT_EQ(login.member("responseStatus"), "SUCCESS");
    EXPECT_EQ(login.member("userName"), kFbUser);
    EXPECT_EQ(login.member("firstName"), "Fay");
    const std::string cookie = login.headers.at("set-cookie");
    EXPECT_EQ(server.listing(cookie, 0).member("responseStatus"), "OK");

    // Downloads of a Facebook account prove themselves with the token.
    const Reply up = server.upload(cookie, "fb.mp3", wavBytes(4096, "facebook song"));
    const auto id = up.json()->find("purchasedContent")->asArray()[0].find("id")->asInteger();
    const Reply redirect =
        server.get("/Vexmusic/rest/downloadController/redirectToCdnDownload/" + std::to_string(id) +
                       "/?jsessionId=" + TestServer::sessionId(cookie),
                   {{"FACEBOOK_TOKEN", token}});
    EXPECT_EQ(redirect.status, 302);
}

TEST_F(FacebookTest, RefusalAndBadTokens) {
    const Reply denied = submit(kFbUser, "", "deny");
    ASSERT_EQ(denied.status, 302);
    const std::string address = denied.headers.at("location");
    EXPECT_FALSE(parameter(address, "error_description").empty());
    EXPECT_TRUE(parameter(address, "access_token").empty());

    EXPECT_EQ(loginThroughFacebook(server, "forged-token", "d").member("responseStatus"),
              "FAILED_FACEBOOK_AUTHENTICATION");
    EXPECT_EQ(loginThroughFacebook(server, "", "d").member("responseStatus"),
              "FAILED_FACEBOOK_AUTHENTICATION");
}

TEST_F(FacebookTest, TokensNeverGoToAForeignAddress) {
    for (const std::string &redirect :
         {std::string("http://evil.example/connect/login_success.html"),
          std::string("http://127.0.0.1:") + std::to_string(server.port()) + "/elsewhere",
          std::string("javascript:alert(1)")}) {
        const Reply r = server.get("/oauth/authorize?client_id=1&redirect_uri=" + redirect +
                                   "&type=user_agent");
        EXPECT_EQ(r.status, 400) << redirect;
        EXPECT_EQ(r.headers.count("location"), 0u);
    }
}

TEST(AnalyticsTest, EventsAreStoredAndReadBack) {
    TestServer server;
    EXPECT_EQ(server
                  .post("/collect",
                        "v=1&t=event&ec=Registration&ea=SBXLoginSubmit&el=AppleStore&ev=1", {},
                        {{"Content-Type", "application/x-www-form-urlencoded"}})
                  .status,
              200);
    EXPECT_EQ(
        server.post("/collect", R"({"action":"appLoads","category":"Registration","value":1})")
            .status,
        200);
    EXPECT_EQ(server.post("/collect", "{broken").status, 400);
    const auto events = server.get("/collect/events").json();
    ASSERT_TRUE(events && events->isArray());
    ASSERT_EQ(events->asArray().size(), 2u);
    const Value *first = events->asArray()[0].find("fields");
    EXPECT_EQ(first->find("ea")->asString(), "SBXLoginSubmit");
    EXPECT_EQ(first->find("el")->asString(), "AppleStore");
    const Value *second = events->asArray()[1].find("fields");
    EXPECT_EQ(second->find("action")->asString(), "appLoads");
}

} // namespace
