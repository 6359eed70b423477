#include "matcher.h"

#include "index_keys.h"

#include <algorithm>
#include <cmath>

namespace recog {

double Matcher::thresholdFor(int overlap) const {
    const MatchParams &p = params_;
    if (overlap >= p.longOverlap)
        return p.acceptBer;
    if (overlap < p.shortOverlap)
        return 0.0;
    const double t = double(overlap - p.shortOverlap) / double(p.longOverlap - p.shortOverlap);
    return p.shortAcceptBer + t * (p.acceptBer - p.shortAcceptBer);
}

std::vector<std::pair<int64_t, uint32_t>> Matcher::candidates(const FingerprintIndex &index,
                                                              const std::vector<uint32_t> &keys,
                                                              bool floor) const {
    const int64_t tracks = std::max<int64_t>(index.maxTrackId(), 1);
    const size_t stopLength =
        std::max<size_t>(20, size_t(std::ceil(double(tracks) * params_.stopFraction)));
    std::vector<uint32_t> hits;
    hits.reserve(keys.size() * 8);
    for (uint32_t key : keys) {
        const size_t before = hits.size();
        index.postings(key, hits);
        if (hits.size() - before > stopLength)
            hits.resize(before);
    }
    std::sort(hits.begin(), hits.end());
    std::vector<std::pair<int64_t, uint32_t>> counted;
    for (size_t i = 0; i < hits.size();) {
        size_t j = i;
        while (j < hits.size() && hits[j] == hits[i])
            ++j;
        counted.emplace_back(int64_t(hits[i]), uint32_t(j - i));
        i = j;
    }
    std::sort(counted.begin(), counted.end(),
              [](const auto &a, const auto &b) { return a.second > b.second; });
    if (counted.empty() || !floor)
        return counted;
    const uint32_t least = std::max<uint32_t>(
        {3u, uint32_t((keys.size() + 19) / 20), uint32_t(std::ceil(counted.front().second * 0.1))});
    size_t keep = 0;
    while (keep < counted.size() && keep < params_.maxCandidates && counted[keep].second >= least)
        ++keep;
    counted.resize(keep);
    return counted;
}

Candidate Matcher::rescore(const std::vector<uint32_t> &query, int64_t trackId,
                           std::span<const uint32_t> reference) const {
    Candidate c;
    c.trackId = trackId;
    const Items q{query.data(), query.size()};
    const Items r{reference.data(), reference.size()};
    const int minOverlap =
        std::max(params_.shortOverlap / 2, int(std::min(query.size(), reference.size()) / 2));
    c.alignment = bestAlignment(q, r, params_.maxOffset, minOverlap);
    if (c.alignment.overlap == 0)
        return c;
    int covered = 0;
    c.segmented =
        segmentedBer(q, r, c.alignment.offset, params_.window, params_.windowSlack, covered);
    c.score = std::min(c.alignment.ber, c.segmented);
    c.threshold = thresholdFor(c.alignment.overlap);
    // Too short an overlap has no limit at all, not even for a perfect score.
    c.accepted = c.alignment.overlap >= params_.shortOverlap && c.score <= c.threshold;
    return c;
}

uint32_t Matcher::strongestCandidate(const std::vector<uint32_t> &items) const {
    const auto found = candidates(*cat_.index(), indexKeys(items));
    return found.empty() ? 0 : found.front().second;
}

MatchOutcome Matcher::match(const std::vector<uint32_t> &query, double seconds) const {
    MatchOutcome out;
    if (seconds < params_.minSeconds) {
        out.refusal = "query too short for a fingerprint match";
        return out;
    }
    const std::shared_ptr<const FingerprintIndex> index = cat_.index();
    const std::vector<uint32_t> keys = indexKeys(query);
    MatchOutcome found = rescoreAll(*index, query, candidates(*index, keys));
    found.queryKeys = keys.size();
    return found;
}

MatchOutcome Matcher::nearest(const std::vector<uint32_t> &query, size_t count) const {
    const std::shared_ptr<const FingerprintIndex> index = cat_.index();
    const std::vector<uint32_t> keys = indexKeys(query);
    auto tracks = candidates(*index, keys, false);
    tracks.resize(std::min(tracks.size(), count));
    MatchOutcome found = rescoreAll(*index, query, tracks);
    found.queryKeys = keys.size();
    return found;
}

MatchOutcome Matcher::rescoreAll(const FingerprintIndex &index, const std::vector<uint32_t> &query,
                                 const std::vector<std::pair<int64_t, uint32_t>> &tracks) const {
    MatchOutcome out;
    for (const auto &[trackId, shared] : tracks) {
        Candidate c = rescore(query, trackId, index.items(trackId));
        c.sharedKeys = shared;
        out.candidates.push_back(c);
    }
    std::stable_sort(out.candidates.begin(), out.candidates.end(),
                     [](const Candidate &a, const Candidate &b) { return a.score < b.score; });
    return out;
}

} // namespace recog
