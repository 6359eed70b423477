#pragma once

#include "store/User.h"

#include <QFuture>

class LoginCallback;

// Runs a sign-in on the background pool and, on success, makes the account
// the signed-in one: a new sign-in forgets the previous account's tracks and
// leads to the library picker; a sign-in that follows a failed automatic one
// keeps them and starts a sync at once. Screen changes happen on the main
// thread, before the background work ends.
class LoginPortal {
public:
    // Returns at once; the future answers whether the user was signed in.
    // `withCallBackVC` is the calling screen, or nullptr.
    static QFuture<bool> loginNewUser(const UserPtr &user, LoginCallback *withCallBackVC);
};
