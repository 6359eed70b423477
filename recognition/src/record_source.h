#pragma once

#include "catalog_records.h"

#include <cstdint>
#include <optional>

namespace recog {

// Where result documents get their records: a catalogue, or the records a
// lookup service sent with its answer.
class RecordSource {
public:
    virtual ~RecordSource() = default;
    virtual std::optional<TrackRecord> track(int64_t id) = 0;
    virtual std::optional<AlbumRecord> album(int64_t id) = 0;
    virtual std::optional<ContributorRecord> contributor(int64_t id) = 0;
};

} // namespace recog
