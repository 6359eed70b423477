// Initialisation data is the deployment's text file: any bytes must give a
// configuration or a message, never a fault.
#include "engine_config.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    recog::EngineConfig config;
    std::string error;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    if (recog::EngineConfig::parse(text, "/base", config, error)) {
        // Exactly one of a catalogue and a lookup service.
        if (config.catalogPath.empty() == config.lookupUrl.empty())
            std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    return 0;
}
