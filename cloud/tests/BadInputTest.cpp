// Hostile and broken requests: each gets a clear error, and the server keeps
// running with its data intact.
#include "TestServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

using cloud::json::Value;
using namespace cloudtest;
namespace fs = std::filesystem;

namespace {

const std::string kUser = "ann@example.org";
const std::string kPassword = "s3cret pass";

// Sends raw bytes on a fresh connection and returns what comes back within
// the time limit (the connection may stay open).
std::string rawExchange(int port, const std::string &bytes, bool closeAfterSend = false,
                        int waitMs = 2000) {
    const int fd = connectLocal(port, waitMs);
    if (fd < 0)
        return {};
    [[maybe_unused]] const auto sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    std::string reply;
    if (!closeAfterSend) {
        timeval tv{waitMs / 1000, (waitMs % 1000) * 1000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char buf[4096];
        ssize_t n;
        while (reply.find("\r\n\r\n") == std::string::npos &&
               (n = recv(fd, buf, sizeof buf, 0)) > 0)
            reply.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    return reply;
}

class BadInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.addUser(kUser, kPassword);
        cookie = server.loginOrFail(kUser, kPassword);
    }
    void expectAlive() { EXPECT_EQ(server.listing(cookie, 0).member("responseStatus"), "OK"); }
    TestServer server;
    std::string cookie;
};

TEST_F(BadInputTest, MalformedJsonIsRefusedWithTheReason) {
    const std::vector<std::string> bodies = {
        "",
        "{",
        R"({"loginDesktop": {"username": "a)",
        R"({"loginDesktop": {"username": "a@b.cd",})",
        "not json at all",
        "[1, 2, 3]",
        "\"just a string\"",
        std::string(100000, '['),
        "{\"getToken\": \"\xff\xfe\"}",
        R"({"a": "\ud800"})",
        R"({"getToken": ""} trailing)",
    };
    for (const auto &body : bodies) {
        const Reply r = server.post("/Vexmusic/userJson", body);
        EXPECT_EQ(r.status, 400) << body.substr(0, 40);
        EXPECT_EQ(r.member("responseStatus"), "FAILED");
        EXPECT_FALSE(r.member("responseText").empty());
    }
    for (const char *path :
         {"/Vexmusic/rest/medias/sync", "/Vexmusic/rest/userContent/createUserMediaFromCatalog",
          "/Vexmusic/rest/user/updateGracenoteUser"}) {
        EXPECT_EQ(server.post(path, "{\"milliseconds\": ", cookie).status, 400) << path;
    }
    expectAlive();
}

TEST_F(BadInputTest, WrongMemberTypesAndUnknownOperations) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/Vexmusic/userJson", R"({"loginDesktop": {"username": 12, "password": "x"}})"},
        {"/Vexmusic/userJson", R"({"loginDesktop": "ann"})"},
        {"/Vexmusic/userJson", R"({"registerWithErrorCodes": {"REGISTERED_FROM_DESKTOP": "yes"}})"},
        {"/Vexmusic/userJson", R"({"updateDeviceServiceStatus": {"status": ["A"]}})"},
        {"/Vexmusic/userJson", R"({"deleteEverything": {}})"},
        {"/Vexmusic/userJson", R"({"getToken": "", "loginDesktop": {}})"},
        {"/Vexmusic/userJson", R"({})"},
        {"/Vexmusic/rest/medias/sync", R"({"milliseconds": "0"})"},
        {"/Vexmusic/rest/medias/sync", R"({"milliseconds": -5})"},
        {"/Vexmusic/rest/medias/sync", R"({"milliseconds": 1.5})"},
        {"/Vexmusic/rest/userContent/createUserMediaFromCatalog", R"({"checksum": 5})"},
        {"/Vexmusic/rest/userContent/createUserMediaFromCatalog", R"({"score": 1})"},
        {"/Vexmusic/rest/userContent/createUserMediaFromCatalog",
         R"({"checksum": "abc", "graceNoteTrackInfo": "x"})"},
        {"/Vexmusic/rest/user/updateGracenoteUser", R"({"value": false})"},
    };
    for (const auto &[path, body] : cases) {
        const Reply r = server.post(path, body, cookie);
        EXPECT_EQ(r.status, 400) << path << " " << body;
        EXPECT_EQ(r.member("responseStatus"), "FAILED") << body;
        EXPECT_FALSE(r.member("responseText").empty()) << body;
    }
    const Reply unknownPath = server.post("/Vexmusic/userContentJson", "{}", cookie);
    EXPECT_EQ(unknownPath.status, 404);
    EXPECT_EQ(unknownPath.member("responseStatus"), "FAILED");
    expectAlive();
}

TEST_F(BadInputTest, OversizedBodiesAreRefusedBeforeTheyAreRead) {
    // Only the headers are sent: the refusal must not wait for the body.
    const auto start = std::chrono::steady_clock::now();
    const std::string upload =
        rawExchange(server.port(), "POST /Vexmusic/controllers/DesktopUploadMedia HTTP/1.1\r\n"
                                   "Host: x\r\nCookie: " +
                                       cookie +
                                       "\r\nContent-Type: multipart/form-data; boundary=BX\r\n"
                                       "Content-Length: 104857601000\r\n\r\n--BX\r\n");
    EXPECT_NE(upload.find(" 413 "), std::string::npos) << upload;
    const std::string json = rawExchange(server.port(), "POST /Vexmusic/userJson HTTP/1.1\r\n"
                                                        "Host: x\r\nContent-Length: 5000000\r\n"
                                                        "\r\n{\"getToken\"");
    EXPECT_NE(json.find(" 413 "), std::string::npos) << json;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(server.unfinishedCount(), 0);
    EXPECT_EQ(server.storedCount(), 0);
    expectAlive();
}

TEST_F(BadInputTest, UploadOverTheLimitWhileStreamingLeavesNothing) {
    TestServer small({"--max-upload-mib", "1"});
    small.addUser(kUser, kPassword);
    const std::string session = small.loginOrFail(kUser, kPassword);
    const Reply r = small.upload(session, "big.mp3", wavBytes(1024 * 1024 + 10, "x"));
    EXPECT_EQ(r.status, 413);
    EXPECT_EQ(r.headers.count("x-upload-limit") ? r.headers.at("x-upload-limit") : "", "1048576");
    EXPECT_EQ(small.upload(session, "fits.mp3", wavBytes(1024 * 1024, "y")).status, 200);
    EXPECT_EQ(small.unfinishedCount(), 0);
    EXPECT_EQ(small.storedCount(), 1);
}

// Why an upload would be refused before its body is read, asked without the
// body: what a client cut off while sending asks.
TEST_F(BadInputTest, AnUploadCheckAnswersAsTheUploadWouldBeforeItsBody) {
    const std::string path = "/Vexmusic/controllers/DesktopUploadMedia?fileSize=";
    const auto check = [&](const std::string &size, const std::string &as) {
        return server.get(path + size, as.empty()
                                           ? std::map<std::string, std::string>{}
                                           : std::map<std::string, std::string>{{"Cookie", as}});
    };
    const auto limitOf = [](const Reply &r) {
        return r.headers.count("x-upload-limit") ? r.headers.at("x-upload-limit") : "";
    };
    EXPECT_EQ(check("1000", "").status, 401);
    for (const char *bad : {"", "-5", "12abc", "99999999999999999999999"})
        EXPECT_EQ(check(bad, cookie).status, 400) << bad;
    const Reply over = check("104857601", cookie);
    EXPECT_EQ(over.status, 413);
    EXPECT_EQ(limitOf(over), "104857600");
    EXPECT_EQ(over.member("responseText"), "the file is larger than the limit of 100 MiB");
    const Reply fits = check("104857600", cookie);
    EXPECT_EQ(fits.status, 200);
    EXPECT_EQ(limitOf(fits), "104857600");
    EXPECT_EQ(server.unfinishedCount(), 0);
}

TEST_F(BadInputTest, CutOffUploadLeavesNoHalfFile) {
    const std::string head = "POST /Vexmusic/controllers/DesktopUploadMedia HTTP/1.1\r\nHost: x\r\n"
                             "Cookie: " +
                             cookie +
                             "\r\nContent-Type: multipart/form-data; boundary=BX\r\n"
                             "Content-Length: 200000\r\n\r\n"
                             "--BX\r\nContent-Disposition: form-data; name=\"file\"; "
                             "filename=\"cut.mp3\"\r\nContent-Type: audio/mpeg\r\n\r\n";
    rawExchange(server.port(), head + std::string(50000, 'z'), true);
    // A body that is complete by length but never closes its multipart frame.
    const std::string unterminated = "--BX\r\nContent-Disposition: form-data; name=\"file\"; "
                                     "filename=\"open.mp3\"\r\n\r\nabcdef";
    const std::string reply = rawExchange(
        server.port(), "POST /Vexmusic/controllers/DesktopUploadMedia HTTP/1.1\r\nHost: x\r\n"
                       "Cookie: " +
                           cookie +
                           "\r\nContent-Type: multipart/form-data; boundary=BX\r\n"
                           "Content-Length: " +
                           std::to_string(unterminated.size()) + "\r\n\r\n" + unterminated);
    EXPECT_NE(reply.find(" 400 "), std::string::npos) << reply;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(server.unfinishedCount(), 0);
    EXPECT_EQ(server.storedCount(), 0);
    const auto listing = server.listing(cookie, 0).json();
    ASSERT_TRUE(listing);
    EXPECT_TRUE(listing->find("updatedUserMedias")->asArray().empty());
}

TEST_F(BadInputTest, HostileFileNamesStayInsideTheDataFolder) {
    const std::vector<std::pair<std::string, std::string>> names = {
        {"../../escape.mp3", "escape.mp3"},
        {"/etc/passwd", "passwd"},
        {"a/b/c.mp3", "c.mp3"},
        {std::string("nul\0byte.mp3", 12), "nulbyte.mp3"},
        {"..", "Unknown"},
    };
    int n = 0;
    for (const auto &[name, stored] : names) {
        const Reply r =
            server.upload(cookie, name, wavBytes(4096, "content " + std::to_string(n++)));
        ASSERT_EQ(r.status, 200) << r.body;
    }
    const auto listing = server.listing(cookie, 0).json();
    ASSERT_TRUE(listing);
    std::set<std::string> seen;
    for (const auto &item : listing->find("updatedUserMedias")->asArray())
        seen.insert(item.find("name")->asString());
    for (const auto &[name, stored] : names)
        EXPECT_TRUE(seen.count(stored)) << stored;
    EXPECT_FALSE(fs::exists(server.dataDir().parent_path() / "escape.mp3"));
    EXPECT_FALSE(fs::exists(server.dataDir() / "escape.mp3"));
    EXPECT_EQ(server.storedCount(), static_cast<int>(names.size()));
}

TEST_F(BadInputTest, RefusedUploadsKeepTheConnectionUsable) {
    const Reply noSession = server.upload("JSESSIONID=forged", "a.mp3", "bytes");
    EXPECT_EQ(noSession.status, 401);
    EXPECT_EQ(noSession.member("responseText"), "No Session");
    EXPECT_EQ(server.post("/Vexmusic/controllers/DesktopUploadMedia", "{}", cookie).status, 400);
    EXPECT_EQ(server.storedCount(), 0);
}

TEST_F(BadInputTest, DownloadsAreRefusedToStrangersAndForgers) {
    const Reply up = server.upload(cookie, "mine.mp3", wavBytes(4096, "my song"));
    const std::int64_t id =
        up.json()->find("purchasedContent")->asArray()[0].find("id")->asInteger();

    server.addUser("eve@example.org", kPassword);
    const std::string eve = server.loginOrFail("eve@example.org", kPassword);
    EXPECT_EQ(server.download(eve, id, "eve@example.org", kPassword).status, 404);
    EXPECT_EQ(server.download(cookie, id, kUser, "wrong password").status, 403);
    EXPECT_EQ(server.download(cookie, id, "eve@example.org", kPassword).status, 403);
    EXPECT_EQ(server.download("JSESSIONID=nope", id, kUser, kPassword).status, 401);
    EXPECT_EQ(server.download(cookie, 999999, kUser, kPassword).status, 404);
    EXPECT_EQ(server
                  .get("/Vexmusic/rest/downloadController/redirectToCdnDownload/x1/"
                       "?jsessionId=" +
                           TestServer::sessionId(cookie),
                       {{"USERNAME", kUser}, {"PASSWORD", kPassword}})
                  .status,
              400);
    const Reply fbHeader =
        server.get("/Vexmusic/rest/downloadController/redirectToCdnDownload/" + std::to_string(id) +
                       "/?jsessionId=" + TestServer::sessionId(cookie),
                   {{"FACEBOOK_TOKEN", "bogus"}});
    EXPECT_EQ(fbHeader.status, 403);

    Reply redirect;
    ASSERT_EQ(server.download(cookie, id, kUser, kPassword, &redirect).status, 200);
    std::string path = redirect.headers.at("location");
    path = path.substr(path.find("/cdn/"));
    // /cdn/<file>/<media>/<expiry>/<signature>/<name>
    std::vector<std::string> parts;
    for (std::size_t start = 1, end; start <= path.size(); start = end + 1) {
        end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        parts.push_back(path.substr(start, end - start));
    }
    ASSERT_EQ(parts.size(), 6u);
    const auto rebuild = [&](std::vector<std::string> p) {
        std::string out;
        for (const auto &s : p)
            out += "/" + s;
        return out;
    };
    auto forged = parts;
    forged[4][0] = forged[4][0] == 'a' ? 'b' : 'a';
    EXPECT_EQ(server.get(rebuild(forged)).status, 403);
    auto later = parts;
    later[3] = std::to_string(std::stoll(later[3]) + 100000);
    EXPECT_EQ(server.get(rebuild(later)).status, 403);
    auto otherFile = parts;
    otherFile[1] = std::to_string(std::stoll(otherFile[1]) + 1);
    EXPECT_EQ(server.get(rebuild(otherFile)).status, 403);
}

TEST_F(BadInputTest, ExpiredDownloadAddressIsRefused) {
    TestServer quick({"--download-link-lifetime", "0"});
    quick.addUser(kUser, kPassword);
    const std::string session = quick.loginOrFail(kUser, kPassword);
    const Reply up = quick.upload(session, "a.mp3", wavBytes(4096, "short-lived"));
    const std::int64_t id =
        up.json()->find("purchasedContent")->asArray()[0].find("id")->asInteger();
    Reply redirect;
    quick.download(session, id, kUser, kPassword, &redirect);
    ASSERT_EQ(redirect.status, 302);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string location = redirect.headers.at("location");
    EXPECT_EQ(quick.get(location.substr(location.find("/cdn/"))).status, 410);
}

} // namespace
