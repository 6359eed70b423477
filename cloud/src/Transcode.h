// Lower bit rates for players on slow networks: a stored song decoded and
// encoded again as MP3 or Opus, in this process, a piece at a time, so the
// answer streams while it is being made.
#pragma once

#include "Http.h"
#include "objects/ObjectStore.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace cloud {

enum class TranscodeFormat { Mp3, Opus };

struct TranscodeTarget {
    TranscodeFormat format = TranscodeFormat::Mp3;
    int bitRateKbps = 128;
};

inline constexpr int kLowestTranscodeKbps = 32;
inline constexpr int kHighestTranscodeKbps = 320;

// What a stream request asks for, given the song's own bit rate and suffix:
// nullopt sends the stored file as it is. `format` is the request's "format"
// ("mp3", "opus", "raw" or empty), `maxBitRateKbps` its "maxBitRate" (0: no limit).
std::optional<TranscodeTarget> chooseTranscode(const std::string &format, int maxBitRateKbps,
                                               int songKbps, const std::string &songSuffix);

const char *contentTypeOf(TranscodeFormat format);

// A transcoded stream whose length a player asks to be told
// (estimateContentLength): `seconds` of audio at the target's constant rate
// (and, for Opus, the Ogg pages around it) are said to take this many bytes,
// and byte `offset` of it stands for that many seconds in; the stream is
// then made exactly that long.
std::uint64_t estimatedLength(double seconds, const TranscodeTarget &target);
double secondsAt(std::uint64_t offset, const TranscodeTarget &target);
const char *suffixOf(TranscodeFormat format);

// Encodes one file from `startSeconds` on. read() gives the next bytes of the
// encoded stream; each call does a bounded piece of work.
class Transcoder : public http::BodyStream {
public:
    // nullptr when the file cannot be decoded or the encoder is missing.
    static std::unique_ptr<Transcoder> open(std::unique_ptr<objects::ObjectReader> reader,
                                            const TranscodeTarget &target, double startSeconds = 0);
    ~Transcoder() override;
    Transcoder(const Transcoder &) = delete;
    Transcoder &operator=(const Transcoder &) = delete;

    // Copies up to `max` bytes into `out`; 0 once the stream has ended, -1 on failure.
    long read(char *out, std::size_t max) override;
    // Seconds of audio encoded so far.
    double producedSeconds() const;

    struct State;

private:
    explicit Transcoder(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

} // namespace cloud
