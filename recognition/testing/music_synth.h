#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace recog::testaudio {

// A short piece of generated music: a key, a mode, a tempo, a chord
// progression, a melody, a bass line and drums, all drawn from the seed.
// Two seeds give recognisably different recordings; one seed always gives
// the same samples.
struct SongSpec {
    uint32_t seed = 1;
    double seconds = 30.0;
    int sampleRate = 44100;
};

// Interleaved stereo signed 16-bit PCM.
std::vector<int16_t> synthesizeSong(const SongSpec &recipe);

// Writes PCM as a RIFF WAVE file; false when the file cannot be written.
bool writeWav(const std::string &path, const std::vector<int16_t> &pcm, int sampleRate,
              int channels);

} // namespace recog::testaudio
