#pragma once

#include "gdo.h"
#include "user_token.h"

#include <gnsdk.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#define GNSDK_EXPORT extern "C" __attribute__((visibility("default")))

namespace recog {

enum class HandleKind { Manager, User, Locale, List, ListElement, Gdo, Query, FileInfo };

// Every handle the engine gives out is registered here until it is released,
// so that a stale, foreign or wrong-type handle is refused with an error
// instead of being dereferenced.
class HandleRegistry {
public:
    void add(const void *handle, HandleKind kind);
    void remove(const void *handle);
    // GNSDK_SUCCESS, SDKMGRERR_HandleObjectInvalid or SDKMGRERR_HandleObjectWrongType.
    gnsdk_error_t check(const void *handle, HandleKind kind) const;

private:
    mutable std::mutex mutex_;
    std::unordered_map<const void *, HandleKind> live_;
};

HandleRegistry &handles();

// Checks a handle and records the failure as the last error.
gnsdk_error_t checkHandle(const void *handle, HandleKind kind, const char *api,
                          const char *module = "manager");

} // namespace recog

struct gnsdk_manager_handle_s {
    int unused = 0;
};

struct gnsdk_user_handle_s {
    recog::UserToken token;
    std::map<std::string, std::string> options;
};

struct gnsdk_locale_handle_s {
    std::string descriptor;
};

struct gnsdk_gdo_handle_s {
    std::shared_ptr<const recog::GdoNode> node;
};
