#pragma once

#include "store/User.h"

#include <QFuture>

// Signs the stored account in again when the program starts, as the main
// window does for a returning user; the screens (or the headless program)
// decide what to show afterwards. On success the coordinator's syncStatus is
// "SUCCESS" and a stop request left over is cleared; on failure syncStatus
// holds the service's refusal, or "FAILED" with the connection message when
// the service gave no status, and flow_errorAtLogin is set so that the next
// sign-in from the login screen goes straight to a sync.
class ReturningUser {
public:
    enum class Result {
        SignedIn,
        Refused,  // the service answered with a refusal (syncMessage says why)
        NoAnswer, // no status came back: the service could not be reached
    };

    // Blocks for one exchange with the service: never call it on the main thread.
    static Result doLogin(const UserPtr &user);
    // The same on the background pool; returns at once.
    static QFuture<Result> doLoginInBackground(const UserPtr &user);
};
