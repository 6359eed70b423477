#include "corpus.h"

#include "music_synth.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>

namespace fs = std::filesystem;

namespace recog::bench {

namespace {

constexpr uint32_t kUnknownSeedBase = 100000;

std::string name(bool known, int i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%03d", known ? "cat" : "unk", i);
    return buf;
}

// White noise at 20 dB below the song's own power.
std::vector<int16_t> withNoise(const std::vector<int16_t> &pcm, uint32_t seed) {
    double power = 0;
    for (int16_t s : pcm)
        power += double(s) * s;
    power /= double(pcm.size());
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, std::sqrt(power / 100.0));
    std::vector<int16_t> out(pcm.size());
    for (size_t i = 0; i < pcm.size(); ++i)
        out[i] = int16_t(std::clamp(pcm[i] + noise(rng), -32768.0, 32767.0));
    return out;
}

bool run(const std::string &command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

bool makeSong(const CorpusLayout &l, bool known, int i) {
    const std::string base = name(known, i);
    const std::string wav = l.root + "/tmp-" + base + ".wav";
    testaudio::SongSpec recipe;
    recipe.seed = known ? uint32_t(i) : kUnknownSeedBase + uint32_t(i);
    recipe.seconds = l.seconds;
    const auto pcm = testaudio::synthesizeSong(recipe);
    if (!testaudio::writeWav(wav, pcm, recipe.sampleRate, 2))
        return false;
    const auto &d = distortions();
    auto q = [&](const char *dist) {
        for (const Distortion &x : d)
            if (std::string(x.name) == dist)
                return l.queryFile(known, i, x);
        return std::string();
    };
    std::string cmd = "ffmpeg -nostdin -y -loglevel error -i " + wav;
    // Songs outside the catalogue get every distortion too: none of their
    // copies may match anything.
    if (!testaudio::writeWav(q("noise"), withNoise(pcm, recipe.seed), recipe.sampleRate, 2))
        return false;
    if (known) {
        const int artist = (i - 1) / 10 + 1;
        cmd += " -map_metadata -1 -metadata title='Song " + std::to_string(i) +
               "' -metadata artist='Artist " + std::to_string(artist) +
               "' -metadata album='Album " + std::to_string(artist) +
               "' -metadata track=" + std::to_string((i - 1) % 10 + 1) + " " + l.catalogueFile(i);
    }
    cmd += " -map_metadata -1 -c:a libmp3lame -b:a 96k " + q("mp3");
    cmd += " -map_metadata -1 -c:a aac -aac_coder fast -b:a 128k " + q("aac");
    cmd += " -map_metadata -1 -ss 5 " + q("trim5");
    cmd += " -map_metadata -1 -ss 12 " + q("trim12");
    cmd += " -map_metadata -1 -af volume=-6dB " + q("quiet");
    cmd += " -map_metadata -1 -ar 22050 " + q("resample");
    cmd += " -map_metadata -1 -af atempo=1.02 " + q("tempo");
    cmd += " -map_metadata -1 -c:a copy " + q("original");
    // Pitch and tempo together, as a turntable, a tape or a film transfer
    // changes them: the samples played at another rate.
    for (const Distortion &x : d)
        if (x.speed != 0)
            cmd += " -map_metadata -1 -af asetrate=" +
                   std::to_string(std::lround(recipe.sampleRate * x.speed)) +
                   ",aresample=" + std::to_string(recipe.sampleRate) + " " +
                   l.queryFile(known, i, x);
    const bool ok = run(cmd);
    // Written last: its presence says the song is complete.
    fs::remove(wav);
    return ok;
}

} // namespace

const std::vector<Distortion> &distortions() {
    static const std::vector<Distortion> list = {{"original", "wav"},
                                                 {"mp3", "mp3"},
                                                 {"aac", "m4a"},
                                                 {"trim5", "wav"},
                                                 {"trim12", "wav"},
                                                 {"quiet", "wav"},
                                                 {"noise", "wav"},
                                                 {"resample", "wav"},
                                                 {"tempo", "wav"},
                                                 {"speed+0.5", "wav", 1.005},
                                                 {"speed-0.5", "wav", 0.995},
                                                 {"speed+1", "wav", 1.01},
                                                 {"speed-1", "wav", 0.99},
                                                 {"speed+2", "wav", 1.02},
                                                 {"speed-2", "wav", 0.98},
                                                 {"speed-4", "wav", 0.96},
                                                 {"speed+4.17", "wav", 25.0 / 24.0}};
    return list;
}

std::string CorpusLayout::catalogueFile(int i) const {
    return root + "/catalogue/" + name(true, i) + ".flac";
}

std::string CorpusLayout::queryFile(bool known, int i, const Distortion &d) const {
    return root + "/queries/" + d.name + "/" + name(known, i) + "." + d.file;
}

bool ensureCorpus(const CorpusLayout &l) {
    fs::create_directories(l.root + "/catalogue");
    for (const Distortion &d : distortions())
        fs::create_directories(l.root + "/queries/" + d.name);
    struct Job {
        bool known;
        int i;
    };
    std::vector<Job> jobs;
    for (int i = 1; i <= l.catalogueSongs; ++i)
        if (!fs::exists(l.queryFile(true, i, distortions().back())) ||
            !fs::exists(l.catalogueFile(i)))
            jobs.push_back({true, i});
    for (int i = 1; i <= l.unknownSongs; ++i)
        if (!fs::exists(l.queryFile(false, i, distortions().back())))
            jobs.push_back({false, i});
    if (jobs.empty())
        return true;
    std::fprintf(stderr, "generating %zu songs with their distorted copies in %s\n", jobs.size(),
                 l.root.c_str());
    std::atomic<size_t> next{0}, done{0};
    std::atomic<bool> ok{true};
    auto worker = [&] {
        for (size_t j; (j = next++) < jobs.size() && ok;) {
            if (!makeSong(l, jobs[j].known, jobs[j].i))
                ok = false;
            const size_t d = ++done;
            if (d % 20 == 0 || d == jobs.size())
                std::fprintf(stderr, "  %zu/%zu\n", d, jobs.size());
        }
    };
    std::thread a(worker), b(worker);
    a.join();
    b.join();
    return ok;
}

} // namespace recog::bench
