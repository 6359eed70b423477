#include "ServerContext.h"

#include "Crypto.h"
#include "KeyFile.h"
#include "WebSession.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace cloud {

namespace {
constexpr std::size_t kCredentialCacheSize = 10000;

int workerCount(int configured) {
    if (configured > 0)
        return configured;
    return std::max(2, static_cast<int>(std::thread::hardware_concurrency()));
}

// The key that signs download addresses: older versions kept it in the database.
std::string loadLinkKey(const std::filesystem::path &dataDir, Store &store) {
    return loadKey("SONARBOX_LINK_KEY", dataDir / "link.key", 32,
                   "a new key is made at the next start, and download addresses handed out "
                   "before it stop working",
                   [&store] {
                       const auto legacy = store.takeLegacySecret();
                       return legacy && legacy->size() == 32 ? *legacy : crypto::randomBytes(32);
                   });
}

// Servers sharing a database count every server's uploads; one alone counts its own.
std::unique_ptr<QuotaLedger> quotaLedger(const Config &config, Store &store,
                                         const std::shared_ptr<SharedDatabase> &shared) {
    if (shared)
        return std::make_unique<SharedQuotaLedger>(shared, config.quotaBytes);
    return std::make_unique<MemoryQuotaLedger>(config.quotaBytes, [&store](std::int64_t userId) {
        return static_cast<std::uint64_t>(store.storedBytes(userId));
    });
}
} // namespace

std::string CredentialCache::digest(std::int64_t userId, std::string_view password) const {
    return crypto::hmacSha256(key_, std::to_string(userId) + ":" + std::string(password));
}

bool CredentialCache::contains(std::int64_t userId, std::string_view password) {
    const std::string d = digest(userId, password);
    std::lock_guard lock(mutex_);
    return verified_.count(d) > 0;
}

void CredentialCache::add(std::int64_t userId, std::string_view password) {
    const std::string d = digest(userId, password);
    std::lock_guard lock(mutex_);
    if (verified_.size() >= kCredentialCacheSize)
        verified_.clear();
    verified_.insert(d);
}

ServerContext::ServerContext(Config c)
    : config(std::move(c))
    , store(config.databaseLocation())
    , objects(objects::openObjectStore(config.objects, config.dataDir, config.objectsCredentials))
    , shared(config.database.empty() ? nullptr : std::make_shared<SharedDatabase>(config.database))
    , linkSecret(loadLinkKey(config.dataDir, store))
    , credentials(crypto::randomBytes(32))
    , uploadAllowance(config.dataDir, config.minFreeBytes, quotaLedger(config, store, shared))
    , dummyPassword(PasswordHash::make(crypto::randomHex(16), config.pbkdf2Iterations))
    , playerSecrets(PlayerSecrets::load(config.dataDir))
    , work(workerCount(config.workers))
    , streams(config.streamsPerAccount, 2 * work.threads())
    , covers(config.coverCacheBytes) {
    constexpr double kCollectPerSecond = 5.0;
    constexpr double kCollectBurst = 60.0;
    const std::chrono::seconds tokenLifetime(config.tokenLifetimeSeconds);
    collectLimiter = makeRequestLimiter(shared, "collect", kCollectPerSecond, kCollectBurst);
    if (shared) {
        tokens = std::make_unique<SharedTokens>(shared, tokenLifetime);
        signInThrottle = std::make_unique<SharedThrottle>(shared, "sign-in");
        playerThrottle = std::make_unique<SharedThrottle>(shared, "player");
    } else {
        tokens = std::make_unique<TokenStore>(tokenLifetime);
        signInThrottle = std::make_unique<SignInThrottle>();
        playerThrottle = std::make_unique<SignInThrottle>();
    }
}

bool checkPassword(ServerContext &ctx, const std::optional<User> &user, std::string_view password) {
    if (!user || !user->hasPassword) {
        ctx.dummyPassword.verify(password);
        return false;
    }
    return user->password.verify(password);
}

void sendJson(http::Response &res, int status, const json::Value &body) {
    res.status = status;
    res.setContent(json::serialize(body), "application/json");
}

json::Value envelope(const std::string &status, const std::string &text) {
    json::Value v;
    v.set("responseStatus", status);
    v.set("responseText", text);
    return v;
}

void sendEnvelope(http::Response &res, int status, const std::string &responseStatus,
                  const std::string &text) {
    sendJson(res, status, envelope(responseStatus, text));
}

std::optional<json::Value> readJsonObject(const http::Request &req, http::Response &res) {
    json::ParseError error;
    auto value = json::parse(req.body, &error);
    if (!value) {
        sendEnvelope(res, 400, "FAILED",
                     "malformed JSON at offset " + std::to_string(error.offset) + ": " +
                         error.message);
        return std::nullopt;
    }
    if (!value->isObject()) {
        sendEnvelope(res, 400, "FAILED", "the request body must be a JSON object");
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> Members::string(const char *key) {
    const json::Value *v = object_.find(key);
    if (!v || v->isNull())
        return std::nullopt;
    if (!v->isString()) {
        if (error_.empty())
            error_ = std::string("member \"") + key + "\" must be a string";
        return std::nullopt;
    }
    return v->asString();
}

std::optional<std::int64_t> Members::integer(const char *key) {
    const json::Value *v = object_.find(key);
    if (!v || v->isNull())
        return std::nullopt;
    if (v->isInteger())
        return v->asInteger();
    if (v->isNumber()) {
        const double d = v->asDouble();
        if (std::trunc(d) == d && std::fabs(d) < 9e15)
            return static_cast<std::int64_t>(d);
    }
    if (error_.empty())
        error_ = std::string("member \"") + key + "\" must be a whole number";
    return std::nullopt;
}

std::string cookieValue(const http::Request &req, std::string_view name) {
    // The client sends back the whole Set-Cookie value, attributes included:
    // look at each ";"-separated pair, and count only one named exactly so.
    std::string_view cookie;
    const std::string header = req.header("Cookie");
    cookie = header;
    while (!cookie.empty()) {
        const auto semicolon = cookie.find(';');
        std::string_view pair = cookie.substr(0, semicolon);
        cookie =
            semicolon == std::string_view::npos ? std::string_view() : cookie.substr(semicolon + 1);
        while (!pair.empty() && pair.front() == ' ')
            pair.remove_prefix(1);
        while (!pair.empty() && pair.back() == ' ')
            pair.remove_suffix(1);
        const auto eq = pair.find('=');
        if (eq != std::string_view::npos && pair.substr(0, eq) == name)
            return std::string(pair.substr(eq + 1));
    }
    return {};
}

std::string sessionIdFromCookie(const http::Request &req) {
    return cookieValue(req, "JSESSIONID");
}

std::optional<Session> currentSession(ServerContext &ctx, const http::Request &req) {
    const std::string id = sessionIdFromCookie(req);
    if (id.empty() || id.size() > 128)
        return std::nullopt;
    auto session = ctx.store.findSession(id);
    // A web player's session opens the web player only.
    if (session && isWebSessionDevice(session->deviceId))
        return std::nullopt;
    return session;
}

std::string sanitizeName(std::string_view name) {
    const auto slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    std::string out;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)
            out += c;
    }
    out = json::toValidUtf8(out);
    if (out.size() > 255) {
        out.resize(255);
        while (!out.empty() && !json::isValidUtf8(out))
            out.pop_back();
    }
    if (out.empty() || out == "." || out == "..")
        return "Unknown";
    return out;
}

bool isValidEmail(std::string_view email) {
    // local@label.label…tld: the everyday shape of an address, nothing exotic.
    const auto at = email.find('@');
    if (email.size() > 254 || at == 0 || at == std::string_view::npos ||
        email.find('@', at + 1) != std::string_view::npos)
        return false;
    const auto isAlnum = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
    for (const char c : email.substr(0, at)) {
        if (!isAlnum(c) && std::string_view("._%+-").find(c) == std::string_view::npos)
            return false;
    }
    const std::string_view domain = email.substr(at + 1);
    const auto lastDot = domain.rfind('.');
    if (lastDot == std::string_view::npos || lastDot == 0)
        return false;
    for (const char c : domain) {
        if (!isAlnum(c) && c != '.' && c != '-')
            return false;
    }
    if (domain.front() == '.' || domain.front() == '-' ||
        domain.find("..") != std::string_view::npos)
        return false;
    const std::string_view tld = domain.substr(lastDot + 1);
    return tld.size() >= 2 && std::all_of(tld.begin(), tld.end(), [](char c) {
               return std::isalpha(static_cast<unsigned char>(c)) != 0;
           });
}

} // namespace cloud
