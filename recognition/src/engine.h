#pragma once

#include "catalog.h"
#include "engine_config.h"
#include "engine_log.h"

#include <memory>
#include <mutex>
#include <string>

namespace recog {

// Process-wide state of the engine between gnsdk_manager_initialize and
// gnsdk_manager_shutdown.
struct Engine {
    std::mutex mutex;
    bool managerUp = false;
    bool dspUp = false;
    bool fileQueryUp = false;
    int openQueries = 0;
    std::string baseFolder; // where relative paths of the init data start
    EngineConfig config;
    std::shared_ptr<Catalog> catalog; // null when a lookup service holds it
    std::string userKey;              // signs serialised users
    std::string localeDescriptor;
    EngineLog log;
};

Engine &engine();

// The open catalogue and settings, or null (with the last error set) when the
// manager is not started.
std::shared_ptr<Catalog> catalogOrFail(const char *api, const char *module = "manager");
// False (with the last error set) when the manager is not started.
bool managerUpOrFail(const char *api, const char *module = "manager");
// The key that signs serialised users, or an empty text with the last error set.
std::string userKeyOrFail(const char *api);

} // namespace recog
