#pragma once

#include "bit_error.h"
#include "catalog.h"

#include <cstdint>
#include <string>
#include <vector>

namespace recog {

struct MatchParams {
    double acceptBer = 0.20;      // accept at or below this with a long overlap
    double shortAcceptBer = 0.14; // ... and at or below this with the shortest one
    int longOverlap = 256;        // items (about 32 s) from which acceptBer holds
    int shortOverlap = 80;        // items (about 10 s): the shortest usable overlap
    int maxOffset = 120;          // items searched either way (about 15 s)
    int window = 64;              // items per segment of the segmented rate
    int windowSlack = 4;          // items a segment may move against the previous one
    size_t maxCandidates = 16;    // candidates rescored
    double minSeconds = 10.0;     // shorter queries are refused
    double stopFraction = 0.05;   // keys in more than this share of tracks are skipped
};

struct Candidate {
    int64_t trackId = 0;
    uint32_t sharedKeys = 0;
    Alignment alignment;    // best single offset
    double segmented = 1.0; // segmented rate
    double score = 1.0;     // the lower of the two
    double threshold = 0;   // acceptance limit for this overlap
    bool accepted = false;
};

struct MatchOutcome {
    size_t queryKeys = 0;
    std::vector<Candidate> candidates; // rescored, best (lowest score) first
    std::string refusal;               // why nothing was looked up, if so
    bool anyAccepted() const { return !candidates.empty() && candidates.front().accepted; }
};

// Finds catalogue tracks for a query fingerprint: candidates that share
// enough index keys with it, rescored by bit-error rate at their best
// alignment and by the drift-tolerant segmented rate.
class Matcher {
public:
    Matcher(Catalog &catalog, MatchParams params)
        : cat_(catalog)
        , params_(params) {}

    MatchOutcome match(const std::vector<uint32_t> &query, double seconds) const;
    // Scores one candidate against the query (also used by the catalogue tool).
    Candidate rescore(const std::vector<uint32_t> &query, int64_t trackId,
                      std::span<const uint32_t> reference) const;
    double thresholdFor(int overlap) const;
    // The `count` tracks sharing the most keys with the query, rescored
    // whether or not they share enough to be candidates: how close the
    // nearest impostors of an unknown recording come.
    MatchOutcome nearest(const std::vector<uint32_t> &query, size_t count) const;
    // Index keys the best candidate of `items` shares with them, 0 when no
    // track shares enough to be a candidate: the cheap half of match().
    uint32_t strongestCandidate(const std::vector<uint32_t> &items) const;
    const MatchParams &params() const { return params_; }

private:
    // Tracks by shared keys, most first; with `floor` only those sharing
    // enough, at most maxCandidates.
    std::vector<std::pair<int64_t, uint32_t>> candidates(const FingerprintIndex &index,
                                                         const std::vector<uint32_t> &keys,
                                                         bool floor = true) const;
    MatchOutcome rescoreAll(const FingerprintIndex &index, const std::vector<uint32_t> &query,
                            const std::vector<std::pair<int64_t, uint32_t>> &tracks) const;

    Catalog &cat_;
    MatchParams params_;
};

} // namespace recog
