// A deployment past one machine, as an operator builds it: a household
// server moved with copy onto PostgreSQL and a bucket, two serve processes
// sharing them behind HAProxy, and sonarbox-headless syncing through the
// balancer while one of the processes is killed.
#include "BalancerTestServer.h"
#include "ChildProcess.h"
#include "Database.h"
#include "Headless.h"
#include "SyncWorld.h"
#include "TestServer.h"
#include "TestSongs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <httplib.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using cloudtest::BalancerTestServer;
using cloudtest::Reply;
using cloudtest::TestServer;

namespace {

const std::string kEmail = SyncWorld::Email.toStdString();
const std::string kPassword = SyncWorld::Password.toStdString();

class DeploymentTest : public ::testing::Test {
protected:
    // These tests are about the shared back end alone.
    DeploymentTest() { ::setenv("SONARBOX_TEST_BACKEND", "scaled", 1); }
};

// The world's client configuration, pointed at another address.
QString configFor(const SyncWorld &world, const std::string &url, int port) {
    QFile in(world.configFile());
    if (!in.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(in.readAll());
    text.replace(world.cloud.baseUrl(), QString::fromStdString(url));
    text.replace(QStringLiteral("reachabilityPort=%1").arg(world.cloud.port()),
                 QStringLiteral("reachabilityPort=%1").arg(port));
    const QString path = world.configFile() + QStringLiteral(".moved");
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    out.write(text.toUtf8());
    return path;
}

// A server on a fresh database and bucket holding a copy of the world's
// household server, which must be stopped.
std::unique_ptr<TestServer> movedServer(const SyncWorld &world,
                                        const std::vector<std::string> &args = {}) {
    auto server = std::make_unique<TestServer>(args, TestServer::Backend::UnderTest,
                                               TestServer::Launch::Later);
    const auto copied = server->run({"copy", "--from-data", world.cloud.dataDir().toStdString()});
    if (copied.exitCode != 0)
        throw std::runtime_error("copy failed: " + copied.output);
    server->start();
    return server;
}

// A player password made with the server's own command: its API key.
std::string playerKey(const TestServer &server) {
    const auto r = server.run({"add-player-password", kEmail, "phone"});
    const auto at = r.output.find("api key: ");
    if (at == std::string::npos)
        throw std::runtime_error("no player password: " + r.output);
    const auto end = r.output.find('\n', at);
    return r.output.substr(at + 9, end - at - 9);
}

// What a player (or the web player) shows: the albums and the songs.
const std::string kAlbums = "/rest/getAlbumList2?f=json&type=alphabeticalByName";
const std::string kSongs = "/rest/search3?f=json&query=&songCount=500";

int requestsLike(const TestServer &server, const std::string &text) {
    std::ifstream log(server.dataDir() / "server.log");
    int n = 0;
    for (std::string line; std::getline(log, line);)
        n += line.find(text) != std::string::npos ? 1 : 0;
    return n;
}

// One sync (--once); a song still being written when it looked is left to
// the next one, so it runs again for those. The counts of all runs.
std::optional<Summary> syncOnce(Headless &desktop, const SyncWorld &world, QByteArray *output) {
    std::optional<Summary> total;
    for (int run = 0; run < 3; ++run) {
        QByteArray said;
        const int code = desktop.runOver(world.musicFolder(), world.downloadFolder(),
                                         {QStringLiteral("--once")}, &said);
        output->append(said);
        const auto summary = lastSummary(said);
        if (code != 0 || !summary)
            return std::nullopt;
        if (!total) {
            total = summary;
        } else {
            total->uploaded += summary->uploaded;
            total->downloaded += summary->downloaded;
            total->matched += summary->matched;
            total->failed = summary->failed;
        }
        if (!said.contains("still being written"))
            break;
    }
    return total;
}

// A GET of the world's household server, which is no TestServer.
std::string getFrom(int port, const std::string &path) {
    httplib::Client client("127.0.0.1", port);
    const auto r = client.Get(path);
    return r ? r->body : std::string();
}

TEST_F(DeploymentTest, AMovedHouseholdServerHasNothingToSyncAndShowsTheSameLibrary) {
    SyncWorld world;
    QString error;
    ASSERT_TRUE(world.build(&error)) << error.toStdString();
    Headless desktop(world.configFile());
    ASSERT_EQ(desktop.signIn(SyncWorld::Email, SyncWorld::Password), 0);
    QByteArray output;
    const auto first = syncOnce(desktop, world, &output);
    ASSERT_TRUE(first) << output.toStdString();
    ASSERT_GT(first->uploaded, 0);
    ASSERT_GT(first->downloaded, 0);
    const auto made = cloudtest::runCloud(
        {"add-player-password", "--data", world.cloud.dataDir().toStdString(), kEmail, "phone"});
    const auto at = made.output.find("api key: ");
    ASSERT_NE(at, std::string::npos) << made.output;
    const std::string key = made.output.substr(at + 9, made.output.find('\n', at) - at - 9);
    const auto shownBefore = [&](const std::string &path) {
        return getFrom(world.cloud.port(), path + "&apiKey=" + key);
    };
    const std::string albums = shownBefore(kAlbums), songs = shownBefore(kSongs);
    ASSERT_NE(songs.find("Far Away"), std::string::npos) << songs;
    world.cloud.stop();

    const auto moved = movedServer(world);
    // The same desktop, still signed in (its session came along), finds
    // nothing to send or fetch.
    desktop.useConfig(
        configFor(world, "http://127.0.0.1:" + std::to_string(moved->port()), moved->port()));
    output.clear();
    const auto again = syncOnce(desktop, world, &output);
    ASSERT_TRUE(again) << output.toStdString();
    EXPECT_EQ(again->found, first->found);
    EXPECT_EQ(again->uploaded, 0);
    EXPECT_EQ(again->downloaded, 0);
    EXPECT_EQ(again->failed, 0);
    EXPECT_EQ(requestsLike(*moved, "DesktopUploadMedia"), 0);

    // Players and the web player see what they saw, under the same IDs.
    EXPECT_EQ(moved->get(kAlbums + "&apiKey=" + key).body, albums);
    EXPECT_EQ(moved->get(kSongs + "&apiKey=" + key).body, songs);
}

// Whether the process has an upload open right now: the local copy of one
// it is receiving, in its data folder's incoming/.
bool receivingUpload(pid_t pid) {
    std::error_code ec;
    for (const auto &fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        const std::string target = fs::read_symlink(fd.path(), ec).string();
        if (target.find("/incoming/") != std::string::npos)
            return true;
    }
    return false;
}

// A raw HTTP exchange with 127.0.0.1:port from the local address `source`
// (127.0.0.2 …), as a client elsewhere would come to the balancer.
std::string exchangeFrom(const char *source, int port, const std::string &request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    timeval wait{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) == 0 &&
        ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0)
            answer.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return answer;
}

// The web player's sign-in from `source`: the answer's status code.
int webSignInFrom(const char *source, int port, const std::string &email,
                  const std::string &password) {
    const std::string body = "{\"email\": \"" + email + "\", \"password\": \"" + password + "\"}";
    const std::string answer = exchangeFrom(
        source, port,
        "POST /web/api/signin HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
        "Connection: close\r\nContent-Length: " +
            std::to_string(body.size()) + "\r\n\r\n" + body);
    return answer.size() > 12 ? std::atoi(answer.c_str() + 9) : 0;
}

std::int64_t count(const TestServer &server, const std::string &sql, const std::string &arg) {
    cloud::Database db(server.databaseLocation());
    cloud::Statement q(db, sql);
    q.bind(1, arg);
    return q.step() ? q.integer(0) : -1;
}

TEST_F(DeploymentTest, TwoServersBehindABalancerShareEverythingAndSurviveAKilledOne) {
    SyncWorld world;
    QString error;
    ASSERT_TRUE(world.build(&error)) << error.toStdString();
    // A song long enough that its upload is caught under way.
    const QString longTake = world.musicFolder() + QStringLiteral("/Own/long take.wav");
    ASSERT_TRUE(TestSongs::make(
        longTake, 777, 300,
        {QStringLiteral("Long Take"), QStringLiteral("Me"), QStringLiteral("Home Recordings"), 9}));
    QStringList uploads = world.unknownSongs;
    uploads << longTake;
    world.md5.insert(longTake, fileMd5(longTake));
    world.cloud.stop();

    const std::vector<std::string> behindBalancer = {"--trusted-proxy", "127.0.0.1"};
    auto first = movedServer(world, behindBalancer);
    TestServer second(*first, behindBalancer);
    BalancerTestServer balancer({first->port(), second.port()});
    ASSERT_TRUE(balancer.waitForServersUp(2));

    // A session made on one process works on the other.
    const std::string cookie = first->loginOrFail(kEmail, kPassword, "other-desk");
    EXPECT_EQ(second.listing(cookie, 0).status, 200);

    // Guessing through both processes is slowed as through one, and counted
    // under the forwarded address, not the balancer's.
    int refused = 0;
    for (int i = 0; i < 24; ++i)
        refused += webSignInFrom("127.0.0.2", balancer.port(),
                                 "nobody" + std::to_string(i) + "@example.org", "guess") == 401;
    EXPECT_GE(refused, 20);
    EXPECT_EQ(webSignInFrom("127.0.0.2", balancer.port(), kEmail, kPassword), 429);
    EXPECT_EQ(webSignInFrom("127.0.0.3", balancer.port(), kEmail, kPassword), 200);

    // A sync through the balancer; one process is killed while it receives an upload.
    Headless desktop(configFor(world, balancer.url(), balancer.port()));
    ASSERT_EQ(desktop.signIn(SyncWorld::Email, SyncWorld::Password), 0);
    ChildProcess sync;
    ASSERT_TRUE(desktop.start(sync, {QStringLiteral("--library"), world.musicFolder(),
                                     QStringLiteral("--download-dir"), world.downloadFolder(),
                                     QStringLiteral("--once")}));
    TestServer *killed = nullptr;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (!killed && sync.isRunning() && std::chrono::steady_clock::now() < giveUp) {
        for (TestServer *s : {first.get(), &second})
            if (!killed && receivingUpload(s->pid())) {
                s->killHard();
                killed = s;
            }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(killed) << "no upload was seen under way";
    ASSERT_TRUE(sync.waitForFinished(600000));
    const auto cutOff = lastSummary(sync.output());
    std::printf("[figure] the sync that lost its server mid-upload: %d uploaded, %d failed\n",
                cutOff ? cutOff->uploaded : -1, cutOff ? cutOff->failed : -1);
    ASSERT_TRUE(balancer.waitForServersUp(1));
    // What the cut-off upload did not finish, the next sync sends, through
    // the process that is left.
    QByteArray output;
    std::optional<Summary> summary;
    for (int run = 0; run < 3 && (!summary || summary->failed > 0 || summary->uploaded > 0);
         ++run) {
        output.clear();
        summary = syncOnce(desktop, world, &output);
    }
    ASSERT_TRUE(summary) << output.toStdString();
    EXPECT_EQ(summary->failed, 0) << output.toStdString();
    EXPECT_EQ(summary->uploaded, 0) << "a sync after the last one sends nothing";

    // Each song once in the database and once in the bucket, whole.
    TestServer &alive = killed == first.get() ? second : *first;
    for (const QString &song : uploads) {
        const std::string md5 = world.md5.value(song).toStdString();
        EXPECT_EQ(count(alive, "SELECT COUNT(*) FROM files WHERE md5 = ?", md5), 1) << md5;
        EXPECT_EQ(count(alive,
                        "SELECT COUNT(*) FROM user_media m JOIN files f ON f.id = m.file_id "
                        "WHERE f.md5 = ?",
                        md5),
                  1)
            << md5;
    }
    for (const QString &name : world.cloudOnlyDownloadNames)
        EXPECT_TRUE(QFileInfo::exists(QDir(world.downloadFolder()).filePath(name)))
            << name.toStdString();
    // Nothing unrecorded is left in the bucket but what the killed process was
    // still sending.
    const auto gc = alive.run({"gc", "--grace-minutes", "0"});
    EXPECT_NE(gc.output.find(", 0 unrecorded files"), std::string::npos) << gc.output;
    EXPECT_EQ(alive.unfinishedCount(), 0);

    // Both up again: a player streams a range of a song through the balancer.
    killed->start();
    BalancerTestServer again({first->port(), second.port()});
    ASSERT_TRUE(again.waitForServersUp(2));
    const std::string key = playerKey(alive);
    const auto found = alive.get("/rest/search3?f=json&query=Long%20Take&apiKey=" + key).json();
    ASSERT_TRUE(found);
    const auto *songList = found->find("subsonic-response")->find("searchResult3")->find("song");
    ASSERT_TRUE(songList && !songList->asArray().empty());
    const std::string id = songList->asArray().front().find("id")->asString();
    const std::string original = cloudtest::readFile(longTake.toStdString());
    for (int i = 0; i < 2; ++i) { // one request on each process
        httplib::Client player("127.0.0.1", again.port());
        const auto r = player.Get("/rest/stream?id=" + id + "&apiKey=" + key,
                                  {{"Range", "bytes=1000000-1000999"}});
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 206);
        EXPECT_EQ(r->body, original.substr(1000000, 1000));
    }
}

} // namespace
