// The web player's server side against the real program: its sign-in and
// session cookie, the music-player API reached with that cookie, the player
// passwords it manages, and what a browser tricked by another site could do.
#include "Store.h"
#include "TestServer.h"

#include <gtest/gtest.h>
#include <httplib.h>

namespace fs = std::filesystem;
using cloud::json::Value;
using namespace cloudtest;

namespace {

class WebPlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new TestServer();
        media = new TempDir();
        server->addUser("ann@example.com", "ann-secret");
        server->addUser("bob@example.com", "bob-secret");
        server->addUser("carol@example.com", "carol-secret");
        server->addUser("erin@example.com", "erin-secret");
        const std::string blue = "-metadata album='Blue Hours' -metadata artist='Ann Band' ";
        annSong = new std::string(readFile(makeSong(media->path(), "first.mp3", 440,
                                                    blue + "-metadata title='First Light'", true)));
        const fs::path catalogue = makeSong(
            media->path(), "old.mp3", 660,
            "-metadata title='Old Tune' -metadata artist='Zed' -metadata album='Archive'", false);
        if (server->run({"import", catalogue}).exitCode != 0)
            throw std::runtime_error("import failed");
        const std::string ann = server->loginOrFail("ann@example.com", "ann-secret");
        server->upload(ann, "first.mp3", *annSong);
        server->match(ann, md5Hex(readFile(catalogue)));
        const std::string bob = server->loginOrFail("bob@example.com", "bob-secret");
        server->upload(
            bob, "bob.mp3",
            readFile(makeSong(media->path(), "bob.mp3", 770,
                              "-metadata title='Bob Song' -metadata album='Bobs'", false)));
    }
    static void TearDownTestSuite() {
        delete server;
        delete media;
        delete annSong;
    }

    static Reply send(const std::string &method, const std::string &path, const std::string &body,
                      const std::string &contentType,
                      const std::map<std::string, std::string> &headers = {}) {
        return method == "POST" ? server->postAs(path, body, contentType, headers)
                                : server->get(path, headers);
    }
    static Reply api(const std::string &path, const std::string &cookie,
                     const std::string &body = {}, bool post = true,
                     std::map<std::string, std::string> headers = {}) {
        if (!cookie.empty())
            headers["Cookie"] = cookie;
        return send(post ? "POST" : "GET", "/web/api/" + path, body, "application/json", headers);
    }
    // Signs in; returns the cookie pair ("sonarbox_web=…") and the reply.
    static std::string signIn(const std::string &email, const std::string &password,
                              Reply *reply = nullptr) {
        Value args;
        args.set("email", email);
        args.set("password", password);
        const Reply r = api("signin", {}, cloud::json::serialize(args));
        if (reply)
            *reply = r;
        const std::string setCookie =
            r.headers.count("set-cookie") ? r.headers.at("set-cookie") : "";
        return setCookie.substr(0, setCookie.find(';'));
    }
    static Value rest(const std::string &method, const std::string &cookie,
                      const std::string &query = {},
                      std::map<std::string, std::string> headers = {}) {
        headers["Cookie"] = cookie;
        const Reply r = server->get(
            "/rest/" + method + "?f=json" + (query.empty() ? "" : "&" + query), headers);
        const auto v = cloud::json::parse(r.body);
        if (!v || !v->find("subsonic-response"))
            throw std::runtime_error("not an API answer: " + r.body);
        return *v->find("subsonic-response");
    }
    static int restError(const std::string &method, const std::string &cookie,
                         const std::string &query = {},
                         const std::map<std::string, std::string> &headers = {}) {
        const Value v = rest(method, cookie, query, headers);
        const Value *e = v.find("error");
        return e && e->find("code") ? static_cast<int>(e->find("code")->asInteger()) : -1;
    }
    // The IDs of an account's songs by title.
    static std::map<std::string, std::string> songIds(const std::string &cookie) {
        std::map<std::string, std::string> out;
        const Value v = rest("search3", cookie, "query=");
        const Value *songs =
            v.find("searchResult3") ? v.find("searchResult3")->find("song") : nullptr;
        if (songs)
            for (const Value &s : songs->asArray())
                out[s.find("title")->asString()] = s.find("id")->asString();
        return out;
    }

    static inline TestServer *server = nullptr;
    static inline TempDir *media = nullptr;
    static inline std::string *annSong = nullptr;
};

TEST_F(WebPlayerTest, SignInGivesAStrictHttpOnlyCookieAndAWrongPasswordNone) {
    Reply wrong;
    EXPECT_EQ(signIn("ann@example.com", "not-it", &wrong), "");
    EXPECT_EQ(wrong.status, 401);
    EXPECT_EQ(wrong.member("error"), "wrong e-mail address or password");

    Reply ok;
    const std::string cookie = signIn(" ann@example.com ", "ann-secret", &ok);
    ASSERT_EQ(ok.status, 200) << ok.body;
    EXPECT_EQ(ok.member("email"), "ann@example.com");
    const std::string setCookie = ok.headers["set-cookie"];
    EXPECT_EQ(cookie.rfind("sonarbox_web=", 0), 0u) << setCookie;
    EXPECT_GE(cookie.size(), 13u + 32);
    EXPECT_NE(setCookie.find("; HttpOnly"), std::string::npos) << setCookie;
    EXPECT_NE(setCookie.find("; SameSite=Strict"), std::string::npos) << setCookie;
    EXPECT_NE(setCookie.find("; Path=/;"), std::string::npos) << setCookie;
    EXPECT_EQ(setCookie.find("Secure"), std::string::npos) << "plain HTTP: " << setCookie;

    EXPECT_EQ(api("me", cookie, {}, false).member("email"), "ann@example.com");
    EXPECT_EQ(api("me", {}, {}, false).status, 401);
    EXPECT_EQ(api("me", "sonarbox_web=0123456789abcdef0123456789abcdef0123456789abcdef", {}, false)
                  .status,
              401);
}

TEST_F(WebPlayerTest, TheCookieOpensThePlayerApiForItsOwnLibraryOnly) {
    const std::string ann = signIn("ann@example.com", "ann-secret");
    const std::string bob = signIn("bob@example.com", "bob-secret");
    const auto annSongs = songIds(ann);
    const auto bobSongs = songIds(bob);
    ASSERT_EQ(annSongs.size(), 2u); // the upload and the catalogue match
    ASSERT_EQ(bobSongs.size(), 1u);
    EXPECT_TRUE(annSongs.count("First Light") && annSongs.count("Old Tune"));

    const Value albums = rest("getAlbumList2", ann, "type=alphabeticalByName");
    std::vector<std::string> names;
    for (const Value &a : albums.find("albumList2")->find("album")->asArray())
        names.push_back(a.find("name")->asString());
    EXPECT_EQ(names, (std::vector<std::string>{"Archive", "Blue Hours"}));

    // The stream is the stored file, with the cookie as the only credential.
    const Reply streamed = server->get("/rest/stream?id=" + annSongs.at("First Light"),
                                       {{"Cookie", ann}, {"Range", "bytes=10-19"}});
    EXPECT_EQ(streamed.status, 206);
    EXPECT_EQ(streamed.body, annSong->substr(10, 10));

    const std::string bobsId = bobSongs.begin()->second;
    EXPECT_EQ(restError("getSong", ann, "id=" + bobsId), 70);
    EXPECT_EQ(restError("stream", ann, "id=" + bobsId), 70);
    EXPECT_EQ(restError("getCoverArt", bob, "id=" + annSongs.at("First Light")), 70);
    EXPECT_EQ(restError("ping", "sonarbox_web=ended"), 40);
    // Credentials in the query are judged as such, whatever the cookie says.
    EXPECT_EQ(restError("ping", ann, "u=ann@example.com&p=ann-secret"), 40);
}

TEST_F(WebPlayerTest, WhatAnotherSiteCouldMakeABrowserSendIsRefused) {
    const std::string ann = signIn("ann@example.com", "ann-secret");
    const std::string id = songIds(ann).at("First Light");
    // JSONP is a script any page can include; with a cookie it would leak the library.
    const Reply jsonp =
        server->get("/rest/getSong?f=jsonp&callback=steal&id=" + id, {{"Cookie", ann}});
    EXPECT_EQ(jsonp.body.find("First Light"), std::string::npos) << jsonp.body;
    EXPECT_NE(jsonp.body.find("\"code\":50"), std::string::npos) << jsonp.body;
    EXPECT_EQ(restError("getSong", ann, "id=" + id, {{"Sec-Fetch-Site", "cross-site"}}), 50);
    EXPECT_EQ(restError("getSong", ann, "id=" + id, {{"Sec-Fetch-Site", "same-origin"}}), -1);
    EXPECT_EQ(
        api("player-passwords", ann, "{\"name\":\"x\"}", true, {{"Sec-Fetch-Site", "cross-site"}})
            .status,
        403);
    // A form of another site can post text/plain, not JSON.
    EXPECT_EQ(send("POST", "/web/api/player-passwords", "{\"name\":\"x\"}", "text/plain",
                   {{"Cookie", ann}})
                  .status,
              415);
    EXPECT_EQ(send("POST", "/web/api/signin",
                   "{\"email\":\"ann@example.com\",\"password\":\"ann-secret\"}",
                   "application/x-www-form-urlencoded")
                  .status,
              415);

    // Web and desktop sessions do not stand in for each other.
    const std::string webId = ann.substr(ann.find('=') + 1);
    EXPECT_EQ(server->listing("JSESSIONID=" + webId, 0).status, 401);
    EXPECT_EQ(
        server
            ->get("/Vexmusic/rest/downloadController/redirectToCdnDownload/1/?jsessionId=" + webId)
            .status,
        401);
    const std::string desktop = server->loginOrFail("ann@example.com", "ann-secret", "device-9");
    EXPECT_EQ(api("me", "sonarbox_web=" + TestServer::sessionId(desktop), {}, false).status, 401);
    EXPECT_EQ(restError("ping", "sonarbox_web=" + TestServer::sessionId(desktop)), 40);
}

// Players running in a browser on another address may use the API with their
// own credentials; nothing else of the server is shared across origins, and
// the web session's cookie counts only on the server's own pages.
TEST_F(WebPlayerTest, OtherOriginsReachTheApiOnlyAndNeverWithTheCookie) {
    const std::string elsewhere = "http://127.0.0.1:" + std::to_string(server->port() + 1);
    Reply preflight = server->options("/rest/getPlayQueue.view",
                                      {{"Origin", elsewhere},
                                       {"Access-Control-Request-Method", "POST"},
                                       {"Access-Control-Request-Headers", "content-type"}});
    EXPECT_EQ(preflight.status, 204);
    EXPECT_EQ(preflight.headers["access-control-allow-origin"], "*");
    EXPECT_NE(preflight.headers["access-control-allow-methods"].find("POST"), std::string::npos);
    EXPECT_EQ(preflight.headers["access-control-allow-headers"], "content-type");
    EXPECT_EQ(preflight.headers.count("access-control-allow-credentials"), 0u);

    const PlayerCredentials phone = addPlayerPassword(*server, "erin@example.com", "browser app");
    Reply answer = server->get("/rest/ping?f=json&apiKey=" + phone.apiKey,
                               {{"Origin", elsewhere}, {"Sec-Fetch-Site", "same-site"}});
    EXPECT_NE(answer.body.find("\"status\":\"ok\""), std::string::npos) << answer.body;
    EXPECT_EQ(answer.headers["access-control-allow-origin"], "*");
    EXPECT_EQ(answer.headers.count("access-control-allow-credentials"), 0u);
    // Even a refusal is readable, so that the app can tell what went wrong.
    EXPECT_EQ(server->get("/rest/ping?f=json&apiKey=nope").headers["access-control-allow-origin"],
              "*");

    // The pages and the web player's own API are for this origin alone.
    const std::string ann = signIn("ann@example.com", "ann-secret");
    for (const char *path : {"/", "/web/api/me", "/healthz"})
        EXPECT_EQ(server->get(path, {{"Origin", elsewhere}, {"Cookie", ann}})
                      .headers.count("access-control-allow-origin"),
                  0u)
            << path;
    EXPECT_EQ(server->options("/web/api/me", {{"Origin", elsewhere}})
                  .headers.count("access-control-allow-origin"),
              0u);
    EXPECT_EQ(
        api("player-passwords", ann, "{\"name\":\"x\"}", true, {{"Origin", elsewhere}}).status,
        403);

    // The cookie names an account only for a request of the server's own origin.
    const std::string own = "http://127.0.0.1:" + std::to_string(server->port());
    const std::string id = "id=" + songIds(ann).at("First Light");
    EXPECT_EQ(restError("getSong", ann, id, {{"Origin", own}}), -1);
    EXPECT_EQ(restError("getSong", ann, id, {{"Origin", elsewhere}}), 50);
    EXPECT_EQ(restError("getSong", ann, id, {{"Origin", "null"}}), 50);
    EXPECT_EQ(restError("getSong", ann, id, {{"Sec-Fetch-Site", "same-site"}}), 50);
    EXPECT_EQ(restError("savePlayQueue", ann, id, {{"Origin", elsewhere}}), 50);
}

TEST_F(WebPlayerTest, SignOutEndsThatBrowsersSessionOnly) {
    const std::string first = signIn("ann@example.com", "ann-secret");
    const std::string second = signIn("ann@example.com", "ann-secret");
    ASSERT_NE(first, second);
    Reply out = api("signout", first, "{}");
    EXPECT_EQ(out.status, 200);
    EXPECT_NE(out.headers["set-cookie"].find("sonarbox_web=; Path=/; Max-Age=0"), std::string::npos)
        << out.headers["set-cookie"];
    EXPECT_EQ(api("me", first, {}, false).status, 401);
    EXPECT_EQ(restError("ping", first), 40);
    EXPECT_EQ(api("me", second, {}, false).status, 200);
    EXPECT_EQ(restError("ping", second), -1);
}

TEST_F(WebPlayerTest, SignInsWithoutSignOutsKeepTheNewestTwentySessions) {
    std::vector<std::string> cookies;
    for (int i = 0; i < 21; ++i)
        cookies.push_back(signIn("erin@example.com", "erin-secret"));
    EXPECT_EQ(api("me", cookies[0], {}, false).status, 401);
    EXPECT_EQ(api("me", cookies[1], {}, false).status, 200);
    EXPECT_EQ(api("me", cookies[20], {}, false).status, 200);
    // The account's desktop session is no browser's and stays.
    const std::string desktop = server->loginOrFail("erin@example.com", "erin-secret", "pc");
    signIn("erin@example.com", "erin-secret");
    EXPECT_EQ(server->listing(desktop, 0).status, 200);
    EXPECT_EQ(api("me", cookies[1], {}, false).status, 401);
}

TEST_F(WebPlayerTest, PlayerPasswordsMadeOnThePageWorkUntilRevoked) {
    const std::string ann = signIn("ann@example.com", "ann-secret");
    const Reply made = api("player-passwords", ann, "{\"name\":\"kitchen radio\"}");
    ASSERT_EQ(made.status, 201) << made.body;
    const std::string password = made.member("password");
    const std::string apiKey = made.member("apiKey");
    EXPECT_EQ(password.size(), 24u);
    EXPECT_EQ(apiKey.size(), 40u);
    EXPECT_EQ(api("player-passwords", ann, "{\"name\":\"kitchen radio\"}").status, 409);
    EXPECT_EQ(api("player-passwords", ann, "{\"name\":\"\"}").status, 400);
    EXPECT_EQ(api("player-passwords", ann, "{\"name\":7}").status, 400);
    EXPECT_EQ(api("player-passwords", ann, "[1]").status, 400);

    const auto listed = [&] {
        const Value v = *api("player-passwords", ann, {}, false).json();
        return v.find("playerPasswords")->asArray();
    };
    // Never used yet: its last use is null.
    ASSERT_EQ(listed().size(), 1u);
    ASSERT_NE(listed()[0].find("lastUsed"), nullptr) << cloud::json::serialize(listed()[0]);
    EXPECT_TRUE(listed()[0].find("lastUsed")->isNull()) << cloud::json::serialize(listed()[0]);

    const auto ping = [&](const std::string &query) {
        const Reply r = server->get("/rest/ping?f=json&" + query);
        return r.body.find("\"status\":\"ok\"") != std::string::npos;
    };
    const std::int64_t before = cloud::nowMs();
    EXPECT_FALSE(ping("u=ann%40example.com&p=wrong"));
    EXPECT_TRUE(listed()[0].find("lastUsed")->isNull()) << "a failed attempt is no use";
    EXPECT_TRUE(ping("u=ann%40example.com&p=" + password));
    EXPECT_TRUE(ping("apiKey=" + apiKey));

    const auto list = listed();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].find("name")->asString(), "kitchen radio");
    EXPECT_GE(list[0].find("created")->asInteger(), before - 60 * 1000);
    ASSERT_TRUE(list[0].find("lastUsed")->isInteger()) << cloud::json::serialize(list[0]);
    EXPECT_GE(list[0].find("lastUsed")->asInteger(), before);
    EXPECT_LE(list[0].find("lastUsed")->asInteger(), cloud::nowMs());
    EXPECT_EQ(list[0].find("password"), nullptr);
    EXPECT_EQ(api("player-passwords", ann, {}, false).body.find(password), std::string::npos)
        << "a player password is shown once only";
    // Another account neither sees nor revokes it.
    const std::string bob = signIn("bob@example.com", "bob-secret");
    EXPECT_EQ(api("player-passwords", bob, {}, false).body.find("kitchen"), std::string::npos);
    EXPECT_EQ(api("player-passwords/remove", bob, "{\"name\":\"kitchen radio\"}").status, 404);
    EXPECT_TRUE(ping("apiKey=" + apiKey));

    EXPECT_EQ(api("player-passwords/remove", ann, "{\"name\":\"kitchen radio\"}").status, 200);
    EXPECT_FALSE(ping("u=ann%40example.com&p=" + password));
    EXPECT_FALSE(ping("apiKey=" + apiKey));
    EXPECT_EQ(api("player-passwords/remove", ann, "{\"name\":\"kitchen radio\"}").status, 404);
    EXPECT_EQ(api("player-passwords", {}, "{\"name\":\"sneaky\"}").status, 401);
}

TEST_F(WebPlayerTest, FailedSignInsBackOffTogetherWithTheDesktops) {
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(signIn("carol@example.com", "guess-" + std::to_string(i)), "");
    // A desktop failure counts toward the same budget.
    server->login("carol@example.com", "guess-desktop", "device-1");
    Reply blocked;
    EXPECT_EQ(signIn("carol@example.com", "carol-secret", &blocked), "");
    EXPECT_EQ(blocked.status, 429);
    EXPECT_NE(blocked.member("error").find("too many failed sign-ins: try again in"),
              std::string::npos)
        << blocked.body;
    EXPECT_FALSE(blocked.headers["retry-after"].empty());
    EXPECT_EQ(server->login("carol@example.com", "carol-secret", "device-1")
                  .member("responseText")
                  .rfind("too many failed sign-ins", 0),
              0u);
}

TEST_F(WebPlayerTest, PagesAllowNothingFromElsewhere) {
    for (const char *path : {"/", "/web/app.js", "/web/api.js", "/web/player.js", "/web/songs.js",
                             "/web/views.js", "/web/style.css", "/web/icon.svg"}) {
        Reply r = server->get(path);
        ASSERT_EQ(r.status, 200) << path;
        const std::string csp = r.headers["content-security-policy"];
        EXPECT_EQ(csp, "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
                       "media-src 'self'; connect-src 'self'; form-action 'self'; base-uri 'none'; "
                       "frame-ancestors 'none'")
            << path;
        EXPECT_EQ(r.headers["x-content-type-options"], "nosniff") << path;
    }
    EXPECT_EQ(server->get("/web/app.js").headers["content-type"], "text/javascript; charset=utf-8");
    EXPECT_EQ(server->get("/web/player.js").headers["content-type"],
              "text/javascript; charset=utf-8");
    const std::string page = server->get("/").body;
    // Inline script or style would need the policy loosened.
    EXPECT_NE(page.find("<script type=\"module\" src=\"/web/app.js\""), std::string::npos);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_EQ(page.find("style=\""), std::string::npos);
    EXPECT_EQ(page.find("http"), std::string::npos) << "every address is the server's own";
    // The sections the desktop client links to (terms, password help, help).
    EXPECT_NE(page.find("id=\"/tcs\""), std::string::npos);
    EXPECT_NE(page.find("id=\"/sendResetPassword\""), std::string::npos);
    EXPECT_NE(page.find("id=\"/faq\""), std::string::npos);
}

TEST(WebPlayerHttpsTest, TheCookieIsSecureBehindAnHttpsAddress) {
    TestServer server({"--public-url", "https://music.example.org"});
    server.addUser("dan@example.com", "dan-secret");
    httplib::Client cli("127.0.0.1", server.port());
    const auto r =
        cli.Post("/web/api/signin", "{\"email\":\"dan@example.com\",\"password\":\"dan-secret\"}",
                 "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_NE(r->get_header_value("Set-Cookie").find("; Secure"), std::string::npos)
        << r->get_header_value("Set-Cookie");
}

} // namespace
