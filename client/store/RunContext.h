#pragma once

#include "User.h"

#include <QString>

#include <optional>

// The account a piece of work is done for: made at sign-in and handed to a
// sync run, its stages and the requests they send. A run keeps the context it
// started with to its end, so that nothing it sends after a log-out and a
// sign-in of someone else carries the other account's session.
struct RunContext {
    // The signed-in account (shared: the sign-in's reply fills in its names).
    UserPtr account;
    // The session cookie text as the service set it; absent before the first
    // sign-in, empty after a log-out.
    std::optional<QString> session;
    QString deviceID;
    // A preview of a sync: requests that would change what the service holds
    // are not sent (RequestGate decides), and nothing is stored.
    bool dryRun = false;

    bool hasAccount() const { return account != nullptr; }
};
