// The music-player API under /rest/: what its method handlers share.
#pragma once

#include "Library.h"
#include "ServerContext.h"
#include "SubsonicResponse.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace cloud::subsonic {

// The API's error codes.
enum Code {
    kGeneric = 0,
    kMissingParameter = 10,
    kWrongCredentials = 40,
    kAuthNotSupported = 42,
    kConflictingAuth = 43,
    kInvalidApiKey = 44,
    kNotAuthorised = 50,
    kNotFound = 70,
};

// One authenticated call of an API method.
struct Call {
    ServerContext &ctx;
    const http::Request &req;
    http::Response &res;
    User user;
    bool json = false;
    std::string callback; // f=jsonp

    // The first value of a parameter, nullopt when absent.
    std::optional<std::string> param(const std::string &name) const;
    std::vector<std::string> params(const std::string &name) const;
    // A boolean parameter as players send it: "true" in any case, or "1";
    // anything else is false, and `fallback` stands in when it is absent.
    bool flag(const std::string &name, bool fallback) const;
    std::int64_t userId() const { return user.id; }
};

void reply(Call &call, const Element &response);
void fail(Call &call, int code, const std::string &message);
// Answers the call from the worker pool: `work` runs there with a call that
// answers into the same response, while the connection waits. A full pool
// is answered with an error at once.
void offload(Call &call, WorkKind kind, std::function<void(Call &)> work);

// A required parameter; answers error 10 and returns nullopt when it is missing.
std::optional<std::string> required(Call &call, const std::string &name);
// A whole-number parameter within [min, max]; answers an error and returns
// nullopt when it is malformed.
std::optional<int> number(Call &call, const std::string &name, int fallback, int min, int max);
std::optional<std::int64_t> integer(Call &call, const std::string &name, std::int64_t fallback,
                                    std::int64_t min, std::int64_t max);
// IDs are two letters and 22 hex digits; anything else names nothing.
bool isWellFormedId(const std::string &id);

// The song, album, artist and playlist elements every list shares.
void describe(Element &e, const Song &s);
void describe(Element &e, const Album &a);
void describe(Element &e, const Artist &a);
void describe(Element &e, const Playlist &p, const User &owner);
// The folder-style shapes of the older methods: an album as a directory
// (getMusicDirectory, getAlbumList, search2, getStarred), an artist as an
// index entry (getIndexes, search2, getStarred).
void describeDirectory(Element &e, const Album &a);
void describeIndexEntry(Element &e, const Artist &a);
std::string isoTime(std::int64_t ms);

std::optional<Song> findSong(Call &call, const std::string &id);
// The song the "id" parameter names; nullopt, answered (10 or 70), otherwise.
std::optional<Song> requiredSong(Call &call);
std::optional<Album> findAlbum(Call &call, const std::string &id);
std::optional<Artist> findArtist(Call &call, const std::string &id);
// A song, album or artist of the caller's library.
bool isKnownItem(Call &call, const std::string &id);
// The library items behind song IDs, in their order (an ID may come again);
// nullopt, answered, when one is not the caller's or there are more than a
// playlist holds.
std::optional<std::vector<std::int64_t>> mediaIdsOf(Call &call,
                                                    const std::vector<std::string> &ids);
// The songs of library items in that order, as often as each comes; items
// no longer in the library are left out.
std::vector<Song> songsInOrder(Call &call, const std::vector<std::int64_t> &mediaIds);

// A player of the account says it began to play that library item.
void notePlaying(Call &call, std::int64_t mediaId);

using Method = void (*)(Call &);
using Methods = std::map<std::string, Method>;
void addSystemMethods(Methods &methods);
void addBrowsingMethods(Methods &methods);
void addListMethods(Methods &methods);
void addMediaMethods(Methods &methods);
void addPlaylistMethods(Methods &methods);
void addAnnotationMethods(Methods &methods);
void addListeningMethods(Methods &methods);
void addInfoMethods(Methods &methods);

struct AuthResult {
    std::optional<User> user;
    int code = kWrongCredentials;
    std::string message;
    int retryAfterSeconds = 0;
};
// Player passwords by token (t, s), in plain (p, also "enc:" hex) or as an API
// key; never the account's sign-in password.
AuthResult authenticate(ServerContext &ctx, const http::Request &req);

// One /rest/ request: req.matches[1] names the method (the route's capture).
// Answers every outcome in `res`; the route and the fuzz target call it.
void dispatch(ServerContext &ctx, const http::Request &req, http::Response &res);

} // namespace cloud::subsonic
