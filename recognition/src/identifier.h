#pragma once

#include "catalog.h"
#include "engine_config.h"
#include "engine_log.h"
#include "matcher.h"

#include <memory>
#include <string>
#include <vector>

namespace recog {

// What a file-info tells about its file.
struct FileClues {
    std::string ident;
    std::vector<uint32_t> fingerprint;
    double seconds = 0; // audio behind the fingerprint
    // The mono 11,025 Hz audio behind it, for trying other speeds; may be null.
    std::shared_ptr<const std::vector<int16_t>> signal;
    std::string albumArtist;
    std::string albumTitle;
    std::string trackTitle;
    std::string trackNumber;
    std::string tui;
    std::string tuiTag;
};

enum class MatchMethod { Fingerprint, Text, Identifier };

struct Identification {
    int64_t trackId = 0;
    int64_t albumId = 0;
    double score = 0; // bit-error rate for fingerprints, 0 otherwise
    MatchMethod method = MatchMethod::Fingerprint;
};

// Decides which catalogue tracks a file-info is: by TUI and tag when given,
// else by fingerprint, else by its text values. Close fingerprint scores are
// settled by the text values, and the engine log says so.
class Identifier {
public:
    Identifier(Catalog &catalog, const EngineConfig &config, EngineLog &log)
        : cat_(catalog)
        , config_(config)
        , log_(log)
        , matcher_(catalog, config.match) {}

    // Best first; at most `limit` results. With `trySpeeds`, a fingerprint
    // that matches nothing at its own speed and has no signal behind it
    // gives no results and sets *trySpeeds instead of falling back on the
    // tags: the caller holds the signal and tries the other speeds itself.
    std::vector<Identification> identify(const FileClues &clues, size_t limit,
                                         bool *trySpeeds = nullptr);

    // How many of the file's text values agree with the track's (0 to 4).
    int textAgreement(const FileClues &clues, const TrackRecord &track);

private:
    std::vector<Identification> byFingerprint(const FileClues &clues, size_t limit,
                                              bool *trySpeeds);
    std::vector<Identification> byText(const FileClues &clues, size_t limit);

    Catalog &cat_;
    const EngineConfig &config_;
    EngineLog &log_;
    Matcher matcher_;
};

} // namespace recog
