#pragma once

#include "gdo.h"
#include "record_source.h"

#include <cstdint>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace recog {

// One file-info matched to one catalogue track.
struct TrackMatch {
    int64_t trackId = 0;
    std::string ident;
};

// Turns catalogue records (local or sent by a lookup service) into response data objects: an album
// with its title, artist, external IDs and one matched-track child per match.
class ResultBuilder {
public:
    explicit ResultBuilder(RecordSource &records)
        : cat_(records) {}

    // Null when the album is no longer in the catalogue.
    std::shared_ptr<GdoNode> album(int64_t albumId, const std::vector<TrackMatch> &matches);
    // A response holding the given albums in order.
    static std::shared_ptr<GdoNode> response(const std::vector<std::shared_ptr<GdoNode>> &albums);

private:
    std::shared_ptr<const GdoNode> artist(int64_t contributorId, const std::string &fallbackName);
    std::shared_ptr<const GdoNode> track(const TrackRecord &t, const std::string &ident);

    RecordSource &cat_;
    std::map<int64_t, std::shared_ptr<const GdoNode>> artists_;
};

} // namespace recog
