#pragma once

#include "SignInResult.h"
#include "service/ServiceClient.h"

#include "store/RunContext.h"
#include "store/User.h"

// The sign-in exchange. It blocks the calling thread for one exchange with
// the service: never call it on the main thread.
class Synchronize {
public:
    // Sends the login for `user` through `client` with the session cookie and device ID of
    // `context` (its account is `user`, whatever `context` says). SignedIn
    // when the service accepted it; Refused with the localised reason (or
    // none, when the screen's fallback text applies); NoAnswer when no reply
    // of the service's came.
    static SignInResult login(const ServiceClient &client, const UserPtr &user,
                              const RunContext &context);
};
