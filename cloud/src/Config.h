// Everything an operator can tune about one running server.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace cloud {

// An item retired in favour of a newer version is kept this long (with its
// file) before the clean-up removes it.
inline constexpr std::int64_t kKeepRetiredSeconds = 30 * 24 * 3600;

struct Config {
    // Keys, and for a household server its SQLite file and stored files.
    std::filesystem::path dataDir;
    // A "postgresql://" address that several servers share; empty: the SQLite
    // file in the data folder.
    std::string database;
    // Where the database is: the address, or the SQLite file's path.
    std::string databaseLocation() const {
        return database.empty() ? (dataDir / "cloud.sqlite").string() : database;
    }
    // Desktop installations one account may sign in from.
    int deviceLimit = 5;
    // Signature tokens are single-use and expire after this many seconds.
    int tokenLifetimeSeconds = 300;
    int sessionLifetimeSeconds = 30 * 24 * 3600;
    int downloadLinkLifetimeSeconds = 60;
    int facebookTokenLifetimeSeconds = 5183999;
    std::uint64_t maxUploadBytes = 100ull * 1024 * 1024;
    // Multipart framing around an uploaded file (boundaries, part headers):
    // an upload's body may be this much longer than its file.
    static constexpr std::uint64_t kMultipartAllowance = 64 * 1024;
    std::uint64_t maxUploadBody() const { return maxUploadBytes + kMultipartAllowance; }
    std::uint64_t maxJsonBytes = 1024 * 1024;
    // Anyone may make an account, so none may fill the disk: each stores at
    // most this much, and uploads stop while the disk has less than the floor.
    std::uint64_t quotaBytes = 10240ull * 1024 * 1024;
    std::uint64_t minFreeBytes = 1024ull * 1024 * 1024;
    // How long retired items are kept; only tests shorten it.
    std::int64_t keepRetiredSeconds = kKeepRetiredSeconds;
    int pbkdf2Iterations = 600000;
    // Event-loop threads; a slow or idle client holds none of them.
    int threads = 4;
    // Threads that decode covers and encode streams (0: one per processor,
    // at least two); transcoded streams at once: 4 per account, and twice
    // the workers in all.
    int workers = 0;
    int streamsPerAccount = 4;
    // Scaled covers kept in memory.
    std::size_t coverCacheBytes = 64ull * 1024 * 1024;
    unsigned maxConnections = 1024;
    unsigned maxConnectionsPerAddress = 256;
    // Reverse proxies (load balancers) in front of the server, by IPv4 or
    // IPv6 address: requests through them count under the client address
    // their X-Forwarded-For names (ClientAddress.h).
    std::vector<std::string> trustedProxies;
    // Lets GET /collect/events read the stored analytics back (tests, demos).
    bool analyticsReadback = false;
    // The address clients reach this server at ("https://music.example.org");
    // empty means the listening address. Redirects and the sign-in stand-in use it.
    std::string publicUrl;
    // PEM texts of the certificate chain and its key: set, the server speaks HTTPS.
    std::string tlsCertificate;
    std::string tlsKey;
    // The recognition catalogue that POST /recognition/v1/lookup answers from
    // (empty: no lookup service), the engine credentials it accepts
    // ("ID:TAG,…"), and lookups per second of one client (twice that at once).
    std::string recognitionCatalog;
    std::string recognitionClients;
    double recognitionRate = 50;
    // Where stored files live (objects/ObjectStore.h): empty for the data
    // folder, else an object store's address, with its credentials file
    // (empty: the environment).
    std::string objects;
    std::filesystem::path objectsCredentials;
};

} // namespace cloud
