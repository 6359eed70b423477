// What the music-player API shows of an account's library: songs with their
// tags, and the albums and artists derived from them. Every ID is opaque and
// keyed per account, so that it says nothing of other accounts or of counts.
#pragma once

#include "Store.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cloud {

struct Song {
    std::int64_t mediaId = 0;
    std::int64_t fileId = 0;
    std::string id;
    std::string albumId;
    std::string artistId;      // the song's own artist
    std::string albumArtistId; // the artist its album is listed under
    Tags tags;                 // title, artist, album and album artist always filled
    std::string path;          // display path: album artist/album/file name
    std::int64_t size = 0;
    std::int64_t createdMs = 0;
    int playCount = 0;
    std::int64_t playedMs = 0;
    std::int64_t starredMs = 0; // 0: not starred
    int rating = 0;             // the account's, 1 to 5; 0: none
};

struct Album {
    std::string id;
    std::string name;
    std::string artist;
    std::string artistId;
    int songCount = 0;
    std::int64_t durationMs = 0;
    int year = 0;
    std::string genre;
    std::int64_t createdMs = 0;
    std::string coverSongId; // a song of the album with an embedded picture, or empty
    int playCount = 0;
    std::int64_t playedMs = 0;
    std::int64_t starredMs = 0;
    int rating = 0;
};

struct Artist {
    std::string id;
    std::string name;
    int albumCount = 0;
    std::string coverSongId;
    std::int64_t starredMs = 0;
    int rating = 0;
};

struct Genre {
    std::string name;
    int songCount = 0;
    int albumCount = 0;
};

struct SongQuery {
    std::string id;
    std::vector<std::int64_t> mediaIds; // any of these library items
    std::string albumId;
    std::string genre;
    std::string text; // matched against title, artist and album
    std::optional<int> fromYear;
    std::optional<int> toYear;
    std::string artist; // by or with this artist (by name, either case)
    bool starredOnly = false;
    bool random = false;
    bool addedOrder = false; // in the order they joined the library (else by album)
    bool mostPlayed = false; // the most played first
    int limit = 500;
    int offset = 0;
};

enum class AlbumOrder {
    Random,
    Newest,
    Frequent,
    Recent,
    ByName,
    ByArtist,
    Starred,
    Highest, // the best rated
    ByYear,
    ByGenre
};

struct AlbumQuery {
    AlbumOrder order = AlbumOrder::ByName;
    std::string id;
    std::string artistId;
    std::string songArtistId; // albums holding a song of this (song) artist
    std::string text;
    std::string genre;
    int fromYear = 0;
    int toYear = 0;
    int limit = 500;
    int offset = 0;
};

struct ArtistQuery {
    std::string id;
    std::string text;
    bool starredOnly = false;
    int limit = 100000;
    int offset = 0;
};

struct Playlist {
    std::int64_t rowId = 0;
    std::string id;
    std::string name;
    std::string comment;
    bool isPublic = false;
    std::int64_t createdMs = 0;
    std::int64_t changedMs = 0;
    int songCount = 0;
    std::int64_t durationMs = 0;
    std::vector<std::int64_t> mediaIds; // in order (filled by findPlaylist)
};

struct PlayerPassword {
    std::int64_t id = 0;
    std::int64_t userId = 0;
    std::string name;
    std::string keyId;  // public half of an API key
    std::string sealed; // the password, encrypted (PlayerSecrets)
    std::int64_t createdMs = 0;
    std::int64_t lastUsedMs = 0; // 0: never
};

// Where a person left off, saved by one player for any other to take up.
struct PlayQueue {
    std::vector<std::int64_t> mediaIds; // in order
    std::int64_t currentMediaId = 0;    // 0: none
    std::int64_t positionMs = 0;        // in the current song
    std::int64_t changedMs = 0;
    std::string changedBy; // the player's name
};

// A place in a long song (an audio book, a mix) to come back to.
struct Bookmark {
    std::int64_t mediaId = 0;
    std::int64_t positionMs = 0;
    std::string comment;
    std::int64_t createdMs = 0;
    std::int64_t changedMs = 0;
};

// What one of the account's players said it began to play.
struct NowPlaying {
    std::int64_t mediaId = 0;
    std::string player;
    std::int64_t startedMs = 0;
};

} // namespace cloud
