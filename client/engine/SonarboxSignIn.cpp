// The coordinator's side of signing in and up: the accounts layer answers
// what happened, and the coordinator keeps the session, the status and the
// message, and the flags that decide what follows.
#include "Sonarbox.h"

#include "accounts/ReturningUser.h"
#include "accounts/SignUpFlow.h"
#include "accounts/Synchronize.h"
#include "service/CommonRequest.h"

#include <QtConcurrent/QtConcurrentRun>

RunContext Sonarbox::signInContext(const UserPtr &user) const {
    return {user, jSessionID(), deviceID()};
}

void Sonarbox::applySignIn(const SignInResult &result) {
    if (result.newSession)
        setJSessionID(result.session.session);
    if (result.answered)
        setReplyStatus(result.status);
    else
        setSyncStatus(result.status);
    setSyncMessage(result.message);
}

SignInResult Sonarbox::signIn(const UserPtr &user) {
    return signIn(user, serviceClient());
}

SignInResult Sonarbox::signIn(const UserPtr &user, const ServiceClient &through) {
    const SignInResult result = Synchronize::login(through, user, signInContext(user));
    applySignIn(result);
    return result;
}

bool Sonarbox::signOutOfService(const UserPtr &user, const ServiceClient &through) {
    if (!signIn(user, through).signedIn())
        return false;
    CommonRequest request(through);
    request.connect(runContext(), QByteArray("{}"), QStringLiteral("userLogOutProcess"));
    return !request.error();
}

SignInResult::Outcome Sonarbox::signInAgain(const UserPtr &user) {
    // Only a status set by this sign-in may be read while it runs.
    setSyncStatus(QString());
    const SignInResult result = ReturningUser::doLogin(serviceClient(), user, signInContext(user));
    applySignIn(result);
    if (result.signedIn())
        flow_stopProcesses = false;
    else
        flow_errorAtLogin = true;
    return result.outcome;
}

QFuture<SignInResult::Outcome> Sonarbox::signInAgainInBackground(const UserPtr &user) {
    return QtConcurrent::run([this, user] { return signInAgain(user); });
}

bool Sonarbox::registerUser(const UserPtr &user) {
    const SignUpFlow::Registration registration =
        SignUpFlow::registerUser(serviceClient(), user, signInContext(user));
    if (registration.answered)
        setReplyStatus(registration.status);
    else if (!registration.accepted && !registration.status.isEmpty())
        setSyncStatus(registration.status);
    return registration.accepted;
}

QFuture<bool> Sonarbox::registerUserInBackground(const UserPtr &user) {
    return QtConcurrent::run([this, user] { return registerUser(user); });
}
