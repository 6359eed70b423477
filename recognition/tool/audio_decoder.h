#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace recog {

// Decoded audio: interleaved signed 16-bit PCM at the stream's own rate.
struct DecodedAudio {
    int sampleRate = 0;
    int channels = 0; // 1 or 2
    std::vector<int16_t> pcm;
    double durationSeconds = 0;              // of the whole stream, when known
    std::map<std::string, std::string> tags; // lower-case keys
    size_t frames() const { return channels ? pcm.size() / size_t(channels) : 0; }
};

// Decodes the best audio stream of a file from its start: at most
// `maxSeconds` of sound after leading near-silence, reduced to at most two
// channels. False with a reason when the file cannot be read or holds no
// sound.
bool decodeAudioFile(const std::string &path, double maxSeconds, DecodedAudio &out,
                     std::string &error);

} // namespace recog
