// Authentication of the music-player API. Player passwords and keys are
// random, far beyond guessing, and many devices of one account (or of one
// household, behind one address) use them at once: a valid one is always let
// in, whatever others failed. Failures are counted per name or key and
// address, and per address, which slows guessing without letting a forgotten
// device, or anyone who knows the e-mail address, lock the account's players out.
#include "Crypto.h"
#include "PlayerSecrets.h"
#include "Subsonic.h"
#include "WebSession.h"

#include <algorithm>
#include <cctype>

namespace cloud::subsonic {

namespace {

std::optional<std::string> param(const http::Request &req, const char *name) {
    const auto it = req.params.find(name);
    if (it == req.params.end())
        return std::nullopt;
    return it->second;
}

std::string lower(std::string s) {
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

AuthResult refusal(int code, std::string message, int retryAfter = 0) {
    AuthResult r;
    r.code = code;
    r.message = std::move(message);
    r.retryAfterSeconds = retryAfter;
    return r;
}

AuthResult throttled(int code, int wait) {
    return refusal(
        code, "too many failed attempts: try again in " + std::to_string(wait) + " seconds", wait);
}

// A refused credential: counted against what it named from this address,
// unless that is already waiting out earlier failures.
AuthResult refused(ServerContext &ctx, const http::Request &req, const std::string &named, int code,
                   const std::string &message) {
    const std::string who = named + "@" + req.limitKey;
    if (const int wait = ctx.playerThrottle->waitSeconds(who, req.limitKey); wait > 0)
        return throttled(code, wait);
    ctx.playerThrottle->failed(who, req.limitKey);
    return refusal(code, message);
}

// A password's last use is shown to its owner to the minute: a player calling
// many times a minute writes it once.
constexpr std::int64_t kLastUseResolutionMs = 60 * 1000;

AuthResult accepted(ServerContext &ctx, const http::Request &req, const std::string &named,
                    const PlayerPassword &used, std::optional<User> user) {
    ctx.playerThrottle->succeeded(named + "@" + req.limitKey);
    if (const std::int64_t now = nowMs(); now - used.lastUsedMs >= kLastUseResolutionMs)
        ctx.store.setPlayerPasswordUsed(used.id, now);
    AuthResult ok;
    ok.user = std::move(user);
    return ok;
}

AuthResult byApiKey(ServerContext &ctx, const http::Request &req, const std::string &key) {
    // A key is counted by its public half: a failed key names which it tried.
    const std::string keyId = key.substr(0, std::min(key.size(), kKeyIdLength));
    const std::string named = "api-key:" + keyId;
    std::optional<User> user;
    std::optional<PlayerPassword> record;
    if (key.size() == kKeyIdLength + kPlayerPasswordLength) {
        record = ctx.store.findPlayerPasswordByKey(keyId);
        if (record) {
            const auto password = ctx.playerSecrets.open(record->sealed, record->userId);
            if (password && crypto::equalConstantTime(*password, key.substr(kKeyIdLength)))
                user = ctx.store.findUser(record->userId);
        }
    }
    if (!user)
        return refused(ctx, req, named, kInvalidApiKey, "invalid API key");
    return accepted(ctx, req, named, *record, std::move(user));
}

// The web player calls the API with its session cookie. Its answers are for
// the player's own scripts only: never as JSONP, which any site could load as
// a script, and never for a request another origin started (the API answers
// every origin, for players that run in a browser with their own credentials).
AuthResult byWebSession(ServerContext &ctx, const http::Request &req) {
    if (req.param("f") == "jsonp" || isCrossOriginRequest(ctx, req))
        return refusal(kNotAuthorised, "the web session serves the web player only");
    auto user = webSessionUser(ctx, req);
    if (!user)
        return refusal(kWrongCredentials, "the web session has ended: sign in again");
    AuthResult ok;
    ok.user = std::move(user);
    return ok;
}

} // namespace

AuthResult authenticate(ServerContext &ctx, const http::Request &req) {
    const auto apiKey = param(req, "apiKey");
    const auto username = param(req, "u");
    if (!apiKey && !username && !cookieValue(req, kWebSessionCookie).empty())
        return byWebSession(ctx, req);
    const auto token = param(req, "t");
    const auto salt = param(req, "s");
    const auto plain = param(req, "p");
    if (apiKey) {
        if (username || token || plain)
            return refusal(kConflictingAuth, "give either an API key or a user name, not both");
        return byApiKey(ctx, req, *apiKey);
    }
    if (!username)
        return refusal(kMissingParameter, "required parameter \"u\" is missing");
    if (token && plain)
        return refusal(kConflictingAuth, "give either a token or a password, not both");
    if (!plain && (!token || !salt))
        return refusal(kMissingParameter,
                       "required parameters \"t\" and \"s\" (or \"p\") are missing");
    if (username->size() > 256 || (salt && salt->size() > 256))
        return refusal(kWrongCredentials, "wrong username or password");

    std::optional<std::string> given;
    if (plain)
        given = plain->rfind("enc:", 0) == 0 ? crypto::fromHex(std::string_view(*plain).substr(4))
                                             : plain;
    const std::string wantedToken = token ? lower(*token) : std::string();

    auto user = ctx.store.findUserByEmail(*username);
    std::optional<PlayerPassword> matched;
    if (user) {
        for (auto &record : ctx.store.playerPasswords(user->id)) {
            const auto password = ctx.playerSecrets.open(record.sealed, user->id);
            if (!password)
                continue;
            if (given ? crypto::equalConstantTime(*password, *given)
                      : crypto::equalConstantTime(lower(crypto::md5HexUpper(*password + *salt)),
                                                  wantedToken)) {
                matched = std::move(record);
                break;
            }
        }
    }
    // A token is salted afresh by each request, so a failed one names no
    // password: it counts against the user name it came with.
    const std::string named = "user:" + *username;
    if (!matched)
        return refused(ctx, req, named, kWrongCredentials, "wrong username or password");
    return accepted(ctx, req, named, *matched, std::move(user));
}

} // namespace cloud::subsonic
