#include "engine.h"

#include "last_error.h"

namespace recog {

Engine &engine() {
    static Engine e;
    return e;
}

std::shared_ptr<Catalog> catalogOrFail(const char *api, const char *module) {
    Engine &e = engine();
    std::lock_guard lock(e.mutex);
    if (!e.managerUp) {
        fail(SDKMGRERR_NotInited, "the manager is not initialised", api, module);
        return nullptr;
    }
    if (!e.catalog)
        fail(SDKMGRERR_Unsupported, "this needs a local catalogue, not a lookup service", api,
             module);
    return e.catalog;
}

bool managerUpOrFail(const char *api, const char *module) {
    Engine &e = engine();
    std::lock_guard lock(e.mutex);
    if (!e.managerUp)
        fail(SDKMGRERR_NotInited, "the manager is not initialised", api, module);
    return e.managerUp;
}

std::string userKeyOrFail(const char *api) {
    Engine &e = engine();
    std::lock_guard lock(e.mutex);
    if (!e.managerUp) {
        fail(SDKMGRERR_NotInited, "the manager is not initialised", api);
        return {};
    }
    return e.userKey;
}

} // namespace recog
