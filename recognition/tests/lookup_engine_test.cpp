// The engine asking sonarbox-cloud's lookup service instead of reading a
// catalogue: the same answers over TLS with a certificate made here, and a
// refused, failed or late lookup reported as the query's error, never as a
// miss.
#include "TestChild.h"
#include "query_results.h"
#include "test_catalog.h"

#include <gnsdk.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace recog::testaudio;

namespace {

const char *kClientId = "1234567";
const char *kClientTag = "0123456789ABCDEF0123456789ABCDEF";

// sonarbox-cloud serving a recognition catalogue on a free port.
class CloudProcess {
public:
    ~CloudProcess() { stop(); }

    bool start(const std::vector<std::string> &extra) {
        std::vector<std::string> args = {SONARBOX_CLOUD_BINARY, "serve", "--listen", "127.0.0.1:0"};
        args.insert(args.end(), extra.begin(), extra.end());
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return false;
        // Dies with the test, however the test ends.
        pid_ = testchild::spawn(args, out[1]);
        close(out[1]);
        if (pid_ < 0) {
            close(out[0]);
            return false;
        }
        // "listening on https://127.0.0.1:PORT"
        std::string text;
        char c = 0;
        while (read(out[0], &c, 1) == 1 && c != '\n')
            text += c;
        close(out[0]);
        const auto colon = text.rfind(':');
        port_ = colon == std::string::npos ? 0 : std::atoi(text.c_str() + colon + 1);
        return port_ > 0;
    }

    void stop() {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    int port() const { return port_; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

struct Outcome {
    gnsdk_error_t complete = 0;
    std::string errorText;
    Collected c;
};

// One whole engine session: start with `init`, a new user of `clientId`, one
// query over `files`, shut down.
void runEngine(const TempDir &dir, const std::string &init, const std::string &clientId,
               const std::vector<FileInput> &files, bool library, Outcome &out,
               const std::string &logPath = "") {
    gnsdk_manager_set_init_folder(dir.path().c_str());
    gnsdk_manager_handle_t manager = nullptr;
    ASSERT_EQ(gnsdk_manager_initialize(&manager, init.c_str(), init.size()), 0u)
        << gnsdk_manager_error_info()->error_description;
    ASSERT_EQ(gnsdk_dsp_initialize(manager), 0u);
    ASSERT_EQ(gnsdk_musicidfile_initialize(manager), 0u);
    if (!logPath.empty()) {
        ASSERT_EQ(gnsdk_manager_logging_enable(logPath.c_str(), GNSDK_LOG_PKG_ALL,
                                               GNSDK_LOG_LEVEL_ALL, GNSDK_LOG_OPTION_ALL, 0,
                                               GNSDK_TRUE),
                  0u);
    }
    gnsdk_user_handle_t user = nullptr;
    ASSERT_EQ(gnsdk_manager_user_create_new(clientId.c_str(), kClientTag, "0.98", &user), 0u);
    gnsdk_musicidfile_callbacks_t callbacks{};
    callbacks.callback_result_available = onResult;
    gnsdk_musicidfile_query_handle_t query = nullptr;
    ASSERT_EQ(gnsdk_musicidfile_query_create(user, &callbacks, &out.c, &query), 0u);
    for (const FileInput &f : files) {
        gnsdk_musicidfile_fileinfo_handle_t info = nullptr;
        ASSERT_EQ(gnsdk_musicidfile_query_fileinfo_create(query, f.ident.c_str(), nullptr, nullptr,
                                                          &info),
                  0u);
        for (const auto &[k, v] : f.tags)
            ASSERT_EQ(gnsdk_musicidfile_fileinfo_metadata_set(info, k.c_str(), v.c_str()), 0u);
        if (f.pcm.empty())
            continue;
        gnsdk_bool_t complete = GNSDK_FALSE;
        ASSERT_EQ(gnsdk_musicidfile_fileinfo_fingerprint_begin(info, f.rate, 16, 2), 0u);
        ASSERT_EQ(gnsdk_musicidfile_fileinfo_fingerprint_write(info, f.pcm.data(), f.pcm.size() * 2,
                                                               &complete),
                  0u);
        ASSERT_EQ(gnsdk_musicidfile_fileinfo_fingerprint_end(info), 0u);
    }
    ASSERT_EQ(library ? gnsdk_musicidfile_query_do_libraryid(query, 0x1)
                      : gnsdk_musicidfile_query_do_trackid(query, 0x10),
              0u);
    ASSERT_EQ(gnsdk_musicidfile_query_wait_for_complete(query, 0xFFFFFFFFu, &out.complete), 0u);
    if (out.complete != 0)
        out.errorText = gnsdk_manager_error_info()->error_description;
    ASSERT_EQ(gnsdk_musicidfile_query_release(query), 0u);
    gnsdk_str_t text = nullptr;
    EXPECT_EQ(gnsdk_manager_user_release(user, &text), 0u);
    if (text)
        gnsdk_manager_string_free(text);
    EXPECT_EQ(gnsdk_musicidfile_shutdown(), 0u);
    EXPECT_EQ(gnsdk_dsp_shutdown(), 0u);
    EXPECT_EQ(gnsdk_manager_shutdown(), 0u);
}

std::string flatten(const Collected &c) {
    std::string s;
    for (const auto &r : c.responses) {
        s += "[";
        for (const Match &m : r)
            s += m.ident + "|" + m.album + "|" + m.title + "|" + m.artist + "|" + m.trackId + "|" +
                 m.tui + "|" + m.number + "|" + m.label + "|" + m.artistId + ";";
        s += "]";
    }
    return s;
}

std::string readAll(const std::string &path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

class LookupEngine : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        buildCatalog(dir_->file("engine.db"), {{11, "Opening", "Ann", "Alpha", 1},
                                               {12, "Second", "Ann", "Alpha", 2},
                                               {13, "Other", "Bob", "Beta", 1},
                                               {15, "Same", "Cid", "Gamma", 1},
                                               {15, "Same", "Dee", "Delta", 4}});
        // A certificate for 127.0.0.1 made now: the engine must check it.
        const std::string cmd =
            "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
            "-addext subjectAltName=IP:127.0.0.1 -keyout " +
            dir_->file("key.pem") + " -out " + dir_->file("cert.pem") + " >/dev/null 2>&1";
        ASSERT_EQ(testchild::shell(cmd), 0);
        server_ = new CloudProcess;
        ASSERT_TRUE(server_->start(
            {"--data", dir_->file("cloud"), "--tls-cert", dir_->file("cert.pem"), "--tls-key",
             dir_->file("key.pem"), "--recognition-catalog", dir_->file("engine.db"),
             "--recognition-clients", std::string(kClientId) + ":" + kClientTag}));
    }
    static void TearDownTestSuite() {
        delete server_;
        delete dir_;
    }

    static std::string lookupInit(const std::string &extra = "ca_file=cert.pem\n") {
        return "lookup=https://127.0.0.1:" + std::to_string(server_->port()) +
               "/recognition/v1/lookup\n" + extra;
    }

    static std::vector<int16_t> excerpt(uint32_t seed, double from, double seconds) {
        const auto pcm = song(seed, 25);
        const size_t a = size_t(from * 44100) * 2;
        const size_t b = std::min(pcm.size(), a + size_t(seconds * 44100) * 2);
        return {pcm.begin() + long(a), pcm.begin() + long(b)};
    }

    static TempDir *dir_;
    static CloudProcess *server_;
};
TempDir *LookupEngine::dir_ = nullptr;
CloudProcess *LookupEngine::server_ = nullptr;

} // namespace

TEST_F(LookupEngine, AnswersAsTheLocalCatalogueDoesOverTls) {
    const std::vector<FileInput> files = {
        {"a1", excerpt(11, 2, 20), {}},
        {"b1-fast", song(13, 25), {}, uint32_t(std::lround(44100 * 1.02))},
        {"delta",
         excerpt(15, 1, 20),
         {{GNSDK_MUSICIDFILE_FILEINFO_VALUE_ALBUMTITLE, "Delta"},
          {GNSDK_MUSICIDFILE_FILEINFO_VALUE_ALBUMARTIST, "Dee"}}},
        {"tags-only",
         {},
         {{GNSDK_MUSICIDFILE_FILEINFO_VALUE_TRACKTITLE, "second"},
          {GNSDK_MUSICIDFILE_FILEINFO_VALUE_ALBUMARTIST, "ANN"}}},
        {"unknown", excerpt(99, 0, 20), {}}};
    for (const bool library : {true, false}) {
        Outcome local, remote;
        runEngine(*dir_, "catalog=engine.db\n", kClientId, files, library, local);
        runEngine(*dir_, lookupInit(), kClientId, files, library, remote, dir_->file("lookup.log"));
        ASSERT_EQ(local.complete, 0u);
        ASSERT_EQ(remote.complete, 0u) << remote.errorText;
        EXPECT_EQ(flatten(remote.c), flatten(local.c)) << "library " << library;
        EXPECT_NE(flatten(remote.c).find("b1-fast|Beta|Other"), std::string::npos);
        EXPECT_NE(flatten(remote.c).find("delta|Delta"), std::string::npos);
        EXPECT_NE(flatten(remote.c).find("tags-only|Alpha|Second"), std::string::npos);
        EXPECT_EQ(flatten(remote.c).find("unknown|"), std::string::npos);
    }
    const std::string log = readAll(dir_->file("lookup.log"));
    EXPECT_NE(log.find("b1-fast: matched at +2.00 % of the catalogue's speed"), std::string::npos)
        << log;
    EXPECT_NE(log.find("delta: track 5"), std::string::npos) << log;
    EXPECT_NE(log.find("tags-only: identified by its tags"), std::string::npos) << log;
}

TEST_F(LookupEngine, RefusedCredentialsAndAnUntrustedCertificateAreErrors) {
    const std::vector<FileInput> files = {{"a1", excerpt(11, 2, 20), {}}};
    Outcome stranger;
    runEngine(*dir_, lookupInit(), "7654321", files, true, stranger);
    EXPECT_EQ(stranger.complete, SDKMGRERR_IOError);
    EXPECT_NE(stranger.errorText.find("answered 401"), std::string::npos) << stranger.errorText;
    EXPECT_TRUE(stranger.c.responses.empty());

    // The system's authorities do not know the certificate made above.
    Outcome untrusted;
    runEngine(*dir_, lookupInit(""), kClientId, files, true, untrusted);
    EXPECT_EQ(untrusted.complete, SDKMGRERR_IOError);
    EXPECT_NE(untrusted.errorText.find("certificate"), std::string::npos) << untrusted.errorText;
    EXPECT_TRUE(untrusted.c.responses.empty());
}

TEST_F(LookupEngine, ALateLookupTimesOutAndADownServiceFailsWithoutInventingAMatch) {
    // Accepts connections (the kernel does) but never answers.
    const int silent = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(silent, 8), 0);
    ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr *>(&addr), &len), 0);
    const std::string silentUrl =
        "lookup=http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/lookup\n";

    const std::vector<FileInput> files = {{"a1", excerpt(11, 2, 20), {}}};
    Outcome late;
    const auto start = std::chrono::steady_clock::now();
    runEngine(*dir_, silentUrl + "timeout_ms=400\n", kClientId, files, true, late);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    close(silent);
    EXPECT_EQ(late.complete, SDKMGRERR_Timeout);
    EXPECT_NE(late.errorText.find("did not answer within 400 ms"), std::string::npos)
        << late.errorText;
    EXPECT_LT(seconds, 3.0);
    EXPECT_TRUE(late.c.responses.empty());

    // The port of a service that has stopped.
    CloudProcess gone;
    ASSERT_TRUE(
        gone.start({"--data", dir_->file("gone"), "--recognition-catalog", dir_->file("engine.db"),
                    "--recognition-clients", std::string(kClientId) + ":" + kClientTag}));
    const int port = gone.port();
    gone.stop();
    Outcome down;
    runEngine(*dir_, "lookup=http://127.0.0.1:" + std::to_string(port) + "/recognition/v1/lookup\n",
              kClientId, files, true, down);
    EXPECT_EQ(down.complete, SDKMGRERR_IOError);
    EXPECT_NE(down.errorText.find("failed"), std::string::npos) << down.errorText;
    EXPECT_TRUE(down.c.responses.empty());
}
