// The desktop program's side of the protocol, as the load benchmarks speak it:
// sign-in with a signature token, the change listing, catalogue matches and
// uploads, on one kept connection.
#pragma once

#include "Json.h"

#include <httplib.h>

#include <cstdint>
#include <optional>
#include <string>

namespace bench {

// The password of every account the load benchmarks make.
inline const std::string kDesktopPassword = "bench password";

class DesktopClient {
public:
    DesktopClient(int port, std::string user);

    bool login();
    // The listing of changes since `since` (0: everything); nullopt when refused.
    std::optional<cloud::json::Value> listing(std::int64_t since);
    // The same as the server sent it, unread; nullopt when refused.
    std::optional<std::string> listingText(std::int64_t since);
    // Expected: "SUCCESS" or "FAIL"
    bool match(const std::string &checksum, const std::string &expected);
    // The new media identifier, or -1. The multipart body is streamed from
    // `content` in slices, as a real client streams a file: building one more
    // copy per upload costs more than the transfer on a machine where fresh
    // pages are expensive.
    std::int64_t upload(const std::string &name, const std::string &content);

    const std::string &cookie() const { return cookie_; }

private:
    httplib::Client http_;
    std::string user_;
    std::string cookie_;
};

std::string md5Of(const std::string &bytes);

} // namespace bench
