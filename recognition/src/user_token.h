#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace recog {

// A registered user of the engine. Its serialised text carries the
// credentials it was made for and a signature by the catalogue's user key, so
// that texts made elsewhere, edited, or made for other credentials are
// refused.
struct UserToken {
    std::string clientId;
    std::string clientTag;
    std::string userId; // 32 lower-case hex digits, random
    std::string appVersion;
    int64_t created = 0;

    static bool createNew(std::string_view clientId, std::string_view clientTag,
                          std::string_view appVersion, UserToken &out, std::string &error);
    std::string serialize(std::string_view key) const;
    static bool parse(std::string_view text, std::string_view key, UserToken &out,
                      std::string &error);
};

} // namespace recog
