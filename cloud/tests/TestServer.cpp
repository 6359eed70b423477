#include "TestServer.h"

#include "Crypto.h"
#include "Http.h"
#include "PostgresTestServer.h"
#include "S3TestServer.h"
#include "TestChild.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;
using cloud::json::Value;

namespace cloudtest {

namespace {

Reply toReply(const httplib::Result &result) {
    Reply r;
    if (!result)
        return r;
    r.status = result->status;
    r.body = result->body;
    for (const auto &[name, value] : result->headers) {
        std::string lower = name;
        for (char &c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        r.headers[lower] = value;
    }
    return r;
}

httplib::Headers toHeaders(const std::map<std::string, std::string> &headers) {
    httplib::Headers h;
    for (const auto &[k, v] : headers)
        h.emplace(k, v);
    return h;
}

} // namespace

std::string percentEncode(const std::string &s) {
    return cloud::http::percentEncode(s);
}

std::string Reply::member(const char *key) const {
    const auto v = json();
    const Value *m = v ? v->find(key) : nullptr;
    return m && m->isString() ? m->asString() : std::string();
}

CommandResult runCloud(const std::vector<std::string> &args) {
    std::vector<std::string> all = {SONARBOX_CLOUD_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    const pid_t pid = testchild::spawn(all, fds[1], fds[1]);
    close(fds[1]);
    CommandResult result;
    char buf[4096];
    ssize_t n;
    while (pid > 0 && (n = read(fds[0], buf, sizeof buf)) > 0)
        result.output.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    result.exitCode = pid > 0 ? testchild::wait(pid) : -1;
    return result;
}

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "sonarbox-cloud-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

bool scaledBackend() {
    const char *backend = std::getenv("SONARBOX_TEST_BACKEND");
    return backend && std::string(backend) == "scaled";
}

TestServer::TestServer(std::vector<std::string> extraArgs, Backend backend, Launch launch)
    : extraArgs_(std::move(extraArgs)) {
    if (scaledBackend() && backend == Backend::UnderTest) {
        database_ = PostgresTestServer::shared().createDatabase();
        auto &s3 = S3TestServer::shared();
        objects_ = s3.url(s3.freshBucket());
        S3TestServer::writeCredentials(credentialsFile());
        const auto migrated = run({"migrate"});
        if (migrated.exitCode != 0)
            throw std::runtime_error("migrate failed: " + migrated.output);
    }
    if (launch == Launch::Now)
        start();
}

TestServer::TestServer(const TestServer &other, std::vector<std::string> extraArgs)
    : extraArgs_(std::move(extraArgs))
    , sharedData_(other.dataDir())
    , database_(other.database_)
    , objects_(other.objects_) {
    start();
}

std::string TestServer::databaseLocation() const {
    return database_.empty() ? (dataDir() / "cloud.sqlite").string() : database_;
}

std::vector<std::string> TestServer::backendArgs() const {
    std::vector<std::string> args = {"--data", dataArg()};
    if (!database_.empty())
        args.insert(args.end(), {"--database", database_});
    if (!objects_.empty())
        args.insert(args.end(),
                    {"--objects", objects_, "--objects-credentials", credentialsFile().string()});

    return args;
}

CommandResult TestServer::run(std::vector<std::string> args) const {
    const auto backend = backendArgs();
    args.insert(args.begin() + (args.empty() ? 0 : 1), backend.begin(), backend.end());
    return runCloud(args);
}

fs::path TestServer::credentialsFile() const {
    return dataDir() / "s3.credentials";
}

std::unique_ptr<cloud::objects::ObjectStore> TestServer::objects() const {
    return cloud::objects::openObjectStore(objects_, dataDir(),
                                           objects_.empty() ? fs::path() : credentialsFile());
}

std::vector<std::string> TestServer::storedKeys() const {
    std::vector<std::string> keys;
    objects()->list([&](const cloud::objects::ObjectEntry &e) {
        if (!e.unfinished)
            keys.push_back(e.key);
    });
    std::sort(keys.begin(), keys.end());
    return keys;
}

int TestServer::unfinishedCount() const {
    int n = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dataDir() / "incoming", ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        ++n;
    if (!objects_.empty())
        objects()->list([&](const cloud::objects::ObjectEntry &e) { n += e.unfinished ? 1 : 0; });
    return n;
}

TestServer::~TestServer() {
    stop();
}

void TestServer::start() {
    std::vector<std::string> args = {SONARBOX_CLOUD_BINARY,
                                     "serve",
                                     "--listen",
                                     "127.0.0.1:0",
                                     "--pbkdf2-iterations",
                                     "1000",
                                     "--weak-password-hashes-for-tests",
                                     "--analytics-readback"};
    const auto backend = backendArgs();
    args.insert(args.end(), backend.begin(), backend.end());
    args.insert(args.end(), extraArgs_.begin(), extraArgs_.end());
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    const std::string log = (dataDir() / "server.log").string();
    const int err = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    // Dies with the test, however the test ends.
    pid_ = testchild::spawn(args, fds[1], err);
    close(fds[1]);
    if (err >= 0)
        close(err);
    if (pid_ < 0) {
        close(fds[0]);
        throw std::runtime_error("fork");
    }
    // The first line names the port.
    std::string line;
    pollfd p{fds[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
        char buf[256];
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        line.append(buf, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    const auto colon = line.rfind(':');
    if (line.rfind("listening on http", 0) != 0 || colon == std::string::npos)
        throw std::runtime_error("the server did not start: " + line);
    port_ = std::stoi(line.substr(colon + 1));
}

void TestServer::stop() {
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

void TestServer::killHard() {
    if (pid_ <= 0)
        return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

void TestServer::addUser(const std::string &email, const std::string &password,
                         const std::vector<std::string> &extra) {
    std::vector<std::string> args = {"add-user", email,
                                     password,   "--pbkdf2-iterations",
                                     "1000",     "--weak-password-hashes-for-tests"};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto r = run(args);
    if (r.exitCode != 0)
        throw std::runtime_error("add-user failed: " + r.output);
}

void TestServer::addFacebookUser(const std::string &email, const std::string &password) {
    const auto r = run({"add-facebook-user", email, password, "--first", "Fay", "--last", "Book",
                        "--pbkdf2-iterations", "1000", "--weak-password-hashes-for-tests"});
    if (r.exitCode != 0)
        throw std::runtime_error("add-facebook-user failed: " + r.output);
}

Reply TestServer::post(const std::string &path, const std::string &body, const std::string &cookie,
                       const std::map<std::string, std::string> &headers) {
    httplib::Client cli("127.0.0.1", port_);
    auto h = toHeaders(headers);
    if (!cookie.empty())
        h.emplace("Cookie", cookie);
    return toReply(cli.Post(path.c_str(), h, body, "application/json"));
}

Reply TestServer::postAs(const std::string &path, const std::string &body,
                         const std::string &contentType,
                         const std::map<std::string, std::string> &headers) {
    httplib::Client cli("127.0.0.1", port_);
    return toReply(cli.Post(path.c_str(), toHeaders(headers), body, contentType.c_str()));
}

Reply TestServer::get(const std::string &path, const std::map<std::string, std::string> &headers) {
    httplib::Client cli("127.0.0.1", port_);
    return toReply(cli.Get(path.c_str(), toHeaders(headers)));
}

Reply TestServer::options(const std::string &path,
                          const std::map<std::string, std::string> &headers) {
    httplib::Client cli("127.0.0.1", port_);
    return toReply(cli.Options(path.c_str(), toHeaders(headers)));
}

Reply TestServer::postJson(const std::string &path, const Value &body, const std::string &cookie) {
    return post(path, cloud::json::serialize(body), cookie);
}

std::string TestServer::token(const std::map<std::string, std::string> &headers) {
    const Reply r = post("/Vexmusic/userJson", "{\n  \"getToken\" : \"\"\n}", {}, headers);
    // A JSON string literal: the token sits between the first two quotes.
    const auto first = r.body.find('"');
    const auto second = r.body.find('"', first + 1);
    if (r.status != 200 || first == std::string::npos || second == std::string::npos)
        return "NO TOKEN!!!";
    return r.body.substr(first + 1, second - first - 1);
}

std::string TestServer::signature(const std::string &user, const std::string &password,
                                  const std::string &device, const std::string &token) {
    return cloud::crypto::md5HexUpper(user + password + device + token);
}

Value TestServer::loginBody(const std::string &user, const std::string &password,
                            const std::string &device, const std::string &token) {
    Value args;
    args.set("username", user);
    args.set("password", password);
    args.set("hashedPassword", "");
    args.set("appId", "desktop");
    args.set("deviceId", device);
    args.set("signature", signature(user, password, device, token));
    Value body;
    body.set("loginDesktop", std::move(args));
    return body;
}

Reply TestServer::login(const std::string &user, const std::string &password,
                        const std::string &device, std::string *cookie,
                        const std::map<std::string, std::string> &headers) {
    const Value body = loginBody(user, password, device, token(headers));
    Reply r = post("/Vexmusic/userJson", cloud::json::serialize(body), {}, headers);
    if (cookie && r.headers.count("set-cookie"))
        *cookie = r.headers["set-cookie"];
    return r;
}

std::string TestServer::loginOrFail(const std::string &user, const std::string &password,
                                    const std::string &device) {
    std::string cookie;
    const Reply r = login(user, password, device, &cookie);
    if (r.member("responseStatus") != "SUCCESS" || cookie.empty())
        throw std::runtime_error("login failed: " + r.body);
    return cookie;
}

Reply TestServer::listing(const std::string &cookie, std::int64_t since) {
    Value body;
    body.set("milliseconds", since);
    body.set("version", "1.0");
    return postJson("/Vexmusic/rest/medias/sync", body, cookie);
}

Reply TestServer::match(const std::string &cookie, const std::string &checksum,
                        const std::string &fingerprintId) {
    Value body;
    body.set("score", 1);
    body.set("provider", "GRACENOTE");
    body.set("checksum", checksum);
    if (fingerprintId != "-1")
        body.set("fingerprintId", fingerprintId);
    return postJson("/Vexmusic/rest/userContent/createUserMediaFromCatalog", body, cookie);
}

Reply TestServer::upload(const std::string &cookie, const std::string &fileName,
                         const std::string &content) {
    const std::string boundary = "----Zq4r8uLmW2xTe6Jk0PoNcVbHa";
    std::string body = "--" + boundary + "\r\n" +
                       "Content-Disposition: form-data; name=\"file\"; filename=\"" + fileName +
                       "\"\r\nContent-Type: audio/mpeg\r\n\r\n" + content + "\r\n--" + boundary +
                       "--\r\n";
    httplib::Client cli("127.0.0.1", port_);
    httplib::Headers h = {{"Cookie", cookie}, {"mobileUpload", "true"}};
    return toReply(cli.Post(
        ("/Vexmusic/controllers/DesktopUploadMedia?fileName=" + percentEncode(fileName)).c_str(), h,
        body, ("multipart/form-data; boundary=" + boundary).c_str()));
}

std::string TestServer::sessionId(const std::string &cookie) {
    const auto start = cookie.find("JSESSIONID=");
    if (start == std::string::npos)
        return {};
    const auto end = cookie.find(';', start);
    return cookie.substr(start + 11, end == std::string::npos ? end : end - start - 11);
}

Reply TestServer::download(const std::string &cookie, std::int64_t mediaId, const std::string &user,
                           const std::string &password, Reply *redirect) {
    const Reply first = get("/Vexmusic/rest/downloadController/redirectToCdnDownload/" +
                                std::to_string(mediaId) + "/?jsessionId=" + sessionId(cookie),
                            {{"USERNAME", user}, {"PASSWORD", password}});
    if (redirect)
        *redirect = first;
    if (first.status != 302)
        return first;
    std::string location = first.headers.at("location");
    const auto pathStart = location.find("/cdn/");
    return get(location.substr(pathStart));
}

fs::path makeAudio(const fs::path &dir, const std::string &name, double frequency,
                   const std::string &title, const std::string &artist, const std::string &album) {
    const fs::path out = dir / name;
    std::ostringstream cmd;
    cmd << "ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=" << frequency
        << ":duration=1 -metadata title='" << title << "' -metadata artist='" << artist
        << "' -metadata album='" << album << "' '" << out.string() << "'";
    if (testchild::shell(cmd.str()) != 0)
        throw std::runtime_error("ffmpeg failed: " + cmd.str());
    return out;
}

fs::path makeSong(const fs::path &dir, const std::string &name, double frequency,
                  const std::string &tags, bool cover, double seconds) {
    const fs::path out = dir / name;
    std::ostringstream cmd;
    cmd << "ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=" << frequency
        << ":duration=" << seconds << " ";
    if (cover)
        cmd << "-f lavfi -i color=c=red:s=300x200:d=1 -frames:v 1 -map 0:a -map 1:v -c:v mjpeg "
               "-disposition:v attached_pic -id3v2_version 3 ";
    cmd << tags << " -b:a 128k '" << out.string() << "'";
    if (testchild::shell(cmd.str()) != 0)
        throw std::runtime_error("ffmpeg failed: " + cmd.str());
    return out;
}

PlayerCredentials addPlayerPassword(TestServer &server, const std::string &email,
                                    const std::string &name) {
    const auto r = server.run({"add-player-password", email, name});
    // The rest of the line after a label of the command's output.
    const auto after = [&r](const std::string &label) {
        const auto at = r.output.find(label);
        if (at == std::string::npos)
            return std::string();
        const auto start = at + label.size();
        return r.output.substr(start, r.output.find('\n', start) - start);
    };
    PlayerCredentials c;
    c.password = after("password: ");
    c.apiKey = after("api key: ");
    if (r.exitCode != 0 || c.password.empty() || c.apiKey.empty())
        throw std::runtime_error("add-player-password failed: " + r.output);
    return c;
}

std::string readFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string wavBytes(std::size_t size, const std::string &seed) {
    size = std::max<std::size_t>(size, 64) & ~std::size_t{1};
    std::string out;
    const auto put = [&out](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out += static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    const auto data = static_cast<std::uint32_t>(size - 44);
    out += "RIFF";
    put(static_cast<std::uint32_t>(size - 8), 4);
    out += "WAVEfmt ";
    put(16, 4);
    put(1, 2);         // PCM
    put(1, 2);         // mono
    put(22050, 4);     // samples a second
    put(22050 * 2, 4); // bytes a second
    put(2, 2);
    put(16, 2);
    out += "data";
    put(data, 4);
    // A pseudo-random walk from the seed: noise, not silence, and its own.
    std::uint32_t state = 2166136261u;
    for (const char c : seed)
        state = (state ^ static_cast<unsigned char>(c)) * 16777619u;
    for (std::uint32_t i = 0; i < data; i += 2) {
        state = state * 1664525u + 1013904223u;
        put(state >> 16, 2);
    }
    return out;
}

std::string md5Hex(const std::string &bytes) {
    cloud::crypto::Md5 md5;
    md5.update(bytes.data(), bytes.size());
    return md5.finalHex();
}

std::int64_t purchasedId(const Reply &r) {
    const auto v = r.json();
    const Value *content = v ? v->find("purchasedContent") : nullptr;
    if (!content || !content->isArray() || content->asArray().empty())
        return -1;
    const Value *id = content->asArray().front().find("id");
    return id && id->isInteger() ? id->asInteger() : -1;
}

int connectLocal(int port, int receiveTimeoutMs) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    timeval tv{receiveTimeoutMs / 1000, (receiveTimeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return fd;
}

} // namespace cloudtest
