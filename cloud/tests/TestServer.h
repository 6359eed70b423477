// Starts the real sonarbox-cloud program on 127.0.0.1 with a free port and a
// data folder of its own, and talks to it the way the desktop client does.
#pragma once

#include "Json.h"
#include "objects/ObjectStore.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace cloudtest {

struct CommandResult {
    int exitCode = -1;
    std::string output; // standard output and error together
};

CommandResult runCloud(const std::vector<std::string> &args);

// True when the tests run on the scaled back end (PostgreSQL and an object
// store, label "scaled"): SONARBOX_TEST_BACKEND=scaled.
bool scaledBackend();

class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path path_;
};

struct Reply {
    int status = 0; // HTTP status; 0 when the exchange failed
    std::string body;
    std::map<std::string, std::string> headers; // names in lower case
    std::optional<cloud::json::Value> json() const { return cloud::json::parse(body); }
    std::string member(const char *key) const; // a text member of the JSON reply
};

class TestServer {
public:
    // Household: SQLite and the data folder whatever the back end under test.
    enum class Backend { UnderTest, Household };
    enum class Launch { Now, Later };
    explicit TestServer(std::vector<std::string> extraArgs = {},
                        Backend backend = Backend::UnderTest, Launch launch = Launch::Now);
    // A second server on `other`'s data folder and database, as a second
    // process behind a balancer would be.
    TestServer(const TestServer &other, std::vector<std::string> extraArgs);
    ~TestServer();

    void start();
    void stop();     // SIGTERM and wait
    void killHard(); // SIGKILL and wait
    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    const std::filesystem::path &dataDir() const {
        return sharedData_.empty() ? data_.path() : sharedData_;
    }
    std::string dataArg() const { return dataDir().string(); }
    // The server's database: the SQLite file's path, or its own PostgreSQL
    // database on the scaled back end.
    std::string databaseLocation() const;
    // Where the server keeps what it knows and stores: "--data DIR", and the
    // database and object store on the scaled back end.
    std::vector<std::string> backendArgs() const;
    // A sonarbox-cloud command (`args[0]`) on this server's data.
    CommandResult run(std::vector<std::string> args) const;
    // The server's stored files as the server sees them: its data folder's
    // media/, or its bucket on the scaled back end.
    std::unique_ptr<cloud::objects::ObjectStore> objects() const;
    // The keys of every finished stored object.
    std::vector<std::string> storedKeys() const;
    int storedCount() const { return static_cast<int>(storedKeys().size()); }
    // Uploads begun and neither finished nor removed: files in incoming/, and
    // unfinished multipart uploads in the bucket.
    int unfinishedCount() const;

    void addUser(const std::string &email, const std::string &password,
                 const std::vector<std::string> &extra = {});
    void addFacebookUser(const std::string &email, const std::string &password);

    // HTTP
    Reply post(const std::string &path, const std::string &body, const std::string &cookie = {},
               const std::map<std::string, std::string> &headers = {});
    Reply get(const std::string &path, const std::map<std::string, std::string> &headers = {});
    Reply options(const std::string &path, const std::map<std::string, std::string> &headers = {});
    // A POST of `body` as `contentType`.
    Reply postAs(const std::string &path, const std::string &body, const std::string &contentType,
                 const std::map<std::string, std::string> &headers = {});
    Reply postJson(const std::string &path, const cloud::json::Value &body,
                   const std::string &cookie = {});

    // Protocol steps; `headers` go with every request of the step (an
    // X-Forwarded-For, as a reverse proxy would send it).
    std::string token(const std::map<std::string, std::string> &headers = {});
    static std::string signature(const std::string &user, const std::string &password,
                                 const std::string &device, const std::string &token);
    // The desktop sign-in request for a token fetched before.
    static cloud::json::Value loginBody(const std::string &user, const std::string &password,
                                        const std::string &device, const std::string &token);
    // Returns the reply; the Set-Cookie value lands in `cookie` when there is one.
    Reply login(const std::string &user, const std::string &password, const std::string &device,
                std::string *cookie = nullptr,
                const std::map<std::string, std::string> &headers = {});
    std::string loginOrFail(const std::string &user, const std::string &password,
                            const std::string &device = "device-1");
    Reply listing(const std::string &cookie, std::int64_t since);
    Reply match(const std::string &cookie, const std::string &checksum,
                const std::string &fingerprintId = "-1");
    Reply upload(const std::string &cookie, const std::string &fileName,
                 const std::string &content);
    // Follows the download gateway's redirect with the e-mail credentials.
    Reply download(const std::string &cookie, std::int64_t mediaId, const std::string &user,
                   const std::string &password, Reply *redirect = nullptr);

    static std::string sessionId(const std::string &cookie);

private:
    std::filesystem::path credentialsFile() const;

    std::vector<std::string> extraArgs_;
    TempDir data_;
    std::filesystem::path sharedData_; // another server's, when sharing it
    std::string database_;             // scaled back end: its PostgreSQL address
    std::string objects_;              // scaled back end: its bucket's --objects address
    pid_t pid_ = -1;
    int port_ = 0;
};

// A short tagged audio file made with ffmpeg in `dir`; returns its path.
std::filesystem::path makeAudio(const std::filesystem::path &dir, const std::string &name,
                                double frequency, const std::string &title,
                                const std::string &artist, const std::string &album);
// A tagged MP3 (`tags` are ffmpeg options); with a cover, a 300×200 picture
// is embedded.
std::filesystem::path makeSong(const std::filesystem::path &dir, const std::string &name,
                               double frequency, const std::string &tags, bool cover,
                               double seconds = 2);
// A player password made with the add-player-password command, and its API key.
struct PlayerCredentials {
    std::string password;
    std::string apiKey;
};
PlayerCredentials addPlayerPassword(TestServer &server, const std::string &email,
                                    const std::string &name);
std::string readFile(const std::filesystem::path &path);
// A PCM WAV file of `size` bytes (at least 64) whose samples come from
// `seed`: real audio, made without ffmpeg, that differs for every seed.
std::string wavBytes(std::size_t size, const std::string &seed);
std::string md5Hex(const std::string &bytes);
// Query-field encoding: letters, digits and ".-_~" as they are, the rest %XX.
std::string percentEncode(const std::string &s);

// The library item ID of a match or upload reply's first purchased item; -1
// when the reply has none.
std::int64_t purchasedId(const Reply &r);

// A raw TCP connection to 127.0.0.1:port whose reads give up after
// `receiveTimeoutMs`; -1 when nobody listens.
int connectLocal(int port, int receiveTimeoutMs = 3000);

} // namespace cloudtest
