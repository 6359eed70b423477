// The web player at the server's address: its pages, and the small JSON API it
// signs in with and manages player passwords through. Browsing and playing go
// through the music-player API under /rest/, which takes the web session's
// cookie in place of a player's credentials.
#include "Crypto.h"
#include "PlayerSecrets.h"
#include "WebSession.h"

#include <strings.h>

namespace cloud {

namespace {

using http::Request;
using http::Response;

constexpr const char *kWebDevicePrefix = "web:";
// Long enough to carry a person through a month of listening; sign-out ends it at once.
constexpr int kWebSessionSeconds = 30 * 24 * 3600;
constexpr int kWebSessionsPerAccount = 20;

// Nothing the pages load comes from anywhere but this server, and no other
// site may frame them.
constexpr const char *kContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "media-src 'self'; connect-src 'self'; form-action 'self'; base-uri 'none'; "
    "frame-ancestors 'none'";

void securityHeaders(Response &res) {
    res.setHeader("Content-Security-Policy", kContentSecurityPolicy);
    res.setHeader("X-Content-Type-Options", "nosniff");
    res.setHeader("X-Frame-Options", "DENY");
    res.setHeader("Referrer-Policy", "no-referrer");
    res.setHeader("Cache-Control", "no-cache");
}

void sendApi(Response &res, int status, const json::Value &body) {
    sendJson(res, status, body);
    securityHeaders(res);
    res.setHeader("Cache-Control", "no-store");
}

void sendError(Response &res, int status, const std::string &text) {
    json::Value v;
    v.set("error", text);
    sendApi(res, status, v);
}

bool isSecure(const ServerContext &ctx) {
    return !ctx.config.tlsCertificate.empty() ||
           strncasecmp(ctx.config.publicUrl.c_str(), "https:", 6) == 0;
}

void setWebCookie(ServerContext &ctx, Response &res, const std::string &value, int maxAge) {
    res.setHeader("Set-Cookie", std::string(kWebSessionCookie) + "=" + value +
                                    "; Path=/; Max-Age=" + std::to_string(maxAge) +
                                    "; HttpOnly; SameSite=Strict" +
                                    (isSecure(ctx) ? "; Secure" : ""));
}

// The JSON API changes things only for the web player's own scripts: a form
// of another site can send neither this content type nor the cookie.
bool acceptable(const ServerContext &ctx, const Request &req, Response &res) {
    if (isCrossOriginRequest(ctx, req)) {
        sendError(res, 403, "requests from other sites are refused");
        return false;
    }
    if (req.method == "POST" &&
        strncasecmp(req.header("Content-Type").c_str(), "application/json", 16) != 0) {
        sendError(res, 415, "the body must be application/json");
        return false;
    }
    return true;
}

std::optional<json::Value> body(const Request &req, Response &res) {
    auto value = json::parse(req.body);
    if (!value || !value->isObject()) {
        sendError(res, 400, "the body must be a JSON object");
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> member(const json::Value &object, const char *key) {
    const json::Value *v = object.find(key);
    if (!v || !v->isString())
        return std::nullopt;
    return v->asString();
}

std::string trim(std::string s) {
    const auto first = s.find_first_not_of(" \t");
    const auto last = s.find_last_not_of(" \t");
    return first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
}

json::Value describeUser(const User &user) {
    json::Value v;
    v.set("email", user.email);
    v.set("firstName", user.firstName);
    v.set("lastName", user.lastName);
    return v;
}

void signIn(ServerContext &ctx, const Request &req, Response &res) {
    if (!acceptable(ctx, req, res))
        return;
    const auto args = body(req, res);
    if (!args)
        return;
    const auto email = member(*args, "email");
    const auto password = member(*args, "password");
    if (!email || !password || email->empty() || password->empty())
        return sendError(res, 400, "e-mail address and password are required");
    if (email->size() > 256 || password->size() > 1024)
        return sendError(res, 400, "the e-mail address or password is too long");
    const std::string account = trim(*email);
    // The same back-off as the desktop's sign-in: one guesser, one budget.
    if (const int wait = ctx.signInThrottle->waitSeconds(account, req.limitKey); wait > 0) {
        res.setHeader("Retry-After", std::to_string(wait));
        return sendError(res, 429,
                         "too many failed sign-ins: try again in " + std::to_string(wait) +
                             " seconds");
    }
    const auto user = ctx.store.findUserByEmail(account);
    if (!checkPassword(ctx, user, *password)) {
        ctx.signInThrottle->failed(account, req.limitKey);
        return sendError(res, 401, "wrong e-mail address or password");
    }
    ctx.signInThrottle->succeeded(account);
    if (user->password.iterations < ctx.config.pbkdf2Iterations)
        ctx.store.setPassword(user->id, PasswordHash::make(*password, ctx.config.pbkdf2Iterations));
    // A device ID per browser: a second browser's sign-in leaves the first signed in.
    const std::string session = ctx.store.createSession(
        user->id, kWebDevicePrefix + crypto::randomHex(8), kWebSessionSeconds);
    // Sign-ins without sign-outs do not pile up: the oldest browser gives way.
    ctx.store.keepNewestSessions(user->id, kWebDevicePrefix, kWebSessionsPerAccount);
    sendApi(res, 200, describeUser(*user));
    setWebCookie(ctx, res, session, kWebSessionSeconds);
}

void signOut(ServerContext &ctx, const Request &req, Response &res) {
    if (!acceptable(ctx, req, res))
        return;
    const std::string id = cookieValue(req, kWebSessionCookie);
    if (const auto session =
            id.empty() || id.size() > 128 ? std::nullopt : ctx.store.findSession(id);
        session && isWebSessionDevice(session->deviceId))
        ctx.store.deleteSession(id);
    sendApi(res, 200, json::Value(json::Object{}));
    setWebCookie(ctx, res, "", 0);
}

// The account of a JSON API call, or a 401 answer.
std::optional<User> signedIn(ServerContext &ctx, const Request &req, Response &res) {
    if (!acceptable(ctx, req, res))
        return std::nullopt;
    auto user = webSessionUser(ctx, req);
    if (!user)
        sendError(res, 401, "not signed in");
    return user;
}

void me(ServerContext &ctx, const Request &req, Response &res) {
    if (const auto user = signedIn(ctx, req, res))
        sendApi(res, 200, describeUser(*user));
}

void listPlayerPasswords(ServerContext &ctx, const Request &req, Response &res) {
    const auto user = signedIn(ctx, req, res);
    if (!user)
        return;
    json::Array list;
    for (const auto &p : ctx.store.playerPasswords(user->id)) {
        json::Value v;
        v.set("name", p.name);
        v.set("created", p.createdMs);
        v.set("lastUsed", p.lastUsedMs > 0 ? json::Value(p.lastUsedMs) : json::Value(nullptr));
        list.push_back(std::move(v));
    }
    json::Value v;
    v.set("playerPasswords", std::move(list));
    sendApi(res, 200, v);
}

// A player-password request: the signed-in account and the name its body
// gives (empty when it gives none); nothing when it was answered already.
struct NamedRequest {
    User user;
    std::optional<std::string> name;
};

std::optional<NamedRequest> namedRequest(ServerContext &ctx, const Request &req, Response &res) {
    auto user = signedIn(ctx, req, res);
    if (!user)
        return std::nullopt;
    const auto args = body(req, res);
    if (!args)
        return std::nullopt;
    return NamedRequest{std::move(*user), member(*args, "name")};
}

void addPlayerPassword(ServerContext &ctx, const Request &req, Response &res) {
    const auto asked = namedRequest(ctx, req, res);
    if (!asked)
        return;
    const auto &name = asked->name;
    if (!name || !isValidPlayerPasswordName(*name))
        return sendError(res, 400, "a name is 1 to 64 printable characters");
    const auto made = createPlayerPassword(ctx.store, ctx.playerSecrets, asked->user.id, *name);
    if (!made)
        return sendError(res, 409, "there is already a player password of that name");
    json::Value v;
    v.set("name", made->record.name);
    v.set("password", made->password);
    v.set("apiKey", made->apiKey);
    sendApi(res, 201, v);
}

void removePlayerPassword(ServerContext &ctx, const Request &req, Response &res) {
    const auto asked = namedRequest(ctx, req, res);
    if (!asked)
        return;
    const auto &name = asked->name;
    if (!name || !ctx.store.removePlayerPassword(asked->user.id, *name))
        return sendError(res, 404, "no player password of that name");
    sendApi(res, 200, json::Value(json::Object{}));
}

} // namespace

bool isWebSessionDevice(std::string_view deviceId) {
    return deviceId.rfind(kWebDevicePrefix, 0) == 0;
}

bool isCrossOriginRequest(const ServerContext &ctx, const http::Request &req) {
    if (req.hasHeader("Sec-Fetch-Site")) {
        const std::string site = req.header("Sec-Fetch-Site");
        return strcasecmp(site.c_str(), "same-origin") != 0 &&
               strcasecmp(site.c_str(), "none") != 0;
    }
    if (!req.hasHeader("Origin"))
        return false;
    const std::string origin = req.header("Origin");
    if (strcasecmp(origin.c_str(), ctx.config.publicUrl.c_str()) == 0)
        return false;
    // Behind a proxy that ends TLS the scheme may differ; the host and port may not.
    const auto authority = origin.find("://");
    const std::string host = req.header("Host");
    return authority == std::string::npos || host.empty() ||
           strcasecmp(origin.c_str() + authority + 3, host.c_str()) != 0;
}

std::optional<User> webSessionUser(ServerContext &ctx, const http::Request &req) {
    const std::string id = cookieValue(req, kWebSessionCookie);
    if (id.empty() || id.size() > 128)
        return std::nullopt;
    const auto session = ctx.store.findSession(id);
    if (!session || !isWebSessionDevice(session->deviceId))
        return std::nullopt;
    return ctx.store.findUser(session->userId);
}

void addWebSiteRoutes(http::HttpServer &server, ServerContext &ctx) {
    for (std::size_t i = 0; i < kWebAssetCount; ++i) {
        const WebAsset &asset = kWebAssets[i];
        server.get(asset.path, [&asset](const Request &, Response &res) {
            res.setContent(std::string(asset.data, asset.size), asset.contentType);
            securityHeaders(res);
        });
    }
    const auto bind = [&ctx](void (*f)(ServerContext &, const Request &, Response &)) {
        return [&ctx, f](const Request &req, Response &res) { f(ctx, req, res); };
    };
    server.post("/web/api/signin", bind(signIn));
    server.post("/web/api/signout", bind(signOut));
    server.get("/web/api/me", bind(me));
    server.get("/web/api/player-passwords", bind(listPlayerPasswords));
    server.post("/web/api/player-passwords", bind(addPlayerPassword));
    server.post("/web/api/player-passwords/remove", bind(removePlayerPassword));
}

} // namespace cloud
