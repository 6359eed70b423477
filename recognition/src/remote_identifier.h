#pragma once

#include "engine_log.h"
#include "identifier.h"
#include "lookup_client.h"
#include "record_source.h"

#include <map>
#include <vector>

namespace recog {

// Identifies files through a lookup service, as Identifier does over a local
// catalogue: the service matches at the query's own speed; when that finds
// nothing, this side (which holds the signal) fingerprints slices at the
// trial speeds, the service names the strongest, and the whole query is
// matched again at that speed. Keeps the records of every answer for the
// result documents.
class RemoteIdentifier : public RecordSource {
public:
    RemoteIdentifier(LookupClient &client, EngineLog &log)
        : client_(client)
        , log_(log) {}

    // False when the service could not be asked or its answer was unusable.
    bool identify(const FileClues &clues, size_t limit, std::vector<Identification> &out,
                  LookupFailure &failure);

    std::optional<TrackRecord> track(int64_t id) override;
    std::optional<AlbumRecord> album(int64_t id) override;
    std::optional<ContributorRecord> contributor(int64_t id) override;

private:
    bool ask(const std::string &ident, const LookupRequest &request, LookupAnswer &answer,
             LookupFailure &failure);

    LookupClient &client_;
    EngineLog &log_;
    std::map<int64_t, TrackRecord> tracks_;
    std::map<int64_t, AlbumRecord> albums_;
    std::map<int64_t, ContributorRecord> contributors_;
};

} // namespace recog
