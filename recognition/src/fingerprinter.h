#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace recog {

// Chromaprint's own analysis rate. Audio is brought to mono at this rate with
// libswresample before it reaches Chromaprint, whose internal resampler is far
// slower and yields the same values.
inline constexpr int kFingerprintRate = 11025;

// Seconds of audio below which a fingerprint is not considered complete.
inline constexpr double kMinimumSeconds = 10.0;

// Computes a raw Chromaprint fingerprint from interleaved signed 16-bit PCM.
// Audio may be fed in pieces; the result covers at most `maxSeconds` of it.
class Fingerprinter {
public:
    Fingerprinter();
    ~Fingerprinter();
    Fingerprinter(const Fingerprinter &) = delete;
    Fingerprinter &operator=(const Fingerprinter &) = delete;

    // Accepts 1 to 8 channels at 1 kHz to 768 kHz. Returns false with a
    // message for anything else or when the libraries refuse.
    bool start(int sampleRate, int channels, double maxSeconds, std::string &error);
    // `frames` frames of `channels` interleaved samples each.
    bool feed(const int16_t *pcm, size_t frames, std::string &error);
    bool finish(std::string &error);

    // Also keeps the mono 11,025 Hz signal the items are computed from (call
    // after start), so that a query can be fingerprinted again at other speeds.
    void keepSignal();
    std::vector<int16_t> takeSignal();

    int channels() const { return channels_; }
    const std::vector<uint32_t> &items() const { return items_; }
    // Seconds of source audio that went into the fingerprint.
    double seconds() const;
    bool complete() const { return seconds() >= kMinimumSeconds; }

    // One-shot convenience for a whole buffer.
    static bool compute(const int16_t *pcm, size_t frames, int sampleRate, int channels,
                        double maxSeconds, std::vector<uint32_t> &items, double &seconds,
                        std::string &error);

private:
    struct State;
    std::unique_ptr<State> state_;
    std::vector<uint32_t> items_;
    int channels_ = 0;
};

} // namespace recog
