#include "EngineCalls.h"

#include <dlfcn.h>

namespace {

// The engine we are bound to first (it may have been loaded privately along
// with this library), then everything loaded into the process globally.
void *findEngineSymbol(const char *name) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&gnsdk_manager_initialize), &info) != 0 &&
        info.dli_fname != nullptr) {
        if (void *engine = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD)) {
            void *symbol = dlsym(engine, name);
            dlclose(engine);
            if (symbol != nullptr) {
                return symbol;
            }
        }
    }
    return dlsym(RTLD_DEFAULT, name);
}

} // namespace

SetInitFolderCall FindSetInitFolder() {
    return reinterpret_cast<SetInitFolderCall>(findEngineSymbol("gnsdk_manager_set_init_folder"));
}
