// What every request handler shares, and the small HTTP helpers they use.
#pragma once

#include "Config.h"
#include "CoverCache.h"
#include "Json.h"
#include "PlayerSecrets.h"
#include "SharedState.h"
#include "Store.h"
#include "StreamSlots.h"
#include "UploadAllowance.h"
#include "WorkPool.h"
#include "objects/ObjectStore.h"

#include "HttpServer.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>

namespace cloud {

// Remembers recently verified (account, password) pairs by a keyed digest, so
// that each download does not pay for a slow password hash again.
class CredentialCache {
public:
    explicit CredentialCache(std::string key)
        : key_(std::move(key)) {}
    bool contains(std::int64_t userId, std::string_view password);
    void add(std::int64_t userId, std::string_view password);

private:
    std::string digest(std::int64_t userId, std::string_view password) const;
    std::string key_;
    std::mutex mutex_;
    std::unordered_set<std::string> verified_;
};

struct ServerContext {
    explicit ServerContext(Config c);

    Config config;
    Store store;
    std::unique_ptr<objects::ObjectStore> objects;
    // In memory for a household server; in the database that several servers
    // share otherwise.
    std::shared_ptr<SharedDatabase> shared;
    std::unique_ptr<SignatureTokens> tokens;
    std::string linkSecret;
    CredentialCache credentials;
    UploadAllowance uploadAllowance;
    std::unique_ptr<FailureThrottle> signInThrottle;
    // Checked in place of a missing account's hash, so that an unknown e-mail
    // address takes as long to refuse as a wrong password.
    PasswordHash dummyPassword;
    // Music players: the keys that open player passwords, and their own back-off
    // (a guessing player does not lock its owner out of the desktop).
    PlayerSecrets playerSecrets;
    std::unique_ptr<FailureThrottle> playerThrottle;
    // Analytics requests per client address: a burst of 60, then 5 a second.
    std::unique_ptr<RequestLimiter> collectLimiter;
    // Decoding and encoding, away from the event threads.
    WorkPool work;
    StreamSlots streams;
    CoverCache covers;
};

// Reply helpers
void sendJson(http::Response &res, int status, const json::Value &body);
json::Value envelope(const std::string &status, const std::string &text = {});
void sendEnvelope(http::Response &res, int status, const std::string &responseStatus,
                  const std::string &text = {});

// Parses the request body as a JSON object; on failure sends a 400 reply.
std::optional<json::Value> readJsonObject(const http::Request &req, http::Response &res);

// Typed access to request members, collecting the first type error.
class Members {
public:
    explicit Members(const json::Value &object)
        : object_(object) {}
    // Absent or null gives nullopt; another type records an error.
    std::optional<std::string> string(const char *key);
    std::optional<std::int64_t> integer(const char *key); // accepts whole doubles too
    bool ok() const { return error_.empty(); }
    const std::string &error() const { return error_; }

private:
    const json::Value &object_;
    std::string error_;
};

// The value of the request's cookie of that name; empty when there is none.
std::string cookieValue(const http::Request &req, std::string_view name);
// The session named by the "JSESSIONID" cookie, or by an explicit identifier.
std::string sessionIdFromCookie(const http::Request &req);
std::optional<Session> currentSession(ServerContext &ctx, const http::Request &req);

// Display names are kept as text only, never as paths: the last path element,
// without control characters, at most 255 bytes of well-formed UTF-8.
std::string sanitizeName(std::string_view name);

// Route groups
void addAccountRoutes(http::HttpServer &server, ServerContext &ctx);
void addMediaRoutes(http::HttpServer &server, ServerContext &ctx);
void addUploadRoutes(http::HttpServer &server, ServerContext &ctx);
void addDownloadRoutes(http::HttpServer &server, ServerContext &ctx);
void addFacebookRoutes(http::HttpServer &server, ServerContext &ctx);
void addAnalyticsRoutes(http::HttpServer &server, ServerContext &ctx);
void addWebSiteRoutes(http::HttpServer &server, ServerContext &ctx);
void addSubsonicRoutes(http::HttpServer &server, ServerContext &ctx);
void addHealthRoutes(http::HttpServer &server, ServerContext &ctx);

// The password check of a sign-in; a missing account (or one without a
// password) costs the same key derivation as a real one.
bool checkPassword(ServerContext &ctx, const std::optional<User> &user, std::string_view password);

// Shared by the account routes and the Facebook stand-in.
bool isValidEmail(std::string_view email);

} // namespace cloud
