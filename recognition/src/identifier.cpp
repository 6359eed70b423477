#include "identifier.h"

#include "speed_search.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace recog {

namespace {

std::string formatRate(double v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

int trackNumberOf(const std::string &text) {
    // Tags often say "3/12".
    return std::atoi(text.c_str());
}

} // namespace

int Identifier::textAgreement(const FileClues &clues, const TrackRecord &track) {
    int agree = 0;
    if (!clues.trackTitle.empty() && textKey(clues.trackTitle) == textKey(track.title))
        ++agree;
    if (!clues.trackNumber.empty() && trackNumberOf(clues.trackNumber) == track.trackNumber &&
        track.trackNumber > 0)
        ++agree;
    if (clues.albumTitle.empty() && clues.albumArtist.empty())
        return agree;
    if (const auto album = cat_.album(track.albumId)) {
        if (!clues.albumTitle.empty() && textKey(clues.albumTitle) == textKey(album->title))
            ++agree;
        const std::string artist = textKey(clues.albumArtist);
        if (!artist.empty() &&
            (artist == textKey(album->artist) || artist == textKey(track.artist)))
            ++agree;
    }
    return agree;
}

std::vector<Identification> Identifier::byFingerprint(const FileClues &clues, size_t limit,
                                                      bool *trySpeeds) {
    std::vector<Identification> out;
    if (clues.fingerprint.empty())
        return out;
    MatchOutcome m = matcher_.match(clues.fingerprint, clues.seconds);
    if (!m.refusal.empty()) {
        log_.write(LogLevel::Info, clues.ident + ": " + m.refusal);
        return out;
    }
    if (!m.anyAccepted() && clues.signal) {
        // A turntable, a tape or a film transfer may run the whole recording
        // a little fast or slow.
        SpeedOutcome other = matchAtOtherSpeeds(matcher_, *clues.signal);
        if (other.match.anyAccepted()) {
            log_.write(LogLevel::Info, clues.ident + ": matched at " + speedText(other.speed) +
                                           " of the catalogue's speed");
            m = std::move(other.match);
        }
    } else if (!m.anyAccepted() && trySpeeds) {
        *trySpeeds = true;
        return out;
    }
    std::vector<Candidate> accepted;
    for (const Candidate &c : m.candidates)
        if (c.accepted)
            accepted.push_back(c);
    log_.write(LogLevel::Debug, clues.ident + ": " + std::to_string(m.queryKeys) + " keys, " +
                                    std::to_string(m.candidates.size()) + " candidates, " +
                                    std::to_string(accepted.size()) + " accepted");
    if (accepted.size() >= 2 && accepted[1].score - accepted[0].score <= config_.tieMargin) {
        // Two recordings this close are usually the same one released twice;
        // the file's own tags say which release it is.
        std::vector<std::pair<int, size_t>> agreement;
        for (size_t i = 0; i < accepted.size(); ++i) {
            if (accepted[i].score - accepted[0].score > config_.tieMargin)
                break;
            const auto t = cat_.track(accepted[i].trackId);
            agreement.emplace_back(t ? textAgreement(clues, *t) : 0, i);
        }
        const auto best =
            std::max_element(agreement.begin(), agreement.end(),
                             [](const auto &a, const auto &b) { return a.first < b.first; });
        if (best->second != 0 && best->first > agreement.front().first) {
            const Candidate chosen = accepted[best->second];
            log_.write(LogLevel::Info, clues.ident + ": track " + std::to_string(chosen.trackId) +
                                           " (" + formatRate(chosen.score) +
                                           ") preferred over track " +
                                           std::to_string(accepted[0].trackId) + " (" +
                                           formatRate(accepted[0].score) +
                                           ") because its titles agree with the file's tags");
            accepted.erase(accepted.begin() + long(best->second));
            accepted.insert(accepted.begin(), chosen);
        }
    }
    for (const Candidate &c : accepted) {
        if (out.size() >= limit)
            break;
        const auto t = cat_.track(c.trackId);
        if (t)
            out.push_back({c.trackId, t->albumId, c.score, MatchMethod::Fingerprint});
    }
    return out;
}

std::vector<Identification> Identifier::byText(const FileClues &clues, size_t limit) {
    std::vector<Identification> out;
    if (clues.trackTitle.empty() || (clues.albumArtist.empty() && clues.albumTitle.empty()))
        return out;
    std::vector<std::pair<int, TrackRecord>> found;
    for (int64_t id : cat_.tracksByTitleKey(textKey(clues.trackTitle))) {
        const auto t = cat_.track(id);
        // The title alone is too weak: the artist or the album must agree too.
        if (!t)
            continue;
        FileClues titleless = clues;
        titleless.trackTitle.clear();
        titleless.trackNumber.clear();
        if (textAgreement(titleless, *t) == 0)
            continue;
        found.emplace_back(textAgreement(clues, *t), *t);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto &a, const auto &b) { return a.first > b.first; });
    for (const auto &[agree, t] : found) {
        if (out.size() >= limit)
            break;
        out.push_back({t.id, t.albumId, 0.0, MatchMethod::Text});
    }
    if (!out.empty())
        log_.write(LogLevel::Info, clues.ident + ": identified by its tags");
    return out;
}

std::vector<Identification> Identifier::identify(const FileClues &clues, size_t limit,
                                                 bool *trySpeeds) {
    if (!clues.tui.empty() || !clues.tuiTag.empty()) {
        if (const auto t = cat_.trackByTui(clues.tui, clues.tuiTag))
            return {{t->id, t->albumId, 0.0, MatchMethod::Identifier}};
        log_.write(LogLevel::Info, clues.ident + ": unknown TUI");
        return {};
    }
    auto out = byFingerprint(clues, limit, trySpeeds);
    if (trySpeeds && *trySpeeds)
        return out;
    if (out.empty())
        out = byText(clues, limit);
    if (out.empty())
        log_.write(LogLevel::Info, clues.ident + ": no match");
    return out;
}

} // namespace recog
