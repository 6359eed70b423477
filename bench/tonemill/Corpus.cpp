#include "Corpus.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

const char *const Extensions[] = {"mp3", "m4a", "flac", "ogg", "wav"};

std::string codecFor(const std::string &extension) {
    if (extension == "mp3") {
        return "-c:a libmp3lame -b:a 192k";
    }
    if (extension == "m4a") {
        return "-c:a aac -b:a 192k";
    }
    if (extension == "ogg") {
        return "-c:a libvorbis -q:a 5";
    }
    if (extension == "flac") {
        return "-c:a flac";
    }
    return "-c:a pcm_s16le";
}

// Two drifting tones over pink noise, different for every track, so the
// encoders and the fingerprinter see music-like, non-trivial signals.
bool makeTrack(const std::string &path, int index, const std::string &extension) {
    const int seconds = 180 + (index * 37) % 181;
    const int album = index / 10 + 1;
    const double low = 110.0 + 17.0 * (index % 13);
    const double high = 440.0 + 23.0 * (index % 11);
    char command[2048];
    std::snprintf(command, sizeof command,
                  "ffmpeg -nostdin -hide_banner -loglevel error -y "
                  "-f lavfi -i \"aevalsrc=exprs='0.3*sin(2*PI*%.1f*t+2*sin(0.5*t))+"
                  "0.2*sin(2*PI*%.1f*t)*sin(2*PI*t/%d)|0.3*sin(2*PI*%.1f*t)+"
                  "0.2*sin(2*PI*%.1f*t+sin(t))':sample_rate=44100:duration=%d\" "
                  "-f lavfi -i \"anoisesrc=color=pink:amplitude=0.08:seed=%d:sample_rate=44100:"
                  "duration=%d\" -filter_complex \"[0][1]amix=inputs=2:normalize=0\" "
                  "-metadata artist='Bench Artist %d' -metadata album='Bench Album %d' "
                  "-metadata title='Track %d' -metadata track=%d %s '%s' </dev/null",
                  low, high, 3 + index % 5, low * 1.5, high * 0.75, seconds, index + 1, seconds,
                  album, album, index + 1, index % 10 + 1, codecFor(extension).c_str(),
                  path.c_str());
    return std::system(command) == 0;
}

} // namespace

bool Corpus::make(const std::string &folder, int count, Corpus &out) {
    fs::create_directories(folder);
    out = Corpus{};
    for (int i = 0; i < count; ++i) {
        const std::string extension = Extensions[i % 5];
        char name[64];
        std::snprintf(name, sizeof name, "album%02d-track%02d.%s", i / 10 + 1, i % 10 + 1,
                      extension.c_str());
        const std::string path = (fs::path(folder) / name).string();
        if (!fs::exists(path)) {
            std::fprintf(stderr, "making %s\n", path.c_str());
            if (!makeTrack(path + ".part." + extension, i, extension)) {
                return false;
            }
            fs::rename(path + ".part." + extension, path);
        }
        out.files.push_back(path);
        if (i % 10 == 0) {
            out.albums.emplace_back();
        }
        out.albums.back().push_back(path);
    }
    return true;
}
