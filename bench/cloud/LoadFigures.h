// What the cloud benchmarks work out from what they measured, kept apart from
// the measuring so that the arithmetic can be checked on its own
// (LoadFiguresTest.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bench {

// The nearest-rank percentile `p` (0–100) of `values`; 0 when there are none.
double percentile(std::vector<double> values, double p);
double median(std::vector<double> values);

// How a set of latencies spread.
struct Spread {
    std::size_t count = 0;
    double median = 0;
    double p90 = 0;
    double p99 = 0;
    double worst = 0;
};
Spread spreadOf(const std::vector<double> &ms);

// From the text of /proc/PID/status: the peak resident size (VmHWM) in KiB,
// or -1 when the line is missing.
long peakResidentKiB(const std::string &statusText);

// From the text of /proc/PID/stat: the processor time used (user and system)
// in clock ticks, or -1 when the text cannot be read. The program's name in
// parentheses may hold spaces and parentheses itself.
long long processorTicks(const std::string &statText);

// What an answer of the player API was.
enum class Answer {
    Audio,          // a song, as stored or encoded again
    Image,          // a cover
    TooManyStreams, // the account or the server runs as many encodings as allowed
    Busy,           // the worker pool's queue is full
    Failed,         // anything else
};
Answer classify(int status, const std::string &contentType, const std::string &body);

// Bytes of an encoding at a constant bit rate that carry one second of audio.
inline double bytesPerAudioSecond(int kbps) {
    return kbps * 1000.0 / 8.0;
}

// A stream's bytes as they came: the time since the request (ms) and the
// bytes received in all by then.
struct Arrival {
    double ms = 0;
    std::uint64_t total = 0;
};

// When the stream had first delivered at least `bytes`; nullopt if it never did.
std::optional<double> msToReach(const std::vector<Arrival> &arrivals, std::uint64_t bytes);

// Seconds of audio that arrived per second between `fromMs` and `toMs`, for a
// stream of `kbps`. A paced stream comes in bursts (one encoded piece each)
// with pauses between them: the figure is the bytes of the bursts after the
// first, over the time from the first burst's start to the last one's, so
// that where the window cuts a pause does not matter. Bursts are arrivals
// less than `burstGapMs` apart. nullopt with fewer than two bursts.
std::optional<double> paceWithin(const std::vector<Arrival> &arrivals, double fromMs, double toMs,
                                 int kbps, double burstGapMs = 50);

// "32,128" as numbers; an empty list when any part is not a number of at
// least `least`.
std::vector<int> parseCounts(const std::string &text, int least = 1);

// Whether item `index` of a run belongs to a share of `percent` of the items
// picked evenly along it: of any 100 in a row, exactly `percent`.
bool inShare(std::size_t index, int percent);

// What `sonarbox-cloud gc` says it did.
struct GcCounts {
    long retiredItems = 0;
    long retiredFiles = 0;
    long removed = 0;   // stored objects that no record names
    long abandoned = 0; // unfinished uploads
    long young = 0;     // kept for being younger than the grace period
};
// From gc's output; nullopt when its report line is not there.
std::optional<GcCounts> parseGcReport(const std::string &output);

} // namespace bench
