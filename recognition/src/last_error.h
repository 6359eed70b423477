#pragma once

#include <gnsdk.h>
#include <new>
#include <string>

namespace recog {

// Records a failure as the calling thread's last error and returns its code.
// Never throws: without memory for the texts, the record keeps the code.
gnsdk_error_t fail(gnsdk_error_t code, const std::string &description, const char *api,
                   const char *module = "manager") noexcept;
const gnsdk_error_info_t *lastError();

// Runs the body of an entry point; anything thrown becomes an error status,
// as nothing may cross the C interface.
template <typename F> gnsdk_error_t guarded(const char *api, F &&body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return fail(SDKMGRERR_NoMemory, "out of memory", api);
    } catch (...) {
        return fail(SDKMGRERR_Unknown, "internal failure", api);
    }
}

} // namespace recog
