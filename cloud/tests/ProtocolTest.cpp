// The whole life of an account, driven over HTTP against the real server.
#include "TestServer.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <thread>

using cloud::json::Value;
using namespace cloudtest;

namespace {

const std::string kUser = "ann@example.org";
const std::string kPassword = "s3cret pass";

Value registerBody(const std::string &email, const std::string &password,
                   const std::string &confirmation, const std::string &first,
                   const std::string &last, const std::string &signature) {
    Value args;
    args.set("firstName", first);
    args.set("lastName", last);
    args.set("username", email);
    args.set("password", password);
    args.set("passwordConfirmation", confirmation);
    args.set("deviceId", "device-1");
    args.set("REGISTERED_FROM_DESKTOP", 1);
    args.set("signature", signature);
    Value body;
    body.set("registerWithErrorCodes", std::move(args));
    return body;
}

std::vector<Value> items(const Reply &listing) {
    const auto v = listing.json();
    const Value *list = v ? v->find("updatedUserMedias") : nullptr;
    return list && list->isArray() ? list->asArray() : std::vector<Value>{};
}

std::int64_t position(const Reply &listing) {
    const auto v = listing.json();
    const Value *p = v ? v->find("milliseconds") : nullptr;
    return p && p->isInteger() ? p->asInteger() : -1;
}

class ProtocolTest : public ::testing::Test {
protected:
    TestServer server;
    TempDir work;
};

TEST_F(ProtocolTest, TokensAreFreshStringLiterals) {
    const Reply r = server.post("/Vexmusic/userJson", R"({"getToken": ""})");
    ASSERT_EQ(r.status, 200);
    const auto parsed = r.json();
    ASSERT_TRUE(parsed && parsed->isString());
    EXPECT_EQ(parsed->asString().size(), 32u);
    EXPECT_NE(server.token(), server.token());
}

TEST_F(ProtocolTest, RegisterLoginAndSignatureChecks) {
    const std::string device = "device-1";
    const auto reg = [&](const std::string &email) {
        return server.postJson(
            "/Vexmusic/userJson",
            registerBody(email, kPassword, kPassword, "Ann", "Lee",
                         TestServer::signature(email, kPassword, device, server.token())));
    };
    EXPECT_EQ(reg(kUser).member("responseStatus"), "SUCCESS");
    EXPECT_EQ(reg(kUser).member("responseStatus"), "FAILED_USER_EXISTS");

    std::string cookie;
    const Reply ok = server.login(kUser, kPassword, device, &cookie);
    EXPECT_EQ(ok.member("responseStatus"), "SUCCESS");
    EXPECT_EQ(ok.member("userName"), kUser);
    EXPECT_EQ(ok.member("firstName"), "Ann");
    EXPECT_EQ(ok.member("lastName"), "Lee");
    EXPECT_NE(TestServer::sessionId(cookie), "");

    EXPECT_EQ(server.login(kUser, "wrong", device).member("responseStatus"), "FAILED");
    // The address as typed, blanks and capitals included, names the same account.
    EXPECT_EQ(server.login(" ANN@example.org ", kPassword, device).member("responseStatus"),
              "SUCCESS");

    // A signature over a token the server never issued, and one replayed.
    Value args;
    args.set("username", kUser);
    args.set("password", kPassword);
    args.set("deviceId", device);
    args.set("signature", TestServer::signature(kUser, kPassword, device, "made-up-token"));
    Value body;
    body.set("loginDesktop", args);
    EXPECT_EQ(server.postJson("/Vexmusic/userJson", body).member("responseStatus"), "FAILED");

    args.set("signature", TestServer::signature(kUser, kPassword, device, server.token()));
    body.set("loginDesktop", args);
    EXPECT_EQ(server.postJson("/Vexmusic/userJson", body).member("responseStatus"), "SUCCESS");
    EXPECT_EQ(server.postJson("/Vexmusic/userJson", body).member("responseStatus"), "FAILED");
}

TEST_F(ProtocolTest, TokensExpire) {
    TestServer shortLived({"--token-lifetime", "1"});
    shortLived.addUser(kUser, kPassword);
    const std::string token = shortLived.token();
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    Value args;
    args.set("username", kUser);
    args.set("password", kPassword);
    args.set("deviceId", "d");
    args.set("signature", TestServer::signature(kUser, kPassword, "d", token));
    Value body;
    body.set("loginDesktop", args);
    EXPECT_EQ(shortLived.postJson("/Vexmusic/userJson", body).member("responseStatus"), "FAILED");
}

TEST_F(ProtocolTest, RegistrationErrorsNameTheirMessage) {
    struct Case {
        std::string email, password, confirmation, first, last, expected;
    };
    const std::vector<Case> cases = {
        {"  ", "abc", "abc", "A", "B", "email_empty_message"},
        {"not-an-address", "abc", "abc", "A", "B", "invalid_email_message"},
        {"x@example.org", "abc", "abc", " ", "B", "first_name_empty_message"},
        {"x@example.org", "abc", "abc", "A", "", "last_name_empty_message"},
        {"x@example.org", "    ", "    ", "A", "B", "password_empty_message"},
        {"x@example.org", "abc", "abd", "A", "B", "password_is_not_the_same_message"},
        {"x@example.org", "ab", "ab", "A", "B", "password_minimum_size_message"},
    };
    for (const auto &c : cases) {
        const Reply r = server.postJson(
            "/Vexmusic/userJson",
            registerBody(c.email, c.password, c.confirmation, c.first, c.last,
                         TestServer::signature(c.email, c.password, "device-1", server.token())));
        EXPECT_EQ(r.status, 200);
        EXPECT_NE(r.member("responseStatus"), "SUCCESS") << c.expected;
        EXPECT_EQ(r.member("responseText"), c.expected);
    }
}

TEST_F(ProtocolTest, LoginStatuses) {
    server.addUser(kUser, kPassword);
    server.addUser("web@example.org", kPassword, {"--web-only"});
    EXPECT_EQ(server.login(kUser, "", "d").member("responseStatus"), "FAILED_CREDENTIALS_MISSING");
    EXPECT_EQ(server.login("ann", kPassword, "d").member("responseStatus"), "FAILED_INVALID_EMAIL");
    EXPECT_EQ(server.login(kUser, kPassword, "").member("responseStatus"), "DEVICE_ID_NOT_FOUND");
    EXPECT_EQ(server.login("nobody@example.org", kPassword, "d").member("responseStatus"),
              "FAILED");
    EXPECT_EQ(server.login("web@example.org", kPassword, "d").member("responseStatus"),
              "REGISTER_TO_APPLICATION_FIRST");
    // Registering the web account for the desktop with its password lets it in.
    const Reply reg = server.postJson(
        "/Vexmusic/userJson", registerBody("web@example.org", kPassword, kPassword, "W", "Eb",
                                           TestServer::signature("web@example.org", kPassword,
                                                                 "device-1", server.token())));
    EXPECT_EQ(reg.member("responseStatus"), "SUCCESS");
    EXPECT_EQ(server.login("web@example.org", kPassword, "d").member("responseStatus"), "SUCCESS");
}

TEST_F(ProtocolTest, DeviceLimit) {
    TestServer limited({"--device-limit", "2"});
    limited.addUser(kUser, kPassword);
    EXPECT_EQ(limited.login(kUser, kPassword, "one").member("responseStatus"), "SUCCESS");
    EXPECT_EQ(limited.login(kUser, kPassword, "two").member("responseStatus"), "SUCCESS");
    std::string cookie;
    const Reply third = limited.login(kUser, kPassword, "three", &cookie);
    EXPECT_EQ(third.member("responseStatus"), "INVALID_DEVICE_ID");
    EXPECT_EQ(cookie, "");
    EXPECT_EQ(limited.login(kUser, kPassword, "one").member("responseStatus"), "SUCCESS");
}

TEST_F(ProtocolTest, NewSessionEndsTheOldOneAndLogoutEndsItToo) {
    server.addUser(kUser, kPassword);
    const std::string first = server.loginOrFail(kUser, kPassword, "one");
    const std::string other = server.loginOrFail(kUser, kPassword, "two");
    EXPECT_EQ(server.listing(first, 0).member("responseStatus"), "OK");
    const std::string second = server.loginOrFail(kUser, kPassword, "one");
    EXPECT_NE(first, second);
    const Reply stale = server.listing(first, 0);
    EXPECT_EQ(stale.status, 401);
    EXPECT_EQ(stale.member("responseStatus"), "FAILED");
    EXPECT_EQ(server.listing(second, 0).member("responseStatus"), "OK");
    EXPECT_EQ(server.listing(other, 0).member("responseStatus"), "OK");

    EXPECT_EQ(server.post("/Vexmusic/rest/user/logout", "{}", second).member("responseStatus"),
              "SUCCESS");
    EXPECT_EQ(server.listing(second, 0).status, 401);
    EXPECT_EQ(server.listing("", 0).status, 401);
}

TEST_F(ProtocolTest, ListingReportsOnlyChangesSinceThePosition) {
    server.addUser(kUser, kPassword);
    const std::string cookie = server.loginOrFail(kUser, kPassword);
    const Reply empty = server.listing(cookie, 0);
    EXPECT_TRUE(items(empty).empty());

    const std::int64_t a =
        purchasedId(server.upload(cookie, "a.mp3", wavBytes(4096, "first song bytes")));
    const Reply afterA = server.listing(cookie, 0);
    const auto listed = items(afterA);
    ASSERT_EQ(listed.size(), 1u);
    const Value &item = listed.front();
    EXPECT_EQ(item.find("id")->asInteger(), a);
    EXPECT_EQ(item.find("mediaType")->asString(), "AUDIO");
    EXPECT_EQ(item.find("deleted")->asInteger(), 0);
    EXPECT_EQ(item.find("downloadable")->asInteger(), 1);
    EXPECT_EQ(item.find("name")->asString(), "a.mp3");
    EXPECT_EQ(item.find("checksum")->asString(), md5Hex(wavBytes(4096, "first song bytes")));

    const std::int64_t p1 = position(afterA);
    EXPECT_TRUE(items(server.listing(cookie, p1)).empty());
    EXPECT_EQ(position(server.listing(cookie, p1)), p1);

    const std::int64_t b =
        purchasedId(server.upload(cookie, "b.mp3", wavBytes(4096, "second song bytes")));
    const Reply sinceP1 = server.listing(cookie, p1);
    ASSERT_EQ(items(sinceP1).size(), 1u);
    EXPECT_EQ(items(sinceP1).front().find("id")->asInteger(), b);
    EXPECT_GT(position(sinceP1), p1);
    EXPECT_EQ(items(server.listing(cookie, 0)).size(), 2u);
    // A position this server never handed out (its data were reset) lists everything.
    EXPECT_EQ(items(server.listing(cookie, position(sinceP1) + 1000000)).size(), 2u);

    // Another account sees none of it.
    server.addUser("bob@example.org", kPassword);
    const std::string bob = server.loginOrFail("bob@example.org", kPassword);
    EXPECT_TRUE(items(server.listing(bob, 0)).empty());
}

// A minimal recognition catalogue: the tables and columns the import reads.
void makeRecognitionCatalog(const std::filesystem::path &file, const std::string &source,
                            const std::string &gnid) {
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    const std::string sql =
        "CREATE TABLE albums(id INTEGER PRIMARY KEY, gnid TEXT, title TEXT, artist TEXT);"
        "CREATE TABLE tracks(id INTEGER PRIMARY KEY, gnid TEXT, album_id INTEGER, title TEXT,"
        " artist TEXT, source TEXT);"
        "INSERT INTO albums VALUES(1, 'album-1', 'Blue', 'Cat');"
        "INSERT INTO tracks VALUES(1, '" +
        gnid + "', 1, 'Tone', 'Cat', '" + source + "');";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

TEST_F(ProtocolTest, CatalogueMatchByChecksumThenFingerprint) {
    server.addUser(kUser, kPassword);
    const auto song = makeAudio(work.path(), "tone.mp3", 440, "Tone", "Cat", "Blue");
    const auto other = makeAudio(work.path(), "other.mp3", 660, "Other", "Dog", "Red");
    const auto recognition = work.path() / "recognition.sqlite";
    makeRecognitionCatalog(recognition, song.string(), "12345-ABCDEF");
    const auto imported = server.run(
        {"import", "--recognition-catalog", recognition.string(), song.string(), other.string()});
    ASSERT_EQ(imported.exitCode, 0) << imported.output;
    EXPECT_NE(imported.output.find("fingerprintId 12345-ABCDEF"), std::string::npos);

    // Without a session the match is refused in the reply's own words.
    const Reply noSession = server.match("", md5Hex(readFile(song)));
    EXPECT_EQ(noSession.member("purchaseResponseMessage"), "No Session");

    const std::string cookie = server.loginOrFail(kUser, kPassword);
    const Reply byChecksum = server.match(cookie, md5Hex(readFile(song)));
    EXPECT_EQ(byChecksum.member("purchaseResponseStatus"), "SUCCESS");
    const std::int64_t id = purchasedId(byChecksum);
    EXPECT_GT(id, 0);
    EXPECT_EQ(purchasedId(server.match(cookie, md5Hex(readFile(song)))), id);

    const Reply unknown = server.match(cookie, md5Hex("nothing like it"));
    EXPECT_EQ(unknown.member("purchaseResponseStatus"), "FAIL");

    // Another encoding of the same recording: its own checksum, the same identifier.
    server.addUser("bob@example.org", kPassword);
    const std::string bob = server.loginOrFail("bob@example.org", kPassword);
    const Reply byPrint = server.match(bob, md5Hex("a different encoding"), "12345-ABCDEF");
    EXPECT_EQ(byPrint.member("purchaseResponseStatus"), "SUCCESS");
    const auto list = items(server.listing(bob, 0));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.front().find("id")->asInteger(), purchasedId(byPrint));
    EXPECT_EQ(list.front().find("songName")->asString(), "Tone");
    EXPECT_EQ(list.front().find("artistName")->asString(), "Cat");
    EXPECT_EQ(list.front().find("albumName")->asString(), "Blue");
    EXPECT_EQ(list.front().find("fingerprintId")->asString(), "12345-ABCDEF");

    // The catalogue item downloads with the catalogue's bytes.
    const Reply file = server.download(bob, purchasedId(byPrint), "bob@example.org", kPassword);
    EXPECT_EQ(file.status, 200);
    EXPECT_EQ(file.body, readFile(song));
}

TEST_F(ProtocolTest, UploadThenDownloadThroughTheRedirect) {
    server.addUser(kUser, kPassword);
    const std::string cookie = server.loginOrFail(kUser, kPassword);
    const auto song = makeAudio(work.path(), "up.mp3", 500, "Up Song", "Uploader", "Mine");
    const std::string bytes = readFile(song);
    const Reply up = server.upload(cookie, "up.mp3", bytes);
    ASSERT_EQ(up.status, 200) << up.body;
    const std::int64_t id = purchasedId(up);
    ASSERT_GT(id, 0);

    const auto list = items(server.listing(cookie, 0));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.front().find("checksum")->asString(), md5Hex(bytes));
    EXPECT_EQ(list.front().find("songName")->asString(), "Up Song");
    EXPECT_EQ(list.front().find("artistName")->asString(), "Uploader");

    Reply redirect;
    const Reply file = server.download(cookie, id, kUser, kPassword, &redirect);
    EXPECT_EQ(redirect.status, 302);
    EXPECT_EQ(file.status, 200);
    EXPECT_EQ(file.headers.at("content-length"), std::to_string(bytes.size()));
    EXPECT_EQ(file.body, bytes);

    // The same bytes again are the same song, not a second one.
    EXPECT_EQ(purchasedId(server.upload(cookie, "again.mp3", bytes)), id);
    EXPECT_EQ(items(server.listing(cookie, 0)).size(), 1u);
}

TEST_F(ProtocolTest, DeviceStatusAndRecognitionHandle) {
    server.addUser(kUser, kPassword);
    const std::string cookie = server.loginOrFail(kUser, kPassword);
    const Value status =
        cloud::json::parse(
            R"({"updateDeviceServiceStatus": {"status": "MATCHING", "tracksFound": 12}})")
            .value();
    EXPECT_EQ(server.postJson("/Vexmusic/userJson", status, cookie).member("responseStatus"),
              "SUCCESS");
    EXPECT_EQ(server.postJson("/Vexmusic/userJson", status).status, 401);

    EXPECT_EQ(
        server.post("/Vexmusic/rest/user/updateGracenoteUser", R"({"value": "handle-1"})", cookie)
            .member("responseStatus"),
        "SUCCESS");
    const Reply again = server.login(kUser, kPassword, "device-1");
    EXPECT_EQ(again.member("gracenoteUser"), "handle-1");
}

} // namespace
