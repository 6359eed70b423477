// The key files beside the database (player.key seals player passwords,
// link.key signs download addresses), through the real program: a damaged or
// unreadable one stops it with a message and is never replaced.
#include "Crypto.h"
#include "TestChild.h"
#include "TestServer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

namespace fs = std::filesystem;
using namespace cloudtest;

namespace {

struct Finished {
    int exitCode = -1;
    std::string error; // standard error alone
};

// `args` with the server's data folder and back end after the command's name.
std::vector<std::string> withBackend(const TestServer &server, std::vector<std::string> args) {
    const auto backend = server.backendArgs();
    args.insert(args.begin() + 1, backend.begin(), backend.end());
    return args;
}

// Runs the program to its end, standard output dropped. A run that has not
// ended after 20 s (a server that started after all) is stopped, exit -1.
Finished runCloudStderr(const std::vector<std::string> &args) {
    std::vector<std::string> all = {SONARBOX_CLOUD_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    // Dies with the test, however the test ends.
    const pid_t pid = testchild::spawn(all, null, fds[1]);
    close(fds[1]);
    if (null >= 0)
        close(null);
    if (pid < 0) {
        close(fds[0]);
        throw std::runtime_error("fork");
    }
    Finished out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool stopped = false;
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 200) > 0) {
            char buf[4096];
            const ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0)
                break;
            out.error.append(buf, static_cast<std::size_t>(n));
        } else if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            stopped = true;
            break;
        }
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    out.exitCode = !stopped && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

void writeBytes(const fs::path &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

bool has(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

Reply ping(TestServer &server, const std::string &email, const std::string &password) {
    const std::string salt = cloud::crypto::randomHex(6);
    return server.get("/rest/ping.view?f=json&v=1.16.1&c=test&u=" + percentEncode(email) +
                      "&t=" + md5Hex(password + salt) + "&s=" + salt);
}

bool pingOk(TestServer &server, const std::string &email, const std::string &password) {
    const Reply r = ping(server, email, password);
    return r.status == 200 && has(r.body, "\"status\":\"ok\"");
}

class KeyFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.addUser("kay@example.com", "desktop-secret");
        phone = addPlayerPassword(server, "kay@example.com", "phone");
        server.stop();
    }

    Finished serve() {
        return runCloudStderr(withBackend(server, {"serve", "--listen", "127.0.0.1:0"}));
    }

    fs::path playerKey() const { return server.dataDir() / "player.key"; }
    fs::path linkKey() const { return server.dataDir() / "link.key"; }

    TestServer server;
    PlayerCredentials phone;
};

TEST_F(KeyFileTest, ATruncatedPlayerKeyStopsTheServerAndThePasswordCommandsAndIsKept) {
    const std::string good = readFile(playerKey());
    ASSERT_EQ(good.size(), 32u);
    const std::string damaged = good.substr(0, 20);
    writeBytes(playerKey(), damaged);

    const Finished served = serve();
    EXPECT_EQ(served.exitCode, 1) << served.error;
    EXPECT_TRUE(has(served.error, playerKey().string())) << served.error;
    EXPECT_TRUE(has(served.error, "is damaged: it holds 20 bytes where a key has 32"))
        << served.error;
    EXPECT_TRUE(has(served.error, "Restore player.key from a backup")) << served.error;
    EXPECT_TRUE(has(served.error, "every player password made before it stops working"))
        << served.error;
    EXPECT_TRUE(has(served.error, "add-player-password")) << served.error;

    const Finished added =
        runCloudStderr(withBackend(server, {"add-player-password", "kay@example.com", "tablet"}));
    EXPECT_NE(added.exitCode, 0);
    EXPECT_TRUE(has(added.error, playerKey().string())) << added.error;
    EXPECT_EQ(readFile(playerKey()), damaged);

    // The key put back from a backup opens the passwords made with it.
    writeBytes(playerKey(), good);
    server.start();
    EXPECT_TRUE(pingOk(server, "kay@example.com", phone.password));
}

TEST_F(KeyFileTest, ADamagedLinkKeyStopsTheServerAndIsKept) {
    const std::string damaged = readFile(linkKey()) + "\n";
    writeBytes(linkKey(), damaged);
    const Finished served = serve();
    EXPECT_EQ(served.exitCode, 1) << served.error;
    EXPECT_TRUE(has(served.error, linkKey().string())) << served.error;
    EXPECT_TRUE(has(served.error, "it holds 33 bytes")) << served.error;
    EXPECT_TRUE(has(served.error, "download addresses handed out before it stop working"))
        << served.error;
    EXPECT_EQ(readFile(linkKey()), damaged);

    // An empty file is damaged too, not missing.
    writeBytes(linkKey(), "");
    EXPECT_EQ(serve().exitCode, 1);
    EXPECT_EQ(fs::file_size(linkKey()), 0u);
}

// A key kept elsewhere (a secrets folder that is not mounted yet) is not one
// to make anew in its place.
TEST_F(KeyFileTest, AKeyThatCannotBeReadIsAnErrorNotAReasonToMakeOne) {
    const fs::path elsewhere = server.dataDir() / "secrets" / "player.key";
    fs::remove(playerKey());
    fs::create_symlink(elsewhere, playerKey());
    const Finished served = serve();
    EXPECT_EQ(served.exitCode, 1) << served.error;
    EXPECT_TRUE(has(served.error, playerKey().string())) << served.error;
    EXPECT_TRUE(fs::is_symlink(playerKey()));
    EXPECT_FALSE(fs::exists(elsewhere));
}

TEST(KeyFileStartTest, AFreshFolderMakesBothKeysAndARestartKeepsThem) {
    TestServer server;
    const auto ownerOnly = fs::perms::owner_read | fs::perms::owner_write;
    std::map<std::string, std::string> keys;
    for (const char *name : {"player.key", "link.key"}) {
        const fs::path key = server.dataDir() / name;
        ASSERT_TRUE(fs::is_regular_file(key)) << name;
        EXPECT_EQ(fs::status(key).permissions() & fs::perms::all, ownerOnly) << name;
        keys[name] = readFile(key);
        EXPECT_EQ(keys[name].size(), 32u) << name;
    }
    EXPECT_NE(keys["player.key"], keys["link.key"]);
    server.addUser("kay@example.com", "desktop-secret");
    const PlayerCredentials phone = addPlayerPassword(server, "kay@example.com", "phone");
    ASSERT_TRUE(pingOk(server, "kay@example.com", phone.password));

    server.stop();
    server.start();
    for (const auto &[name, bytes] : keys)
        EXPECT_EQ(readFile(server.dataDir() / name), bytes) << name;
    EXPECT_TRUE(pingOk(server, "kay@example.com", phone.password));
    // Nothing half-made is left beside them.
    for (const auto &entry : fs::directory_iterator(server.dataDir()))
        EXPECT_FALSE(has(entry.path().filename().string(), ".key.")) << entry.path();
}

} // namespace
