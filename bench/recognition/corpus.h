#pragma once

#include <string>
#include <vector>

namespace recog::bench {

// The generated benchmark corpus: catalogue songs (tagged FLAC) with untagged
// distorted copies of each to query with, and songs kept out of the catalogue,
// with the same copies, that must match nothing.
struct Distortion {
    const char *name;
    const char *file; // output file name pattern suffix
    double speed = 0; // for speed changes: the copy runs this many times faster
};

const std::vector<Distortion> &distortions();

struct CorpusLayout {
    std::string root;
    int catalogueSongs = 200;
    int unknownSongs = 200;
    double seconds = 60;

    std::string catalogueFile(int i) const;
    std::string queryFile(bool known, int i, const Distortion &d) const;
};

// Generates what is missing (two songs at a time); prints progress. False
// when ffmpeg fails.
bool ensureCorpus(const CorpusLayout &layout);

} // namespace recog::bench
