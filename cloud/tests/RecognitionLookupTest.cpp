// POST /recognition/v1/lookup on the server's own HTTP layer: credentials,
// bodies the parser must refuse cheaply, and per-client limits.
#include "HttpServer.h"
#include "Migrations.h"
#include "RecognitionLookupRoutes.h"
#include "SharedState.h"

#include "catalog.h"
#include "catalog_writer.h"
#include "lookup_protocol.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <random>

namespace {

using namespace cloud;

const std::string kId = "1234567";
const std::string kTag = "0123456789ABCDEF0123456789ABCDEF";
const std::string kOtherId = "7654321";
const std::string kOtherTag = "FEDCBA9876543210FEDCBA9876543210";

std::vector<uint32_t> randomItems(uint32_t seed, size_t n) {
    std::mt19937 gen(seed);
    std::vector<uint32_t> v(n);
    for (auto &x : v)
        x = gen();
    return v;
}

class LookupRoute : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("lookup-route-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(dir_);
        std::string error;
        auto cat = recog::Catalog::create((dir_ / "r.db").string(), error);
        ASSERT_TRUE(cat) << error;
        recog::CatalogWriter writer(*cat);
        recog::NewTrack t;
        t.title = "Northern Lights";
        t.artist = "The Testers";
        t.album = "First Light";
        t.label = "Sample Records";
        t.trackNumber = 3;
        t.duration = 40;
        t.source = "/srv/music/secret-path.flac";
        t.fingerprint = randomItems(1, 320);
        ASSERT_TRUE(writer.addTrack(t, error)) << error;
    }
    void TearDown() override {
        server_.reset();
        std::filesystem::remove_all(dir_);
    }

    void start(double rate = 50) { port_ = serve(server_, rate); }

    // A server of the route; its port. With `shared`, its limits are kept there.
    int serve(std::unique_ptr<http::HttpServer> &server, double rate,
              const std::shared_ptr<SharedDatabase> &shared = nullptr) {
        Config c;
        c.recognitionCatalog = (dir_ / "r.db").string();
        c.recognitionClients = kId + ":" + kTag + "," + kOtherId + ":" + kOtherTag;
        c.recognitionRate = rate;
        http::ServerLimits limits;
        limits.threads = 2;
        server = std::make_unique<http::HttpServer>(limits);
        addRecognitionLookupRoutes(*server, c, shared);
        std::string error;
        const int port = server->start("127.0.0.1", 0, error);
        EXPECT_GT(port, 0) << error;
        return port;
    }

    httplib::Result post(const std::string &body, const std::string &id = kId,
                         const std::string &tag = kTag,
                         const std::string &type = "application/json") {
        httplib::Client cli("127.0.0.1", port_);
        httplib::Headers h;
        if (!id.empty())
            h.emplace("X-Client-Id", id);
        if (!tag.empty())
            h.emplace("X-Client-Tag", tag);
        return cli.Post("/recognition/v1/lookup", h, body, type.c_str());
    }

    static std::string knownQuery() {
        recog::LookupRequest r;
        r.items = randomItems(1, 320);
        r.seconds = 40;
        return recog::encodeRequest(r);
    }

    std::filesystem::path dir_;
    std::unique_ptr<http::HttpServer> server_;
    int port_ = 0;
};

} // namespace

TEST_F(LookupRoute, FindsACatalogueTrackWithItsValuesAndNoServerPath) {
    start();
    const auto res = post(knownQuery());
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    EXPECT_NE(res->get_header_value("Server-Timing").find("lookup;dur="), std::string::npos);
    recog::LookupAnswer a;
    std::string error;
    ASSERT_TRUE(recog::decodeAnswer(res->body, a, error)) << error;
    ASSERT_EQ(a.found.size(), 1u);
    ASSERT_EQ(a.tracks.size(), 1u);
    EXPECT_EQ(a.tracks[0].title, "Northern Lights");
    EXPECT_EQ(a.tracks[0].trackNumber, 3);
    ASSERT_EQ(a.albums.size(), 1u);
    EXPECT_EQ(a.albums[0].label, "Sample Records");
    EXPECT_EQ(res->body.find("secret-path"), std::string::npos);

    recog::LookupRequest unknown;
    unknown.items = randomItems(2, 320);
    unknown.seconds = 40;
    const auto miss = post(recog::encodeRequest(unknown));
    ASSERT_TRUE(miss);
    ASSERT_EQ(miss->status, 200);
    ASSERT_TRUE(recog::decodeAnswer(miss->body, a, error)) << error;
    EXPECT_TRUE(a.found.empty());
}

TEST_F(LookupRoute, OnlyKnownCredentialsAreAnswered) {
    start();
    for (const auto &[id, tag] : std::vector<std::pair<std::string, std::string>>{
             {"", ""},
             {kId, ""},
             {"", kTag},
             {kId, kOtherTag}, // each half known, not together
             {kId, "0123456789abcdef0123456789abcdef"},
             {kId, kTag + "0"},
             {"1234568", kTag}}) {
        const auto res = post(knownQuery(), id, tag);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 401) << id << ":" << tag;
        EXPECT_EQ(res->body.find("Northern"), std::string::npos);
    }
    const auto other = post(knownQuery(), kOtherId, kOtherTag);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 200);
}

TEST_F(LookupRoute, BadBodiesAreRefusedBeforeAnyMatching) {
    start();
    const std::string full = knownQuery();
    const std::pair<std::string, int> cases[] = {
        {full.substr(0, full.size() / 2), 400},     // cut short
        {R"({"items":"AQIDB","seconds":20})", 400}, // base64 cut short
        {R"({"items":")" + recog::itemsToBase64(randomItems(3, 4097)) + R"("})", 400}, // 4097 items
        {std::string(600 * 1024, ' ') + "{}", 413},           // past the route's limit
        {std::string(200, '[') + std::string(200, ']'), 400}, // nesting
        {std::string("{\"items\":\"\0\"}", 13), 400}};
    for (const auto &[body, status] : cases) {
        const auto res = post(body);
        ASSERT_TRUE(res) << body.size();
        EXPECT_EQ(res->status, status) << body.substr(0, 60);
    }
    const auto text = post(full, kId, kTag, "text/plain");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->status, 415);
    // The refusals cost nothing lasting: a good body still works.
    const auto good = post(full);
    ASSERT_TRUE(good);
    EXPECT_EQ(good->status, 200);
}

TEST_F(LookupRoute, AFloodingClientIsSlowedWhileOthersAreServed) {
    start(1); // a burst of 2 per client refilled at 1 a second; 8 per address at 4
    const auto began = std::chrono::steady_clock::now();
    int ok = 0, limited = 0;
    for (int i = 0; i < 5; ++i) {
        const auto res = post(R"({"seconds":1})");
        ASSERT_TRUE(res);
        ok += res->status == 200;
        if (res->status == 429) {
            ++limited;
            EXPECT_EQ(res->get_header_value("Retry-After"), "1");
        }
    }
    // A slow machine may have earned the client a token more per second.
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    EXPECT_GE(ok, 2);
    EXPECT_LE(ok, 2 + int(seconds));
    EXPECT_EQ(ok + limited, 5);
    const auto other = post(R"({"seconds":1})", kOtherId, kOtherTag);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 200);
    // Wrong credentials are counted too, per address: past that burst the
    // address is refused before its credentials are looked at, and so is the
    // next request, whatever its credentials.
    int unauthorised = 0, refused = 0;
    for (int i = 0; i < 100 && refused == 0; ++i) {
        const auto res = post(R"({"seconds":1})", kId, kOtherTag);
        ASSERT_TRUE(res);
        unauthorised += res->status == 401;
        refused += res->status == 429;
    }
    EXPECT_EQ(refused, 1);
    // 8 for the address, 6 of them spent above, and what a slow machine earned since.
    const double all =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    EXPECT_GE(unauthorised, 2);
    EXPECT_LE(unauthorised, 2 + int(4 * all));
    const auto blocked = post(R"({"seconds":1})", kOtherId, kOtherTag);
    ASSERT_TRUE(blocked);
    EXPECT_EQ(blocked->status, 429);
}

TEST_F(LookupRoute, ServersSharingADatabaseSlowAClientAsOne) {
    const std::string file = (dir_ / "shared.sqlite").string();
    {
        Database db(file);
        migrate(db);
    }
    std::unique_ptr<http::HttpServer> servers[2];
    int ports[2];
    for (int i = 0; i < 2; ++i)
        ports[i] = serve(servers[i], 1, std::make_shared<SharedDatabase>(file));
    const auto began = std::chrono::steady_clock::now();
    int ok = 0;
    for (int i = 0; i < 6; ++i) {
        httplib::Client cli("127.0.0.1", ports[i % 2]);
        const auto res =
            cli.Post("/recognition/v1/lookup", {{"X-Client-Id", kId}, {"X-Client-Tag", kTag}},
                     R"({"seconds":1})", "application/json");
        ASSERT_TRUE(res);
        ok += res->status == 200;
    }
    // A burst of 2 for the client, whichever server it asks, and what a slow machine earned since.
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    EXPECT_GE(ok, 2);
    EXPECT_LE(ok, 2 + int(seconds));
}

TEST(LookupRouteSetUp, RefusesMalformedCredentialsAndAMissingCatalogue) {
    EXPECT_THROW(parseRecognitionClients("1234567"), std::runtime_error);
    EXPECT_THROW(parseRecognitionClients("123456:" + kTag), std::runtime_error);
    EXPECT_THROW(parseRecognitionClients(kId + ":" + kTag + ","), std::runtime_error);
    EXPECT_EQ(parseRecognitionClients(kId + ":" + kTag + "," + kOtherId + ":" + kOtherTag).size(),
              2u);
    Config c;
    c.recognitionCatalog = "/nonexistent/r.db";
    c.recognitionClients = kId + ":" + kTag;
    http::HttpServer server{http::ServerLimits{}};
    EXPECT_THROW(addRecognitionLookupRoutes(server, c), std::runtime_error);
    c.recognitionClients.clear();
    EXPECT_THROW(addRecognitionLookupRoutes(server, c), std::runtime_error);
}
