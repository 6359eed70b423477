#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace recog {

struct ExternalId {
    std::string type;
    std::string source;
    std::string value;
};

struct ContributorRecord {
    int64_t id = 0;
    std::string gnuid;
    std::string name;
    std::array<std::string, 3> era;
    std::array<std::string, 4> origin;
};

struct AlbumRecord {
    int64_t id = 0;
    std::string gnid;
    std::string title;
    std::string artist;
    std::string label;
    std::array<std::string, 3> genre;
    int64_t contributorId = 0;
    std::vector<ExternalId> externalIds;
};

struct TrackRecord {
    int64_t id = 0;
    std::string gnid;
    std::string tui;
    std::string tuiTag;
    std::string title;
    std::string artist;
    int trackNumber = 0;
    std::array<std::string, 2> mood;
    std::array<std::string, 3> tempo;
    std::array<std::string, 3> genre;
    int64_t albumId = 0;
    int64_t contributorId = 0;
    double duration = 0;
    std::string source;
    std::vector<ExternalId> externalIds;
};

} // namespace recog
