#pragma once

#include "fingerprinter.h"
#include "handles.h"
#include "identifier.h"
#include "remote_identifier.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct gnsdk_musicidfile_fileinfo_handle_s {
    gnsdk_musicidfile_query_handle_s *query = nullptr;
    std::string ident;
    std::map<std::string, std::string> metadata;
    std::unique_ptr<recog::Fingerprinter> fingerprinter;
    std::vector<uint32_t> fingerprint;
    std::shared_ptr<const std::vector<int16_t>> signal; // behind the fingerprint
    double seconds = 0;
    bool fingerprintDone = false;
};

// One file query: its file-infos, and a worker thread that identifies them
// and delivers the responses through the caller's callbacks, one at a time.
struct gnsdk_musicidfile_query_handle_s {
    enum class State { Open, Running, Complete };

    gnsdk_musicidfile_callbacks_t callbacks{};
    void *callbackData = nullptr;
    std::map<std::string, std::string> options;
    std::vector<std::unique_ptr<gnsdk_musicidfile_fileinfo_handle_s>> fileInfos;
    // The user's credentials, which a lookup service checks.
    std::string clientId;
    std::string clientTag;

    std::mutex mutex;
    std::condition_variable done;
    State state = State::Open;
    gnsdk_error_t completeError = GNSDK_SUCCESS;
    std::string completeText; // what went wrong, when completeError is set
    std::thread worker;
    std::atomic<bool> cancelled{false};

    ~gnsdk_musicidfile_query_handle_s();
    // Starts the worker; false with the last error set when it cannot run.
    gnsdk_error_t start(bool library, gnsdk_uint32_t flags, const char *api);
    // Waits at most timeoutMs (all bits set: for ever); true when complete.
    bool waitFor(gnsdk_uint32_t timeoutMs);
    bool running();
    // Asks a running worker to stop at the next file or response and waits
    // for it; callbacks are not called after this returns.
    void cancel();

private:
    void run(bool library, std::shared_ptr<recog::Catalog> catalog, recog::EngineConfig config,
             std::vector<recog::FileClues> clues);
    // Identifies every file; false with the failure when a lookup failed.
    bool identifyAll(recog::Catalog *catalog, recog::RemoteIdentifier *remote,
                     const recog::EngineConfig &config, const std::vector<recog::FileClues> &clues,
                     size_t limit, std::vector<std::vector<recog::Identification>> &found,
                     bool &abort, recog::LookupFailure &failure);
    bool deliver(const std::shared_ptr<recog::GdoNode> &response, uint32_t current, uint32_t total);
    void status(gnsdk_musicidfile_fileinfo_handle_s *info, gnsdk_musicidfile_callback_status_t code,
                uint32_t current, uint32_t total, bool &abort);
};
