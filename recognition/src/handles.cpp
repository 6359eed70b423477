#include "handles.h"

#include "last_error.h"

namespace recog {

void HandleRegistry::add(const void *handle, HandleKind kind) {
    std::lock_guard lock(mutex_);
    live_[handle] = kind;
}

void HandleRegistry::remove(const void *handle) {
    std::lock_guard lock(mutex_);
    live_.erase(handle);
}

gnsdk_error_t HandleRegistry::check(const void *handle, HandleKind kind) const {
    std::lock_guard lock(mutex_);
    const auto it = live_.find(handle);
    if (it == live_.end())
        return SDKMGRERR_HandleObjectInvalid;
    return it->second == kind ? GNSDK_SUCCESS : SDKMGRERR_HandleObjectWrongType;
}

HandleRegistry &handles() {
    static HandleRegistry registry;
    return registry;
}

gnsdk_error_t checkHandle(const void *handle, HandleKind kind, const char *api,
                          const char *module) {
    const gnsdk_error_t rc = handles().check(handle, kind);
    if (rc == SDKMGRERR_HandleObjectInvalid)
        return fail(rc, handle ? "handle is not valid or was released" : "handle is null", api,
                    module);
    if (rc == SDKMGRERR_HandleObjectWrongType)
        return fail(rc, "handle is of another type", api, module);
    return rc;
}

} // namespace recog
