#include "LoadRun.h"

#include "BenchServer.h"
#include "Crypto.h"
#include "DesktopClient.h"
#include "LoadFigures.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace bench {

namespace {

// Connections that never finish their request: one header line every 5 s.
class SlowClients {
public:
    SlowClients(int port, int count) {
        for (int i = 0; i < count; ++i) {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(static_cast<uint16_t>(port));
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0)
                fds_.push_back(fd);
            else
                close(fd);
        }
        thread_ = std::thread([this] {
            for (int line = 0; !stop_; ++line) {
                for (const int fd : fds_) {
                    const std::string text = line == 0
                                                 ? "GET / HTTP/1.1\r\n"
                                                 : "X-Slow-" + std::to_string(line) + ": 1\r\n";
                    [[maybe_unused]] auto n = send(fd, text.data(), text.size(), MSG_NOSIGNAL);
                }
                for (int i = 0; i < 50 && !stop_; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
    }
    ~SlowClients() {
        stop_ = true;
        thread_.join();
        for (const int fd : fds_)
            close(fd);
    }
    std::size_t connected() const { return fds_.size(); }

private:
    std::vector<int> fds_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct Sample {
    std::string kind;
    double ms = 0;
    bool ok = true;
};

} // namespace

std::string audioPayload(const fs::path &work, int mib) {
    // White noise keeps the encoder at its full rate: the size follows the
    // length.
    const double seconds = mib * 1048576.0 * 8 / 320000;
    const fs::path file = work / ("payload-" + std::to_string(mib) + ".mp3");
    run("ffmpeg -nostdin -loglevel error -y -f lavfi -i anoisesrc=c=white:r=44100:d=" +
        std::to_string(seconds) + " -ac 2 -b:a 320k '" + file.string() + "'");
    std::string content = readText(file.string());
    std::error_code ec;
    fs::remove(file, ec);
    return content;
}

void stampAudio(std::string &content, const std::string &stamp) {
    if (content.size() < 2 * stamp.size())
        return;
    std::copy(stamp.begin(), stamp.end(), content.begin() + std::ptrdiff_t(content.size() / 2));
}

LoadOptions loadOptionsFrom(int argc, char **argv, int first) {
    LoadOptions o;
    for (int i = first; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a.rfind("--", 0) != 0)
            continue;
        const auto number = [&] { return std::stoi(argv[i + 1]); };
        if (a == "--clients")
            o.clients = number();
        else if (a == "--seconds")
            o.seconds = number();
        else if (a == "--file-mb")
            o.fileMb = number();
        else if (a == "--curl-files")
            o.curlFiles = number();
        else if (a == "--slow-clients")
            o.slowClients = number();
    }
    return o;
}

std::vector<std::string> setUpLoad(const LoadOptions &o, const fs::path &work,
                                   const std::vector<std::string> &backendArgs) {
    const std::string bin = SONARBOX_CLOUD_BINARY;
    const std::string backend = shellWords(backendArgs);
    std::printf("setting up: %d accounts, a catalogue of 8 songs, %d MB uploads\n", o.clients,
                o.fileMb);
    for (int i = 0; i < o.clients + 1; ++i)
        run(bin + " add-user --pbkdf2-iterations 100000" + backend + " user" + std::to_string(i) +
            "@bench.example '" + kDesktopPassword + "'");
    std::vector<std::string> catalogue;
    std::string files;
    for (int i = 0; i < 8; ++i) {
        const fs::path f = work / ("cat" + std::to_string(i) + ".mp3");
        run("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=" +
            std::to_string(300 + 50 * i) + ":duration=1 '" + f.string() + "'");
        catalogue.push_back(cloud::crypto::md5OfFile(f.string()));
        files += " '" + f.string() + "'";
    }
    run(bin + " import" + backend + files);
    return catalogue;
}

int runLoad(const LoadOptions &o, int port, const fs::path &work,
            const std::vector<std::string> &catalogue) {
    const std::string payload = audioPayload(work, o.fileMb);
    if (payload.empty()) {
        std::fprintf(stderr, "ffmpeg made no upload\n");
        return 1;
    }

    std::optional<SlowClients> slow;
    if (o.slowClients > 0) {
        slow.emplace(port, o.slowClients);
        std::printf("%zu slow clients attacking\n", slow->connected());
    }

    std::mutex mutex;
    std::vector<Sample> samples;
    std::map<std::string, std::map<std::int64_t, std::string>> confirmed; // user -> id -> md5
    std::atomic<std::uint64_t> uploadedBytes{0};
    const auto deadline = Clock::now() + std::chrono::seconds(o.seconds);
    const auto started = Clock::now();

    std::vector<std::thread> threads;
    for (int c = 0; c < o.clients; ++c) {
        threads.emplace_back([&, c] {
            const std::string user = "user" + std::to_string(c) + "@bench.example";
            DesktopClient client(port, user);
            std::string content = payload;
            std::vector<Sample> mine;
            std::map<std::int64_t, std::string> uploads;
            const auto timed = [&](const char *kind, auto &&fn) {
                const auto t0 = Clock::now();
                const bool ok = fn();
                mine.push_back(
                    {kind, std::chrono::duration<double, std::milli>(Clock::now() - t0).count(),
                     ok});
                return ok;
            };
            std::int64_t position = 0;
            for (int i = 0; Clock::now() < deadline; ++i) {
                if (i % 5 == 0 && !timed("login", [&] { return client.login(); }))
                    continue;
                timed("listing", [&] {
                    const auto v = client.listing(position);
                    if (v)
                        position = v->find("milliseconds")->asInteger();
                    return v.has_value();
                });
                const bool known = i % 2 == 0;
                timed("match", [&] {
                    return known ? client.match(catalogue[std::size_t(i) % catalogue.size()],
                                                "SUCCESS")
                                 : client.match(md5Of("unknown " + std::to_string(i)), "FAIL");
                });
                // Every upload is new content: the first bytes name client and round.
                stampAudio(content, std::to_string(c) + ":" + std::to_string(i) + ":");
                timed("upload", [&] {
                    const auto id = client.upload("song-" + std::to_string(i) + ".mp3", content);
                    if (id < 0)
                        return false;
                    uploads[id] = md5Of(content);
                    uploadedBytes += content.size();
                    return true;
                });
            }
            std::lock_guard lock(mutex);
            samples.insert(samples.end(), mine.begin(), mine.end());
            confirmed[user] = std::move(uploads);
        });
    }
    for (auto &t : threads)
        t.join();
    slow.reset();
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();

    // Every confirmed upload must be listed with its checksum.
    int lost = 0;
    std::size_t total = 0;
    for (const auto &[user, uploads] : confirmed) {
        DesktopClient client(port, user);
        client.login();
        const auto v = client.listing(0);
        std::map<std::int64_t, std::string> listed;
        if (v) {
            for (const auto &item : v->find("updatedUserMedias")->asArray())
                listed[item.find("id")->asInteger()] = item.find("checksum")->asString();
        }
        for (const auto &[id, sum] : uploads) {
            ++total;
            if (!listed.count(id) || listed[id] != sum)
                ++lost;
        }
    }

    std::printf("\n%d clients, %.1f s\n", o.clients, elapsed);
    std::printf("%-8s %8s %8s %9s %9s %9s %9s %7s\n", "request", "count", "req/s", "p50 ms",
                "p90 ms", "p99 ms", "max ms", "errors");
    std::size_t allCount = 0, allErrors = 0;
    for (const char *kind : {"login", "listing", "match", "upload"}) {
        std::vector<double> ms;
        std::size_t errors = 0;
        for (const auto &s : samples) {
            if (s.kind == kind) {
                ms.push_back(s.ms);
                errors += s.ok ? 0 : 1;
            }
        }
        allCount += ms.size();
        allErrors += errors;
        std::printf("%-8s %8zu %8.1f %9.1f %9.1f %9.1f %9.1f %7zu\n", kind, ms.size(),
                    double(ms.size()) / elapsed, percentile(ms, 50), percentile(ms, 90),
                    percentile(ms, 99), percentile(ms, 100), errors);
    }
    std::printf("%-8s %8zu %8.1f %47s %7zu\n", "all", allCount, double(allCount) / elapsed, "",
                allErrors);
    std::printf("uploads confirmed %zu, lost %d; upload throughput under load %.1f MB/s\n", total,
                lost, double(uploadedBytes) / 1e6 / elapsed);

    // Single-stream comparison with curl, the same files against the same server.
    std::vector<fs::path> files2;
    for (int i = 0; i < o.curlFiles; ++i) {
        const fs::path f = work / ("up" + std::to_string(i) + ".bin");
        std::string content = payload;
        stampAudio(content, "curl-compare " + std::to_string(i));
        std::ofstream(f, std::ios::binary) << content;
        files2.push_back(f);
    }
    const std::string spare = "user" + std::to_string(o.clients) + "@bench.example";
    DesktopClient ours(port, spare);
    ours.login();
    const std::string url = "http://127.0.0.1:" + std::to_string(port) +
                            "/Vexmusic/controllers/DesktopUploadMedia?fileName=x.mp3";
    const auto curlStart = Clock::now();
    int curlOk = 0;
    for (const auto &f : files2) {
        const std::string code =
            run("curl -s -o /dev/null -w '%{http_code}' -H 'Cookie: " + ours.cookie() +
                "' -H 'Expect:' -F 'file=@" + f.string() + ";type=audio/mpeg' '" + url + "'");
        curlOk += code == "200" ? 1 : 0;
    }
    const double curlSeconds = std::chrono::duration<double>(Clock::now() - curlStart).count();
    // The same files again under new names would be deduplicated, so our client
    // sends a one-byte variant of each: same size, new content.
    const auto oursStart = Clock::now();
    int oursOk = 0;
    std::string content; // reused, as curl reuses its read buffer
    for (const auto &f : files2) {
        std::ifstream in(f, std::ios::binary);
        content.resize(static_cast<std::size_t>(fs::file_size(f)));
        in.read(content.data(), static_cast<std::streamsize>(content.size()));
        content[content.size() - 1] ^= 0x5A;
        oursOk += ours.upload(f.filename().string(), content) >= 0 ? 1 : 0;
    }
    const double oursSeconds = std::chrono::duration<double>(Clock::now() - oursStart).count();
    const double mb = double(payload.size()) * o.curlFiles / 1e6;
    std::printf("\nsingle stream, %d files of %d MB (each including reading the file)\n",
                o.curlFiles, o.fileMb);
    std::printf("curl       %6.1f MB/s  (%d/%d accepted)\n", mb / curlSeconds, curlOk, o.curlFiles);
    std::printf("benchmark  %6.1f MB/s  (%d/%d accepted)\n", mb / oursSeconds, oursOk, o.curlFiles);
    std::printf("ratio      %6.2f\n", (mb / oursSeconds) / (mb / curlSeconds));

    return lost == 0 && allErrors == 0 ? 0 : 1;
}

} // namespace bench
