#pragma once

#include "catalog.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace recog {

class Transaction;

// What the catalogue tool knows of a track before it is added.
struct NewTrack {
    std::string title;
    std::string artist; // the track's own artist
    std::string album;
    std::string albumArtist; // empty: the track artist
    std::string label;
    std::string genre; // album genre, level 1
    int trackNumber = 0;
    double duration = 0;
    std::string source;
    std::vector<uint32_t> fingerprint;
};

// Adds tracks to a catalogue opened for writing. Identifiers are derived from
// the normalised names, so that rebuilding a catalogue from the same files
// gives every track, album and contributor the same identifiers again.
class CatalogWriter {
public:
    explicit CatalogWriter(Catalog &catalog)
        : cat_(catalog) {}

    // One track in its own transaction. Refused (with a reason) when the
    // fingerprint is empty or the same album already holds this track.
    std::optional<TrackRecord> addTrack(const NewTrack &track, std::string &error);

    // Many tracks in one transaction, the index rewritten once at the end;
    // `progress` is called after each track with (done, total). Every change
    // rewrites the whole index, so large catalogues are built with this.
    bool addTracks(const std::vector<NewTrack> &tracks,
                   const std::function<void(size_t, size_t)> &progress, std::string &error);

private:
    std::optional<TrackRecord> insertTrack(const NewTrack &track, std::string &error);
    int64_t contributorFor(const std::string &name, std::string &error);
    int64_t albumFor(const NewTrack &track, int64_t contributorId, std::string &error);
    // Writes the index with the tracks already there and `added` (items of
    // consecutive new ids from `firstId`), then commits the database.
    bool commitWithIndex(Transaction &tx, uint32_t firstId,
                         const std::vector<std::vector<uint32_t>> &added, std::string &error);

    Catalog &cat_;
};

// Stable identifiers (exposed for tests).
std::string contributorGnuid(const std::string &nameKey);
std::string albumGnid(const std::string &albumKey);

} // namespace recog
