// Serialised users arrive from files and command lines: any bytes must be
// refused or accepted without a fault, and what is accepted must survive a
// second round trip unchanged.
#include "user_token.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    const std::string key = "fuzz-catalogue-key-0123456789abcdef";
    recog::UserToken token;
    std::string error;
    if (!recog::UserToken::parse(text, key, token, error)) {
        if (error.empty())
            std::abort();
        return 0;
    }
    const std::string again = token.serialize(key);
    recog::UserToken back;
    if (!recog::UserToken::parse(again, key, back, error) || back.serialize(key) != again)
        std::abort();
    return 0;
}
