#include "speed_search.h"

#include "fingerprinter.h"

#include <cmath>
#include <cstdio>

namespace recog {

namespace {
// Long enough for a candidate to stand out, short enough that a dozen tries
// cost about as much as one fingerprint of a whole query.
constexpr double kSliceSeconds = 15.0;
} // namespace

const std::vector<double> &trialSpeeds() {
    static const std::vector<double> speeds = {0.995, 1.005, 0.99, 1.01, 0.985, 1.015,      0.98,
                                               1.02,  0.97,  1.03, 0.96, 1.04,  25.0 / 24.0};
    return speeds;
}

bool itemsAtSpeed(const std::vector<int16_t> &signal, double speed, double seconds,
                  std::vector<uint32_t> &items, std::string &error) {
    // Samples of a recording running `speed` times too fast each stand for
    // `speed` samples' worth of the original: taken at this lower rate and
    // resampled they become the original's.
    const int rate = int(std::lround(kFingerprintRate / speed));
    size_t frames = signal.size();
    if (seconds > 0)
        frames = std::min(frames, size_t(seconds * kFingerprintRate));
    double used = 0;
    return Fingerprinter::compute(signal.data(), frames, rate, 1, 0, items, used, error);
}

std::vector<std::vector<uint32_t>> trialSlices(const std::vector<int16_t> &signal) {
    std::vector<std::vector<uint32_t>> slices;
    std::string error;
    for (double speed : trialSpeeds()) {
        slices.emplace_back();
        if (!itemsAtSpeed(signal, speed, kSliceSeconds, slices.back(), error))
            slices.back().clear();
    }
    return slices;
}

int strongestSlice(const Matcher &matcher, const std::vector<std::vector<uint32_t>> &slices) {
    int best = -1;
    uint32_t strongest = 0;
    for (size_t i = 0; i < slices.size(); ++i) {
        const uint32_t shared = matcher.strongestCandidate(slices[i]);
        if (shared > strongest) {
            strongest = shared;
            best = int(i);
        }
    }
    return best;
}

SpeedOutcome matchAtOtherSpeeds(const Matcher &matcher, const std::vector<int16_t> &signal) {
    SpeedOutcome out;
    const double seconds = double(signal.size()) / kFingerprintRate;
    if (seconds < matcher.params().minSeconds)
        return out;
    const int best = strongestSlice(matcher, trialSlices(signal));
    std::vector<uint32_t> items;
    std::string error;
    if (best < 0 || !itemsAtSpeed(signal, trialSpeeds()[size_t(best)], 0, items, error))
        return out;
    const double speed = trialSpeeds()[size_t(best)];
    // The recording's seconds are the catalogue's seconds times the speed.
    out.match = matcher.match(items, seconds * speed);
    out.speed = speed;
    return out;
}

std::string speedText(double speed) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%+.2f %%", (speed - 1.0) * 100.0);
    return buf;
}

} // namespace recog
