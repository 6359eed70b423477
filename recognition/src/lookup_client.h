#pragma once

#include "lookup_protocol.h"

#include <gnsdk.h>

#include <memory>
#include <string>

namespace recog {

struct LookupEndpoint {
    std::string url;
    std::string caFile;     // PEM certificates trusted besides the system's
    long timeoutMs = 10000; // the whole exchange, connecting included
    std::string clientId;
    std::string clientTag;
};

struct LookupFailure {
    gnsdk_error_t code = GNSDK_SUCCESS; // SDKMGRERR_Timeout or SDKMGRERR_IOError
    std::string text;
};

// Asks a lookup service over HTTP(S), one exchange at a time, keeping the
// connection between them. The certificate is always checked, against the
// host name too; redirects are not followed.
class LookupClient {
public:
    explicit LookupClient(LookupEndpoint endpoint);
    ~LookupClient();
    LookupClient(const LookupClient &) = delete;
    LookupClient &operator=(const LookupClient &) = delete;

    bool ask(const LookupRequest &request, LookupAnswer &answer, LookupFailure &failure);

    // Seconds spent in exchanges, and the part the service said it worked.
    double totalSeconds() const { return totalSeconds_; }
    double serviceSeconds() const { return serviceSeconds_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    LookupEndpoint endpoint_;
    double totalSeconds_ = 0;
    double serviceSeconds_ = 0;
};

} // namespace recog
