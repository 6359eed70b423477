#pragma once

#include "matcher.h"

#include <string>
#include <string_view>

namespace recog {

// The engine's initialisation data: UTF-8 lines of key=value; blank lines and
// lines starting with '#' are skipped. Keys:
//   catalog=PATH            the catalogue database (required); relative paths
//                           are taken from `baseFolder`
//   client_id=, client_tag= accept only users of these credentials (optional)
//   accept_ber=, short_accept_ber=, max_offset=, max_candidates=,
//   min_seconds=            matcher settings (see MatchParams)
//   tie_margin=             scores closer than this are decided by the tags
//   trackid_results=        candidates per file for track identification
struct EngineConfig {
    std::string catalogPath;
    std::string clientId;
    std::string clientTag;
    MatchParams match;
    double tieMargin = 0.03;
    int trackIdResults = 5;

    // False with a message naming the line for anything malformed.
    static bool parse(std::string_view data, const std::string &baseFolder, EngineConfig &out,
                      std::string &error);
};

bool validClientId(std::string_view id);
bool validClientTag(std::string_view tag);

} // namespace recog
