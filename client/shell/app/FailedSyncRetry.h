#pragma once

#include "accounts/SignInResult.h"
#include "engine/SyncRetry.h"
#include "store/User.h"
#include "sync/SyncProgress.h"

#include <QFutureWatcher>
#include <QObject>

#include <functional>

// The desktop program's retry of a sync that something other than the person
// stopped while the network stayed up: the service answered with an error,
// or refused the session. Nobody is at a terminal to start it again and no
// return of the network will, so after the headless program's pause the
// stored account is signed in again (a session the service forgot is
// replaced) and the sync starts. Any sync started meanwhile cancels the
// wait; a sync the network's loss ended is taken up by its return instead.
class FailedSyncRetry : public QObject {
    Q_OBJECT
public:
    // `mayStart`: whether the program is ready for a sync now (no sign-in on
    // the screen, say).
    explicit FailedSyncRetry(std::function<bool()> mayStart, QObject *parent = nullptr);

    SyncRetry &retry() { return m_retry; }

signals:
    // Signed in again, the stored account was refused: the person must sign in.
    void signInRefused();

private:
    void onEvent(const SyncProgress::Event &event);
    void retryNow();
    void signedIn();

    std::function<bool()> m_mayStart;
    SyncRetry m_retry;
    QFutureWatcher<SignInResult::Outcome> m_signIn;
    UserPtr m_signingIn;
};
