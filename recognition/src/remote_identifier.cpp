#include "remote_identifier.h"

#include "fingerprinter.h"
#include "speed_search.h"

#include <algorithm>

namespace recog {

namespace {

LookupRequest requestOf(const FileClues &clues, size_t limit) {
    LookupRequest r;
    r.items = clues.fingerprint;
    r.seconds = clues.seconds;
    r.albumArtist = clues.albumArtist;
    r.albumTitle = clues.albumTitle;
    r.trackTitle = clues.trackTitle;
    r.trackNumber = clues.trackNumber;
    r.tui = clues.tui;
    r.tuiTag = clues.tuiTag;
    r.limit = uint32_t(std::clamp<size_t>(limit, 1, kLookupMaxLimit));
    return r;
}

template <typename Record>
std::optional<Record> found(const std::map<int64_t, Record> &m, int64_t id) {
    const auto it = m.find(id);
    if (it == m.end())
        return std::nullopt;
    return it->second;
}

} // namespace

bool RemoteIdentifier::ask(const std::string &ident, const LookupRequest &request,
                           LookupAnswer &answer, LookupFailure &failure) {
    if (!client_.ask(request, answer, failure)) {
        log_.write(LogLevel::Error, ident + ": " + failure.text);
        return false;
    }
    for (const std::string &line : answer.log)
        log_.write(LogLevel::Info, ident + line);
    for (auto &t : answer.tracks)
        tracks_[t.id] = std::move(t);
    for (auto &a : answer.albums)
        albums_[a.id] = std::move(a);
    for (auto &c : answer.contributors)
        contributors_[c.id] = std::move(c);
    return true;
}

bool RemoteIdentifier::identify(const FileClues &clues, size_t limit,
                                std::vector<Identification> &out, LookupFailure &failure) {
    out.clear();
    LookupRequest request = requestOf(clues, limit);
    request.otherSpeeds = clues.signal && !clues.fingerprint.empty();
    LookupAnswer answer;
    if (!ask(clues.ident, request, answer, failure))
        return false;
    if (answer.trySpeeds && clues.signal) {
        const std::vector<int16_t> &signal = *clues.signal;
        LookupRequest slices;
        slices.slices = trialSlices(signal);
        if (!ask(clues.ident, slices, answer, failure))
            return false;
        const int best = answer.strongestSlice;
        if (best >= int(trialSpeeds().size())) {
            failure = {SDKMGRERR_InvalidFormat, "the lookup service named no trial speed"};
            return false;
        }
        // Nothing drawn at any speed: the tags are all that is left.
        LookupRequest last = requestOf(clues, limit);
        last.items.clear();
        const double speed = best >= 0 ? trialSpeeds()[size_t(best)] : 1.0;
        std::string error;
        if (best >= 0 && itemsAtSpeed(signal, speed, 0, last.items, error))
            last.seconds = double(signal.size()) / kFingerprintRate * speed;
        if (!ask(clues.ident, last, answer, failure))
            return false;
        if (!last.items.empty() && !answer.found.empty() &&
            answer.found.front().method == MatchMethod::Fingerprint)
            log_.write(LogLevel::Info, clues.ident + ": matched at " + speedText(speed) +
                                           " of the catalogue's speed");
    }
    out = std::move(answer.found);
    if (out.size() > limit)
        out.resize(limit);
    return true;
}

std::optional<TrackRecord> RemoteIdentifier::track(int64_t id) {
    return found(tracks_, id);
}
std::optional<AlbumRecord> RemoteIdentifier::album(int64_t id) {
    return found(albums_, id);
}
std::optional<ContributorRecord> RemoteIdentifier::contributor(int64_t id) {
    return found(contributors_, id);
}

} // namespace recog
