#pragma once

#include "catalog_records.h"
#include "identifier.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace recog {

// What the engine sends the lookup service for one file. Fingerprint items
// travel as base64 of their little-endian bytes; the file's path never
// leaves the computer.
struct LookupRequest {
    std::vector<uint32_t> items;
    double seconds = 0;
    std::string albumArtist;
    std::string albumTitle;
    std::string trackTitle;
    std::string trackNumber;
    std::string tui;
    std::string tuiTag;
    uint32_t limit = 1;
    // The engine holds the signal: when nothing matches at the query's own
    // speed, answer trySpeeds rather than falling back on the tags.
    bool otherSpeeds = false;
    // When given, only which of these slices (one per trial speed) draws the
    // strongest candidate is asked.
    std::vector<std::vector<uint32_t>> slices;
};

struct LookupAnswer {
    std::vector<Identification> found;
    // The records the found tracks need for a result document.
    std::vector<TrackRecord> tracks;
    std::vector<AlbumRecord> albums;
    std::vector<ContributorRecord> contributors;
    bool trySpeeds = false;
    int strongestSlice = -1; // index into the request's slices; -1: none drew a candidate
    // Engine log lines of the identification, each to follow the file's name.
    std::vector<std::string> log;
};

// Bounds of a request, so that a hostile body costs little to refuse.
constexpr size_t kLookupMaxBody = 256 * 1024;
constexpr size_t kLookupMaxItems = 4096; // 8 minutes of items; queries hold 2 at most
constexpr size_t kLookupMaxSlices = 32;
constexpr size_t kLookupMaxText = 1024;
constexpr uint32_t kLookupMaxLimit = 100;

std::string encodeRequest(const LookupRequest &request);
// False with a reason for anything malformed or out of bounds.
bool decodeRequest(std::string_view body, LookupRequest &out, std::string &error);
std::string encodeAnswer(const LookupAnswer &answer);
bool decodeAnswer(std::string_view body, LookupAnswer &out, std::string &error);

// Base64 (standard alphabet, padded) of items as little-endian bytes.
std::string itemsToBase64(const std::vector<uint32_t> &items);
bool itemsFromBase64(std::string_view text, std::vector<uint32_t> &out);

} // namespace recog
