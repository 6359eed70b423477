#pragma once

#include "matcher.h"

#include <string>
#include <string_view>

namespace recog {

// The engine's initialisation data: UTF-8 lines of key=value; blank lines and
// lines starting with '#' are skipped. Keys:
//   catalog=PATH            the catalogue database; relative paths are taken
//                           from `baseFolder`
//   lookup=URL              or else a lookup service (https://, or http:// to
//                           a loopback address) that holds the catalogue
//   ca_file=PATH            certificates trusted for the lookup besides the
//                           system's (PEM)
//   timeout_ms=N            a lookup that takes longer fails (10000)
//   client_id=, client_tag= accept only users of these credentials (optional)
//   accept_ber=, short_accept_ber=, max_offset=, max_candidates=,
//   min_seconds=            matcher settings (see MatchParams)
//   tie_margin=             scores closer than this are decided by the tags
//   trackid_results=        candidates per file for track identification
struct EngineConfig {
    std::string catalogPath;
    std::string lookupUrl;
    std::string caFile;
    long timeoutMs = 10000;
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
// An https:// address, or an http:// one whose host is a loopback address
// (credentials travel in the request: in clear only within the computer).
bool validLookupUrl(std::string_view url);
bool validClientTag(std::string_view tag);

} // namespace recog
