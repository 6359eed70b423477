#pragma once

#include "store/RunContext.h"
#include "store/User.h"

#include <QString>

// What a sign-in exchange came to. The accounts layer answers it and changes
// nothing else: whoever asked (the coordinator) keeps the session, the status
// and the message, and decides what follows (a sync, a screen).
struct SignInResult {
    enum class Outcome {
        SignedIn,
        Refused,  // the service answered with a refusal (`message` says why)
        NoAnswer, // no status came back: the service could not be reached
    };

    Outcome outcome = Outcome::NoAnswer;
    // The account as it was sent.
    UserPtr user;
    // The account's session: the cookie the service set (or the one the
    // sign-in was sent with, when it set none) and this installation.
    RunContext session;
    // Whether the service set a session cookie.
    bool newSession = false;
    // Whether `status` is the status of the service's reply, which replaces
    // the other status texts; otherwise it says why there was none.
    bool answered = false;
    QString status;
    // The localised reason of a refusal, or nothing (the screen's fallback
    // text applies).
    QString message;

    bool signedIn() const { return outcome == Outcome::SignedIn; }
};
