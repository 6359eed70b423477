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
    if (!e.managerUp || !e.catalog) {
        fail(SDKMGRERR_NotInited, "the manager is not initialised", api, module);
        return nullptr;
    }
    return e.catalog;
}

} // namespace recog
