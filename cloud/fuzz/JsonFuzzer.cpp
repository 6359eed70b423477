// Every request body passes through this parser: it must never crash, and
// whatever it accepts must serialize to valid UTF-8 JSON that reads back equal.
#include "Json.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    cloud::json::ParseError error;
    const auto value = cloud::json::parse(text, &error);
    if (!value) {
        if (error.message.empty() || error.offset > size)
            std::abort();
    } else {
        const std::string out = cloud::json::serialize(*value);
        const auto back = cloud::json::parse(out);
        if (!back || !cloud::json::isValidUtf8(out))
            std::abort();
        // Doubles may print shorter, so compare the second round trip.
        if (cloud::json::serialize(*back) != out)
            std::abort();
    }
    if (!cloud::json::isValidUtf8(cloud::json::toValidUtf8(text)))
        std::abort();
    return 0;
}
