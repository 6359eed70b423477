#include "music_synth.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <random>

namespace recog::testaudio {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kTableSize = 4096;

// One instrument timbre: a single-cycle wave built from a few harmonics.
struct Timbre {
    std::array<float, kTableSize> table{};
    double attack = 0.01, decay = 0.2, sustain = 0.6, release = 0.1;

    static Timbre random(std::mt19937 &rng) {
        Timbre t;
        std::uniform_real_distribution<double> u(0.0, 1.0);
        const int partials = 2 + int(rng() % 6);
        std::array<double, 8> amp{};
        for (int p = 0; p < partials; ++p)
            amp[size_t(p)] = (p == 0 ? 1.0 : u(rng) / (p + 1));
        double peak = 0;
        for (int i = 0; i < kTableSize; ++i) {
            double v = 0;
            for (int p = 0; p < partials; ++p)
                v += amp[size_t(p)] * std::sin(2 * kPi * (p + 1) * i / kTableSize);
            t.table[size_t(i)] = float(v);
            peak = std::max(peak, std::abs(v));
        }
        for (float &v : t.table)
            v = float(v / peak);
        t.attack = 0.005 + 0.04 * u(rng);
        t.decay = 0.05 + 0.3 * u(rng);
        t.sustain = 0.3 + 0.6 * u(rng);
        t.release = 0.05 + 0.2 * u(rng);
        return t;
    }
};

struct Mixer {
    std::vector<float> left, right;
    int rate;

    Mixer(double seconds, int sampleRate)
        : left(size_t(seconds * sampleRate))
        , right(left.size())
        , rate(sampleRate) {}

    void note(const Timbre &t, double start, double length, double midi, double gain, double pan) {
        const double freq = 440.0 * std::pow(2.0, (midi - 69) / 12.0);
        const size_t first = size_t(start * rate);
        const size_t count = size_t((length + t.release) * rate);
        const double step = freq * kTableSize / rate;
        double phase = 0;
        const float gl = float(gain * (1 - pan)), gr = float(gain * pan);
        for (size_t i = 0; i < count && first + i < left.size(); ++i) {
            const double time = double(i) / rate;
            double env;
            if (time < t.attack)
                env = time / t.attack;
            else if (time < t.attack + t.decay)
                env = 1 - (1 - t.sustain) * (time - t.attack) / t.decay;
            else if (time < length)
                env = t.sustain;
            else
                env = t.sustain * std::max(0.0, 1 - (time - length) / t.release);
            const float v = float(env) * t.table[size_t(phase) & (kTableSize - 1)];
            left[first + i] += gl * v;
            right[first + i] += gr * v;
            phase += step;
            if (phase >= kTableSize)
                phase -= kTableSize;
        }
    }

    void kick(double start, double gain) {
        const size_t first = size_t(start * rate);
        double phase = 0;
        for (size_t i = 0; i < size_t(0.25 * rate) && first + i < left.size(); ++i) {
            const double time = double(i) / rate;
            phase += 2 * kPi * (50 + 100 * std::exp(-time * 30)) / rate;
            const float v = float(gain * std::exp(-time * 12) * std::sin(phase));
            left[first + i] += v;
            right[first + i] += v;
        }
    }

    void noiseHit(std::mt19937 &rng, double start, double length, double gain, bool bright) {
        std::uniform_real_distribution<float> u(-1.f, 1.f);
        const size_t first = size_t(start * rate);
        float prev = 0;
        for (size_t i = 0; i < size_t(length * rate) && first + i < left.size(); ++i) {
            const double time = double(i) / rate;
            const float n = u(rng);
            const float v = bright ? n - prev : (n + prev) * 0.5f; // crude high / low pass
            prev = n;
            const float s = float(gain * std::exp(-time * (bright ? 60 : 20))) * v;
            left[first + i] += s;
            right[first + i] += s;
        }
    }
};

} // namespace

std::vector<int16_t> synthesizeSong(const SongSpec &recipe) {
    std::mt19937 rng(recipe.seed * 2654435761u + 12345u);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    Mixer mix(recipe.seconds, recipe.sampleRate);

    const int key = int(rng() % 12);
    const bool minor = rng() % 2;
    const double bpm = 72 + double(rng() % 90);
    const double beat = 60.0 / bpm;
    static const int majorScale[] = {0, 2, 4, 5, 7, 9, 11};
    static const int minorScale[] = {0, 2, 3, 5, 7, 8, 10};
    const int *scale = minor ? minorScale : majorScale;

    // Two sections of four chords each, as scale degrees.
    std::array<std::array<int, 4>, 2> progression{};
    for (auto &section : progression)
        for (int &degree : section)
            degree = int(rng() % 7);
    progression[0][0] = 0;

    Timbre pad = Timbre::random(rng), lead = Timbre::random(rng), bass = Timbre::random(rng);
    const double padPan = 0.3 + 0.4 * u(rng), leadPan = 0.3 + 0.4 * u(rng);
    const int beatsPerBar = 4;
    const int melodyDensity = 1 + int(rng() % 3); // notes per beat
    // A motif per section, varied on repeats.
    std::array<std::vector<int>, 2> motif;
    for (auto &m : motif)
        for (int i = 0; i < beatsPerBar * melodyDensity * 2; ++i)
            m.push_back(int(rng() % 10) - 2);
    const int drumStyle = int(rng() % 3);

    auto pitch = [&](int degree, int octave) {
        const int d = ((degree % 7) + 7) % 7;
        return 12 * octave + key + scale[d] + 12 * ((degree - d) / 7);
    };

    int bar = 0;
    for (double t = 0; t < recipe.seconds; t += beat * beatsPerBar, ++bar) {
        const int section = (bar / 8) % 2;
        const int degree = progression[size_t(section)][size_t(bar % 4)];
        // Chord: root, third, fifth (and a seventh now and then).
        const double len = beat * beatsPerBar;
        for (int k = 0; k < (bar % 3 == 2 ? 4 : 3); ++k)
            mix.note(pad, t, len * 0.95, pitch(degree + 2 * k, 4), 0.10, padPan);
        // Bass on every beat, root and fifth.
        for (int b = 0; b < beatsPerBar; ++b)
            mix.note(bass, t + b * beat, beat * 0.8, pitch(degree + (b % 2 ? 4 : 0), 2), 0.22, 0.5);
        // Melody from the section's motif, around the chord.
        const auto &m = motif[size_t(section)];
        const int steps = beatsPerBar * melodyDensity;
        for (int s = 0; s < steps; ++s) {
            const int idx = (bar % 2) * steps + s;
            if ((idx * 7 + bar) % 5 == 4)
                continue; // rests
            const double start = t + s * beat / melodyDensity;
            mix.note(lead, start, beat / melodyDensity * 0.9, pitch(degree + m[size_t(idx)], 5),
                     0.14, leadPan);
        }
        // Drums.
        for (int b = 0; b < beatsPerBar; ++b) {
            const double bt = t + b * beat;
            if (b % 2 == 0 || drumStyle == 2)
                mix.kick(bt, 0.5);
            if (b % 2 == 1)
                mix.noiseHit(rng, bt, 0.15, 0.25, false);
            for (int h = 0; h < (drumStyle == 1 ? 4 : 2); ++h)
                mix.noiseHit(rng, bt + h * beat / (drumStyle == 1 ? 4 : 2), 0.05, 0.08, true);
        }
    }

    float peak = 1e-6f;
    for (size_t i = 0; i < mix.left.size(); ++i)
        peak = std::max({peak, std::abs(mix.left[i]), std::abs(mix.right[i])});
    const float gain = 0.7f * 32767.f / peak;
    std::vector<int16_t> pcm(mix.left.size() * 2);
    for (size_t i = 0; i < mix.left.size(); ++i) {
        pcm[2 * i] = int16_t(std::lrint(mix.left[i] * gain));
        pcm[2 * i + 1] = int16_t(std::lrint(mix.right[i] * gain));
    }
    return pcm;
}

bool writeWav(const std::string &path, const std::vector<int16_t> &pcm, int sampleRate,
              int channels) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const uint32_t dataBytes = uint32_t(pcm.size() * 2);
    auto u32 = [&](uint32_t v) {
        const unsigned char b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16),
                                    uint8_t(v >> 24)};
        std::fwrite(b, 1, 4, f);
    };
    auto u16 = [&](uint16_t v) {
        const unsigned char b[2] = {uint8_t(v), uint8_t(v >> 8)};
        std::fwrite(b, 1, 2, f);
    };
    std::fwrite("RIFF", 1, 4, f);
    u32(36 + dataBytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(1);
    u16(uint16_t(channels));
    u32(uint32_t(sampleRate));
    u32(uint32_t(sampleRate * channels * 2));
    u16(uint16_t(channels * 2));
    u16(16);
    std::fwrite("data", 1, 4, f);
    u32(dataBytes);
    // Samples are little-endian on every platform this builds for.
    const size_t written = std::fwrite(pcm.data(), 2, pcm.size(), f);
    return std::fclose(f) == 0 && written == pcm.size();
}

} // namespace recog::testaudio
