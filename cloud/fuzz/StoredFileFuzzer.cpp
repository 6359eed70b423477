// A stored file is whatever an account uploaded. The server opens it with
// FFmpeg in four places: tags (both depths), the cover (as stored and scaled)
// and the transcoder. This target writes the input to a file, runs all of them
// on it, and fails when anything but that one file was opened on the way: a
// playlist (HLS, a concat list) would make the demuxer open the paths it names
// and hand their bytes to whoever streams the song.
//
// Two independent witnesses, both proved at start-up against a real read:
//  - the kernel's: an inotify watch on the scratch folder, which holds the
//    input beside a canary WAV; an open of anything there but the input is
//    seen whichever call made it;
//  - the C library's: open/open64/openat/openat64 are wrapped in this program
//    (FFmpeg's file protocol calls open64), so paths outside the folder are
//    seen too.
// The text @CANARY@ in an input becomes the canary's absolute path, so that
// seeds can name it wherever the folder is made.
#include "CoverArt.h"
#include "Json.h"
#include "TagReader.h"
#include "Transcode.h"
#include "objects/FolderStore.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

// What the wrapped calls saw while armed: every path but the allowed one.
struct OpenLog {
    std::atomic<bool> armed{false};
    std::mutex mutex;
    std::string allowed;
    std::vector<std::string> others;

    void note(const char *path) {
        if (!armed.load() || !path)
            return;
        std::lock_guard lock(mutex);
        // The Ogg muxer seeds its stream serial numbers from the system's
        // generator; that device holds no one's data.
        if (allowed == path || std::strcmp(path, "/dev/urandom") == 0)
            return;
        others.emplace_back(path);
    }
};

OpenLog &openLog() {
    static OpenLog *log = new OpenLog; // never destroyed: opens may come after exit()
    return *log;
}

template <typename F> F real(const char *name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

mode_t modeOf(int flags, va_list ap) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(ap, mode_t) : 0;
}

} // namespace

extern "C" int open(const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeOf(flags, ap);
    va_end(ap);
    openLog().note(path);
    static const auto call = real<int (*)(const char *, int, ...)>("open");
    return call(path, flags, mode);
}

extern "C" int open64(const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeOf(flags, ap);
    va_end(ap);
    openLog().note(path);
    static const auto call = real<int (*)(const char *, int, ...)>("open64");
    return call(path, flags, mode);
}

extern "C" int openat(int dir, const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeOf(flags, ap);
    va_end(ap);
    openLog().note(path);
    static const auto call = real<int (*)(int, const char *, int, ...)>("openat");
    return call(dir, path, flags, mode);
}

extern "C" int openat64(int dir, const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeOf(flags, ap);
    va_end(ap);
    openLog().note(path);
    static const auto call = real<int (*)(int, const char *, int, ...)>("openat64");
    return call(dir, path, flags, mode);
}

namespace {

constexpr const char *kInputName = "input";

struct Scratch {
    fs::path dir;
    fs::path input;
    fs::path canary;
    int watch = -1; // the inotify descriptor
};

Scratch *scratch = nullptr;

[[noreturn]] void setUpFailed(const std::string &what) {
    std::fprintf(stderr, "stored-file fuzzer set-up: %s\n", what.c_str());
    std::exit(1);
}

void writeFile(const fs::path &path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        setUpFailed("cannot write " + path.string());
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            setUpFailed("cannot write " + path.string());
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

// A quarter second of a 1 kHz tone, 8 kHz mono 16-bit: a file any demuxer
// that reaches it will read with pleasure.
std::string canaryWav() {
    const std::uint32_t samples = 2000;
    std::string out;
    const auto u32 = [&out](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    const auto u16 = [&out](std::uint16_t v) {
        out += static_cast<char>(v & 0xFF);
        out += static_cast<char>(v >> 8);
    };
    out += "RIFF";
    u32(36 + samples * 2);
    out += "WAVEfmt ";
    u32(16);
    u16(1);        // PCM
    u16(1);        // mono
    u32(8000);     // samples per second
    u32(8000 * 2); // bytes per second
    u16(2);        // block
    u16(16);       // bits
    out += "data";
    u32(samples * 2);
    for (std::uint32_t i = 0; i < samples; ++i)
        u16(static_cast<std::uint16_t>(
            static_cast<std::int16_t>(8000 * std::sin(2 * 3.14159265358979 * 1000 * i / 8000.0))));
    return out;
}

// Names (below the scratch folder) that the kernel saw opened since the last call.
std::vector<std::string> kernelOpens() {
    std::vector<std::string> names;
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(scratch->watch, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto *e = reinterpret_cast<const inotify_event *>(buffer + at);
            if (e->mask & IN_Q_OVERFLOW)
                names.emplace_back("(events lost: too many opens)");
            else if (e->mask & IN_OPEN)
                names.emplace_back(e->len > 0 ? e->name : ".");
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
    return names;
}

void arm() {
    kernelOpens(); // what came before is not the code's doing
    OpenLog &log = openLog();
    {
        std::lock_guard lock(log.mutex);
        log.allowed = scratch->input.string();
        log.others.clear();
    }
    log.armed = true;
}

// Everything but the input that was opened since arm().
std::vector<std::string> disarm() {
    OpenLog &log = openLog();
    log.armed = false;
    std::vector<std::string> seen;
    {
        std::lock_guard lock(log.mutex);
        seen = std::move(log.others);
        log.others.clear();
    }
    for (auto &name : kernelOpens()) {
        if (name != kInputName)
            seen.push_back("(kernel) " + (scratch->dir / name).string());
    }
    return seen;
}

void setUp() {
    char dir[] = "/tmp/sonarbox-stored-fuzz-XXXXXX";
    if (!mkdtemp(dir))
        setUpFailed("no temporary folder");
    scratch = new Scratch;
    scratch->dir = dir;
    scratch->input = scratch->dir / kInputName;
    scratch->canary = scratch->dir / "canary.wav";
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(scratch->dir, ec);
    });
    writeFile(scratch->canary, canaryWav());
    writeFile(scratch->input, "");
    scratch->watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (scratch->watch < 0 || inotify_add_watch(scratch->watch, dir, IN_OPEN) < 0)
        setUpFailed(std::string("no inotify watch: ") + std::strerror(errno));

    // Both witnesses must see FFmpeg open a file that is not the input, or a
    // quiet run would prove nothing.
    arm();
    const bool read = cloud::readTags(scratch->canary.string()).has_value();
    const auto seen = disarm();
    bool byLibrary = false;
    bool byKernel = false;
    for (const auto &s : seen) {
        byLibrary = byLibrary || s == scratch->canary.string();
        byKernel = byKernel || s == "(kernel) " + scratch->canary.string();
    }
    if (!read || !byLibrary || !byKernel)
        setUpFailed(std::string("a witness is blind: tags ") + (read ? "read" : "not read") +
                    ", open64 " + (byLibrary ? "seen" : "unseen") + ", inotify " +
                    (byKernel ? "seen" : "unseen"));
}

[[noreturn]] void failed(const std::string &why) {
    std::fprintf(stderr, "stored-file check failed: %s\n", why.c_str());
    __builtin_trap();
}

void checkTags(const std::optional<cloud::Tags> &tags, const char *depth) {
    if (!tags)
        return;
    for (const std::string *text :
         {&tags->title, &tags->artist, &tags->album, &tags->albumArtist, &tags->genre}) {
        if (!cloud::json::isValidUtf8(*text))
            failed(std::string(depth) + " tags: text that is not UTF-8");
    }
    if (tags->year < 0 || tags->year > 9999 || tags->bitRateKbps < 0 || tags->durationMs < 0)
        failed(std::string(depth) + " tags: a year, rate or duration out of range");
    if (tags->suffix.empty() || tags->contentType.empty())
        failed(std::string(depth) + " tags: audio without a suffix or type");
}

void checkCover(const std::optional<cloud::Picture> &picture, int size) {
    if (!picture)
        return;
    static const std::string_view types[] = {"image/jpeg", "image/png", "image/gif", "image/bmp",
                                             "image/webp"};
    bool known = false;
    for (const auto t : types)
        known = known || picture->contentType == t;
    if (picture->bytes.empty() || !known)
        failed("cover of size " + std::to_string(size) + ": empty, or of type \"" +
               picture->contentType + "\"");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char *>(data), size);
    const std::string canary = scratch->canary.string();
    for (auto at = bytes.find("@CANARY@"); at != std::string::npos;
         at = bytes.find("@CANARY@", at + canary.size()))
        bytes.replace(at, 8, canary);
    writeFile(scratch->input, bytes);
    const std::string path = scratch->input.string();

    // The request's choices come from the last byte, which a file's own
    // structure rarely depends on.
    const unsigned knob = size > 0 ? data[size - 1] : 0;
    const int coverSize = 16 + static_cast<int>(knob);
    cloud::TranscodeTarget target;
    target.format = (knob & 1) ? cloud::TranscodeFormat::Opus : cloud::TranscodeFormat::Mp3;
    target.bitRateKbps = (knob & 2) ? 32 : 128;
    const double start = (knob & 4) ? 1.5 : 0;

    arm();
    checkTags(cloud::readTags(path, cloud::TagDepth::Quick), "quick");
    checkTags(cloud::readTags(path, cloud::TagDepth::Thorough), "thorough");
    checkCover(cloud::readCover(cloud::objects::FileReader::open(path), 0), 0);
    checkCover(cloud::readCover(cloud::objects::FileReader::open(path), coverSize), coverSize);
    if (auto encoder =
            cloud::Transcoder::open(cloud::objects::FileReader::open(path), target, start)) {
        char out[8 * 1024];
        for (int i = 0; i < 4; ++i) {
            const long n = encoder->read(out, sizeof out);
            if (n < -1 || n > static_cast<long>(sizeof out))
                failed("a transcoder read out of bounds");
            if (n <= 0)
                break;
        }
    }
    const auto seen = disarm();
    if (!seen.empty()) {
        std::string list;
        for (const auto &s : seen)
            list += "\n  " + s;
        failed("opened besides the stored file:" + list);
    }
    return 0;
}
