#include "CloudServer.h"

#include "Housekeeping.h"
#include "RecognitionLookupRoutes.h"
#include "ServerContext.h"
#include "TagReader.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <vector>

namespace cloud {

namespace {

constexpr std::chrono::hours kLoneBucketGrace{24};

http::ServerLimits limitsOf(const Config &config) {
    http::ServerLimits l;
    l.threads = config.threads;
    l.connections = config.maxConnections;
    l.connectionsPerAddress = config.maxConnectionsPerAddress;
    l.trustedProxies = TrustedProxies(config.trustedProxies);
    l.maxBufferedBody = config.maxJsonBytes;
    l.maxUploadBody = config.maxUploadBody();
    l.tlsCertificate = config.tlsCertificate;
    l.tlsKey = config.tlsKey;
    return l;
}

void removeExpiredRetired(ServerContext &ctx) {
    try {
        const auto removal =
            cloud::removeExpiredRetired(ctx.store, *ctx.objects, ctx.config.keepRetiredSeconds);
        if (removal.items > 0)
            std::fprintf(stderr, "removed %d retired items and %zu files\n", removal.items,
                         removal.files.size());
    } catch (const std::exception &e) {
        // A busy database (an import running) is tried again at the next round.
        std::fprintf(stderr, "the clean-up of retired items failed: %s\n", e.what());
    }
}

// A server alone on its folder removes every unfinished or unrecorded file
// at its start. Servers sharing a database may be writing into the store
// right now: there the gc command does it, with a grace period.
void cleanUpAtStart(ServerContext &ctx) {
    if (!ctx.config.database.empty())
        return;
    // A bucket may still be written by an import or a copy under way.
    const auto cutoff = ctx.objects->isLocal()
                            ? std::chrono::system_clock::time_point::max()
                            : std::chrono::system_clock::now() - kLoneBucketGrace;
    const auto result = objects::cleanUp(*ctx.objects, ctx.store.referencedFiles(), cutoff);
    if (result.removed + result.abandoned > 0)
        std::fprintf(stderr, "removed %d unfinished or unrecorded files\n",
                     result.removed + result.abandoned);
}

// How often a running server looks for expired retired items: hourly, or
// four times within a keeping time shorter than that, so that none stays
// long past it.
std::chrono::milliseconds retiredSweepInterval(const Config &config) {
    return std::chrono::milliseconds(
        std::clamp<std::int64_t>(config.keepRetiredSeconds * 250, 250, 3600 * 1000));
}

} // namespace

struct CloudServer::Impl {
    explicit Impl(Config config)
        : ctx(std::move(config))
        , server(limitsOf(ctx.config)) {}
    ServerContext ctx;
    http::HttpServer server;
    std::string host;
    int port = 0;
    std::mutex mutex;
    std::condition_variable stopped;
    bool stopping = false;
};

CloudServer::CloudServer(Config config)
    : impl_(std::make_unique<Impl>(std::move(config))) {
    auto &ctx = impl_->ctx;
    auto &server = impl_->server;

    removeExpiredRetired(ctx);
    cleanUpAtStart(ctx);

    // Data folders from before the music-player view get their tags read once.
    // A file that is not audio is recorded with empty tags, so it is not read again.
    // Written a thousand at a time: one commit per file would make a large
    // folder's first start take minutes, and a stop part-way keeps what was read.
    const auto untagged = ctx.store.filesWithoutTags();
    if (!untagged.empty())
        std::fprintf(stderr, "reading the tags of %zu stored files once\n", untagged.size());
    std::vector<std::pair<std::int64_t, Tags>> batch;
    for (const auto &[fileId, relPath] : untagged) {
        batch.emplace_back(fileId, readTags(ctx.objects->open(relPath)).value_or(Tags{}));
        if (batch.size() == 1000) {
            ctx.store.setFileTags(batch);
            batch.clear();
        }
    }
    if (!batch.empty())
        ctx.store.setFileTags(batch);
    ctx.store.indexLibrary();

    addAccountRoutes(server, ctx);
    addMediaRoutes(server, ctx);
    addUploadRoutes(server, ctx);
    addDownloadRoutes(server, ctx);
    addFacebookRoutes(server, ctx);
    addAnalyticsRoutes(server, ctx);
    addWebSiteRoutes(server, ctx);
    addSubsonicRoutes(server, ctx);
    addHealthRoutes(server, ctx);
    addRecognitionLookupRoutes(server, ctx.config, ctx.shared);
}

CloudServer::~CloudServer() {
    // Work in flight holds parked connections, which must all be resumed
    // before the HTTP layer may stop.
    impl_->ctx.work.stop();
    impl_->server.stop();
}

int CloudServer::bind(const std::string &host, int port) {
    std::string error;
    Config &config = impl_->ctx.config;
    // The address is set before the first request can read it.
    const int bound = impl_->server.start(host, port, error, [&](int boundPort) {
        if (config.publicUrl.empty())
            config.publicUrl = std::string(config.tlsCertificate.empty() ? "http" : "https") +
                               "://" +
                               (host.find(':') != std::string::npos ? "[" + host + "]" : host) +
                               ":" + std::to_string(boundPort);
    });
    if (bound < 0)
        std::fprintf(stderr, "%s\n", error.c_str());
    return bound;
}

bool CloudServer::run() {
    std::unique_lock lock(impl_->mutex);
    const auto interval = retiredSweepInterval(impl_->ctx.config);
    while (!impl_->stopped.wait_for(lock, interval, [this] { return impl_->stopping; })) {
        lock.unlock();
        removeExpiredRetired(impl_->ctx);
        lock.lock();
    }
    impl_->ctx.work.stop();
    impl_->server.stop();
    return true;
}

void CloudServer::stop() {
    std::lock_guard lock(impl_->mutex);
    impl_->stopping = true;
    impl_->stopped.notify_all();
}

} // namespace cloud
