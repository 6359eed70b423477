// Uploads into the object store: the same files, one after another, put
// straight into a bucket by curl, and sent through the desktop upload route
// of a server on a bucket (and on PostgreSQL), and of a household server
// that keeps them in its data folder.
#include "BenchServer.h"
#include "DesktopClient.h"
#include "LoadRun.h"
#include "ScaledBackEnd.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Result {
    std::string label;
    double seconds = 0;
    int accepted = 0;
};

// curl signs its requests with the store's key through a netrc file: the
// key holds a colon, which --user would take for the end of the name.
fs::path writeNetrc(const fs::path &work) {
    const fs::path netrc = work / "netrc";
    const int fd = ::open(netrc.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::string text = "machine 127.0.0.1 login ";
    text.append(bench::objectStoreAccessKey())
        .append(" password ")
        .append(bench::objectStoreSecret())
        .append("\n");
    const bool written = fd >= 0 && ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    if (fd >= 0)
        ::close(fd);
    if (!written)
        throw std::runtime_error("cannot write " + netrc.string());
    return netrc;
}

Result curlPut(const std::vector<fs::path> &files, const fs::path &netrc) {
    const std::string bucket = bench::newBucket();
    Result r{"curl PUT straight to the store", 0, 0};
    const auto t = Clock::now();
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string code = bench::run(
            "curl -s -o /dev/null -w '%{http_code}' --netrc-file '" + netrc.string() +
            "' --aws-sigv4 aws:amz:us-east-1:s3 -H 'x-amz-content-sha256: UNSIGNED-PAYLOAD' "
            "-T '" +
            files[i].string() + "' '" + bench::objectStoreEndpoint() + "/" + bucket + "/up-" +
            std::to_string(i) + "'");
        r.accepted += code == "200" ? 1 : 0;
    }
    r.seconds = std::chrono::duration<double>(Clock::now() - t).count();
    return r;
}

// Through the upload route of a server on `backEnd`: curl's form upload of
// the files, then the benchmark's client with each file changed in its last
// byte (the same bytes again would only be matched to the stored ones).
std::vector<Result> throughServer(const std::vector<fs::path> &files, const bench::BackEnd &backEnd,
                                  const std::string &name) {
    const std::string email = "uploader@bench.example";
    bench::run(std::string(SONARBOX_CLOUD_BINARY) + " add-user --pbkdf2-iterations 100000" +
               bench::shellWords(backEnd.args()) + " " + email + " '" + bench::kDesktopPassword +
               "' >/dev/null");
    bench::Server server(backEnd.data, backEnd.sharedArgs());
    bench::DesktopClient client(server.port, email);
    if (!client.login())
        throw std::runtime_error(name + ": the desktop sign-in failed");
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port) +
                            "/Vexmusic/controllers/DesktopUploadMedia?fileName=x.mp3";
    Result viaCurl{name + ", curl's form upload", 0, 0};
    auto t = Clock::now();
    for (const auto &f : files) {
        const std::string code = bench::run(
            "curl -s -o /dev/null -w '%{http_code}' -H 'Cookie: " + client.cookie() +
            "' -H 'X-File-Size: " + std::to_string(fs::file_size(f)) + "' -H 'Expect:' -F 'file=@" +
            f.string() + ";type=audio/mpeg' '" + url + "'");
        viaCurl.accepted += code == "200" ? 1 : 0;
    }
    viaCurl.seconds = std::chrono::duration<double>(Clock::now() - t).count();

    Result ours{name + ", the benchmark's client", 0, 0};
    std::string content; // reused, as curl reuses its read buffer
    t = Clock::now();
    for (const auto &f : files) {
        std::ifstream in(f, std::ios::binary);
        content.resize(static_cast<std::size_t>(fs::file_size(f)));
        in.read(content.data(), static_cast<std::streamsize>(content.size()));
        content[content.size() - 1] ^= 0x5A;
        ours.accepted += client.upload(f.filename().string(), content) >= 0 ? 1 : 0;
    }
    ours.seconds = std::chrono::duration<double>(Clock::now() - t).count();
    return {viaCurl, ours};
}

} // namespace

int scaledUploads(int argc, char **argv) {
    int count = 10;
    int fileMb = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--files")
            count = std::max(1, std::stoi(argv[i + 1]));
        else if (a == "--file-mb")
            fileMb = std::max(1, std::stoi(argv[i + 1]));
    }
    char tmpl[] = "/tmp/sonarbox-cloud-uploads-XXXXXX";
    const fs::path work = mkdtemp(tmpl);
    std::string payload = bench::audioPayload(work, fileMb);
    if (payload.empty()) {
        std::fprintf(stderr, "ffmpeg made no upload\n");
        return 1;
    }
    std::vector<fs::path> files;
    for (int i = 0; i < count; ++i) {
        const fs::path f = work / ("up" + std::to_string(i) + ".mp3");
        bench::stampAudio(payload, "upload " + std::to_string(i));
        std::ofstream(f, std::ios::binary) << payload;
        files.push_back(f);
    }
    std::printf("%d files of %.1f MiB (MP3), one after another\n", count,
                payload.size() / 1048576.0);
    std::fflush(stdout);

    std::vector<Result> results;
    results.push_back(curlPut(files, writeNetrc(work)));
    for (const bool scaled : {true, false}) {
        const bench::BackEnd backEnd =
            bench::makeBackEnd(work / (scaled ? "data-scaled" : "data-household"), scaled);
        for (auto &r : throughServer(files, backEnd,
                                     scaled ? "server on a bucket and PostgreSQL"
                                            : "household server, data folder"))
            results.push_back(r);
    }

    const double mb = double(payload.size()) * count / 1e6;
    const double curlRate = mb / results[0].seconds;
    std::printf("\n%-58s %8s %9s %10s\n", "upload", "MB/s", "accepted", "x curl PUT");
    bool failed = false;
    for (const auto &r : results) {
        std::printf("%-58s %8.1f %6d/%-2d %10.2f\n", r.label.c_str(), mb / r.seconds, r.accepted,
                    count, (mb / r.seconds) / curlRate);
        failed = failed || r.accepted != count;
    }
    std::error_code ec;
    fs::remove_all(work, ec);
    return failed ? 1 : 0;
}
