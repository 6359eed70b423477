#include "file_query.h"

#include "engine.h"
#include "last_error.h"
#include "result_builder.h"

#include <algorithm>
#include <chrono>
#include <optional>

using namespace recog;

namespace recog {
gnsdk_gdo_handle_t newGdoHandle(std::shared_ptr<const GdoNode> node);
void releaseGdoHandle(gnsdk_gdo_handle_t h);
} // namespace recog

namespace {

std::string valueOf(const std::map<std::string, std::string> &m, const char *key) {
    const auto it = m.find(key);
    return it == m.end() ? std::string() : it->second;
}

FileClues cluesOf(const gnsdk_musicidfile_fileinfo_handle_s &info) {
    FileClues c;
    c.ident = info.ident;
    if (info.fingerprintDone) {
        c.fingerprint = info.fingerprint;
        c.signal = info.signal;
        c.seconds = info.seconds;
    }
    c.albumArtist = valueOf(info.metadata, GNSDK_MUSICIDFILE_FILEINFO_VALUE_ALBUMARTIST);
    c.albumTitle = valueOf(info.metadata, GNSDK_MUSICIDFILE_FILEINFO_VALUE_ALBUMTITLE);
    c.trackTitle = valueOf(info.metadata, GNSDK_MUSICIDFILE_FILEINFO_VALUE_TRACKTITLE);
    c.trackNumber = valueOf(info.metadata, GNSDK_MUSICIDFILE_FILEINFO_VALUE_TRACKNUMBER);
    c.tui = valueOf(info.metadata, GNSDK_MUSICIDFILE_FILEINFO_VALUE_TUI);
    c.tuiTag = valueOf(info.metadata, GNSDK_MUSICIDFILE_FILEINFO_VALUE_TUITAG);
    return c;
}

} // namespace

gnsdk_musicidfile_query_handle_s::~gnsdk_musicidfile_query_handle_s() {
    if (worker.joinable())
        worker.join();
}

void gnsdk_musicidfile_query_handle_s::cancel() {
    cancelled = true;
    if (worker.joinable())
        worker.join();
}

bool gnsdk_musicidfile_query_handle_s::running() {
    std::lock_guard lock(mutex);
    return state == State::Running;
}

gnsdk_error_t gnsdk_musicidfile_query_handle_s::start(bool library, gnsdk_uint32_t /*flags*/,
                                                      const char *api) {
    if (!managerUpOrFail(api, "musicidfile"))
        return lastError()->error_code;
    std::shared_ptr<Catalog> catalog;
    {
        Engine &e = engine();
        std::lock_guard engineLock(e.mutex);
        catalog = e.catalog;
    }
    std::lock_guard lock(mutex);
    if (state != State::Open)
        return fail(MIDFERR_Busy, "the query has already been run", api, "musicidfile");
    std::vector<FileClues> clues;
    for (const auto &info : fileInfos)
        clues.push_back(cluesOf(*info));
    EngineConfig config;
    {
        Engine &e = engine();
        std::lock_guard engineLock(e.mutex);
        config = e.config;
    }
    state = State::Running;
    completeError = GNSDK_SUCCESS;
    completeText.clear();
    try {
        worker = std::thread(&gnsdk_musicidfile_query_handle_s::run, this, library, catalog, config,
                             std::move(clues));
    } catch (...) {
        state = State::Open;
        return fail(SDKMGRERR_Unknown, "cannot start the query worker", api, "musicidfile");
    }
    return GNSDK_SUCCESS;
}

bool gnsdk_musicidfile_query_handle_s::waitFor(gnsdk_uint32_t timeoutMs) {
    std::unique_lock lock(mutex);
    auto complete = [this] { return state != State::Running; };
    if (timeoutMs == GNSDK_MUSICIDFILE_TIMEOUT_INFINITE)
        done.wait(lock, complete);
    else if (!done.wait_for(lock, std::chrono::milliseconds(timeoutMs), complete))
        return false;
    lock.unlock();
    if (worker.joinable())
        worker.join();
    return true;
}

void gnsdk_musicidfile_query_handle_s::status(gnsdk_musicidfile_fileinfo_handle_s *info,
                                              gnsdk_musicidfile_callback_status_t code,
                                              uint32_t current, uint32_t total, bool &abort) {
    if (!callbacks.callback_status || abort)
        return;
    gnsdk_bool_t flag = GNSDK_FALSE;
    callbacks.callback_status(callbackData, this, info, code, current, total, &flag);
    abort = abort || flag;
}

bool gnsdk_musicidfile_query_handle_s::deliver(const std::shared_ptr<GdoNode> &response,
                                               uint32_t current, uint32_t total) {
    if (!callbacks.callback_result_available)
        return true;
    gnsdk_gdo_handle_t h = newGdoHandle(response);
    if (!h)
        return false;
    gnsdk_bool_t abort = GNSDK_FALSE;
    callbacks.callback_result_available(callbackData, this, h, current, total, &abort);
    releaseGdoHandle(h);
    return !abort;
}

bool gnsdk_musicidfile_query_handle_s::identifyAll(Catalog *catalog, RemoteIdentifier *remote,
                                                   const EngineConfig &config,
                                                   const std::vector<FileClues> &clues,
                                                   size_t limit,
                                                   std::vector<std::vector<Identification>> &found,
                                                   bool &abort, LookupFailure &failure) {
    Engine &e = engine();
    std::optional<Identifier> local;
    if (catalog)
        local.emplace(*catalog, config, e.log);
    const uint32_t total = uint32_t(clues.size());
    for (size_t i = 0; i < clues.size() && !abort && !cancelled; ++i) {
        status(fileInfos[i].get(), gnsdk_musicidfile_status_fileinfo_processing_begin,
               uint32_t(i + 1), total, abort);
        if (local)
            found[i] = local->identify(clues[i], limit);
        else if (!remote->identify(clues[i], limit, found[i], failure))
            return false; // no file gets an answer the service did not give
        status(fileInfos[i].get(), gnsdk_musicidfile_status_fileinfo_processing_complete,
               uint32_t(i + 1), total, abort);
    }
    return true;
}

void gnsdk_musicidfile_query_handle_s::run(bool library, std::shared_ptr<Catalog> catalog,
                                           EngineConfig config, std::vector<FileClues> clues) {
    gnsdk_error_t result = GNSDK_SUCCESS;
    std::string resultText;
    try {
        Engine &e = engine();
        std::unique_ptr<LookupClient> client;
        std::unique_ptr<RemoteIdentifier> remote;
        if (!catalog) {
            client = std::make_unique<LookupClient>(LookupEndpoint{
                config.lookupUrl, config.caFile, config.timeoutMs, clientId, clientTag});
            remote = std::make_unique<RemoteIdentifier>(*client, e.log);
        }
        RecordSource &records = catalog ? static_cast<RecordSource &>(*catalog) : *remote;
        ResultBuilder builder(records);
        const uint32_t total = uint32_t(clues.size());
        const size_t limit = library ? 1 : size_t(config.trackIdResults);
        bool abort = false;

        // Identify every file first: in library mode the responses group
        // files by album, which needs all answers.
        std::vector<std::vector<Identification>> found(clues.size());
        LookupFailure failure;
        if (!identifyAll(catalog.get(), remote.get(), config, clues, limit, found, abort,
                         failure)) {
            result = failure.code;
            resultText = failure.text;
            found.assign(clues.size(), {});
            abort = true;
        }
        std::vector<std::shared_ptr<GdoNode>> responses;
        if (library) {
            std::vector<std::pair<int64_t, std::vector<TrackMatch>>> albums;
            for (size_t i = 0; i < clues.size(); ++i) {
                if (found[i].empty())
                    continue;
                const Identification &best = found[i].front();
                auto it = std::find_if(albums.begin(), albums.end(),
                                       [&](const auto &a) { return a.first == best.albumId; });
                if (it == albums.end()) {
                    albums.push_back({best.albumId, {}});
                    it = albums.end() - 1;
                }
                it->second.push_back({best.trackId, clues[i].ident});
            }
            for (const auto &[albumId, matches] : albums)
                if (auto a = builder.album(albumId, matches))
                    responses.push_back(ResultBuilder::response({a}));
        } else {
            for (size_t i = 0; i < clues.size(); ++i) {
                std::vector<std::shared_ptr<GdoNode>> albums;
                for (const Identification &id : found[i])
                    if (auto a = builder.album(id.albumId, {{id.trackId, clues[i].ident}}))
                        albums.push_back(a);
                if (!albums.empty())
                    responses.push_back(ResultBuilder::response(albums));
            }
        }
        for (size_t i = 0; i < responses.size() && !abort && !cancelled; ++i)
            abort = !deliver(responses[i], uint32_t(i + 1), uint32_t(responses.size()));
        for (size_t i = 0; i < clues.size() && !abort && !cancelled; ++i) {
            if (!found[i].empty() || !callbacks.callback_result_not_found)
                continue;
            gnsdk_bool_t flag = GNSDK_FALSE;
            callbacks.callback_result_not_found(callbackData, this, fileInfos[i].get(),
                                                uint32_t(i + 1), total, &flag);
            abort = flag;
        }
        if ((abort || cancelled) && result == GNSDK_SUCCESS)
            result = SDKMGRERR_Aborted;
    } catch (...) {
        result = SDKMGRERR_Unknown;
        resultText = "internal failure";
    }
    if (callbacks.callback_musicid_complete && !cancelled)
        callbacks.callback_musicid_complete(callbackData, this, result);
    {
        std::lock_guard lock(mutex);
        completeError = result;
        completeText = resultText;
        state = State::Complete;
    }
    done.notify_all();
}
