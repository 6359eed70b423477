#include "last_error.h"

namespace recog {

namespace {
struct ErrorRecord {
    gnsdk_error_info_t info{GNSDK_SUCCESS, "", "", ""};
    std::string description;
    std::string api;
    std::string module;
};
thread_local ErrorRecord t_error;
} // namespace

gnsdk_error_t fail(gnsdk_error_t code, const std::string &description, const char *api,
                   const char *module) noexcept {
    ErrorRecord &r = t_error;
    try {
        r.description = description;
        r.api = api ? api : "";
        r.module = module ? module : "";
        r.info = {code, r.description.c_str(), r.api.c_str(), r.module.c_str()};
    } catch (...) {
        r.info = {code, "out of memory", "", ""};
    }
    return code;
}

const gnsdk_error_info_t *lastError() {
    return &t_error.info;
}

} // namespace recog
