#include "lookup_service.h"

#include "speed_search.h"

#include <algorithm>
#include <set>

namespace recog {

namespace {

// The records a result document of these tracks reads: the tracks, their
// albums, and the contributors of both.
void addRecords(Catalog &cat, LookupAnswer &a) {
    std::set<int64_t> tracks, albums, contributors;
    for (const Identification &id : a.found) {
        if (tracks.insert(id.trackId).second)
            if (auto t = cat.track(id.trackId)) {
                if (t->contributorId)
                    contributors.insert(t->contributorId);
                t->source.clear(); // a path on the server's disk
                a.tracks.push_back(std::move(*t));
            }
        if (albums.insert(id.albumId).second)
            if (auto al = cat.album(id.albumId)) {
                if (al->contributorId)
                    contributors.insert(al->contributorId);
                a.albums.push_back(std::move(*al));
            }
    }
    for (int64_t c : contributors)
        if (auto r = cat.contributor(c))
            a.contributors.push_back(std::move(*r));
}

} // namespace

LookupAnswer LookupService::answer(const LookupRequest &r) const {
    LookupAnswer a;
    if (!r.slices.empty()) {
        a.strongestSlice = strongestSlice(Matcher(*cat_, config_.match), r.slices);
        return a;
    }
    FileClues clues;
    clues.fingerprint = r.items;
    clues.seconds = r.seconds;
    clues.albumArtist = r.albumArtist;
    clues.albumTitle = r.albumTitle;
    clues.trackTitle = r.trackTitle;
    clues.trackNumber = r.trackNumber;
    clues.tui = r.tui;
    clues.tuiTag = r.tuiTag;
    // Lines name the file as "" so that the engine can put its own name first.
    EngineLog log;
    log.capture(&a.log);
    Identifier identifier(*cat_, config_, log);
    a.found = identifier.identify(clues, std::min<size_t>(r.limit, kLookupMaxLimit),
                                  r.otherSpeeds ? &a.trySpeeds : nullptr);
    log.capture(nullptr);
    addRecords(*cat_, a);
    return a;
}

} // namespace recog
