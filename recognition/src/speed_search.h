#pragma once

#include "matcher.h"

#include <cstdint>
#include <string>
#include <vector>

namespace recog {

// Speeds (the recording's against the catalogue's: pitch and tempo together)
// tried for a query that matches nothing at its own speed: every half per
// cent to 2 %, every per cent to 4 %, and 25/24, a film of 24 frames a second
// shown at 25. The segmented rate follows the quarter per cent or so left
// between neighbours.
const std::vector<double> &trialSpeeds();

// Items of the mono 11,025 Hz `signal` (its first `seconds`, 0 for all) as
// the recording would give them played at the catalogue's speed, if it runs
// `speed` times that.
bool itemsAtSpeed(const std::vector<int16_t> &signal, double speed, double seconds,
                  std::vector<uint32_t> &items, std::string &error);

// The slices matchAtOtherSpeeds looks up: the signal's first seconds as
// items at each trial speed, in trialSpeeds() order (empty where none could
// be made).
std::vector<std::vector<uint32_t>> trialSlices(const std::vector<int16_t> &signal);

// Index of the first slice whose strongest candidate shares the most keys;
// -1 when none draws a candidate.
int strongestSlice(const Matcher &matcher, const std::vector<std::vector<uint32_t>> &slices);

struct SpeedOutcome {
    MatchOutcome match;
    double speed = 1.0; // the one matched at; 1.0 when no speed drew a candidate
};

// Fingerprints a slice of the signal at every trial speed and matches the
// whole signal, fully rescored, only at the speed whose slice drew the
// strongest candidate.
SpeedOutcome matchAtOtherSpeeds(const Matcher &matcher, const std::vector<int16_t> &signal);

// "+4.17 %" for 25/24.
std::string speedText(double speed);

} // namespace recog
