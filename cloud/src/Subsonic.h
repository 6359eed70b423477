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
// IDs are two letters and 22 hex digits; anything else names nothing.
bool isWellFormedId(const std::string &id);

// The song, album, artist and playlist elements every list shares.
void describe(Element &e, const Song &s);
void describe(Element &e, const Album &a);
void describe(Element &e, const Artist &a);
void describe(Element &e, const Playlist &p, const User &owner);
std::string isoTime(std::int64_t ms);

std::optional<Song> findSong(Call &call, const std::string &id);

using Method = void (*)(Call &);
using Methods = std::map<std::string, Method>;
void addSystemMethods(Methods &methods);
void addBrowsingMethods(Methods &methods);
void addListMethods(Methods &methods);
void addMediaMethods(Methods &methods);
void addPlaylistMethods(Methods &methods);
void addAnnotationMethods(Methods &methods);

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
