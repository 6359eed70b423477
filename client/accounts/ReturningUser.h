#pragma once

#include "SignInResult.h"
#include "service/ServiceClient.h"

// Signs the stored account in again when the program starts, as the main
// window does for a returning user; the coordinator keeps the result and the
// screens (or the headless program) decide what to show afterwards. Signed
// in, the status is "SUCCESS"; refused, it is the service's refusal; without
// an answer it is "FAILED" with the connection message.
class ReturningUser {
public:
    // Blocks for one exchange with the service: never call it on the main thread.
    static SignInResult doLogin(const ServiceClient &client, const UserPtr &user,
                                const RunContext &context);
};
