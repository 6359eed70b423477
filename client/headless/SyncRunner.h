#pragma once

#include "accounts/SignInResult.h"
#include "engine/SyncRetry.h"
#include "sync/SyncProgress.h"

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QObject>
#include <QTimer>

// One run of the sync engine: signs the stored account in again (on the
// background pool, as the main window does for a returning user) and starts
// a sync when that succeeded. With `once` it ends after that sync: 0 when it
// completed, 1 when it was stopped or could not run. Otherwise the
// coordinator's timer syncs again an hour after each completed sync, a sync
// that was stopped or a service that could not be reached is tried again
// after the retry's pause (signed in again first), and the run ends (0) when
// stop() is called. While syncing is paused nothing is asked of the service:
// a run waits for the resume (with `once` it ends with 1).
class SyncRunner : public QObject {
    Q_OBJECT
public:
    explicit SyncRunner(bool once, QObject *parent = nullptr);

    // Call with the event loop running.
    void start();
    // Stops the running sync and ends the run once the stages have let go.
    // A second call ends it at once.
    void stop();

    // The exit code of --once when the sync completed but some tracks failed.
    static constexpr int CompletedWithFailures = 3;

signals:
    void finished(int exitCode);

private:
    void signIn();
    void signedIn();
    void startSync();
    void onProgressEvent(const SyncProgress::Event &event);
    void retryLater();
    // True (and says so) when syncing is paused now.
    bool waitWhilePaused();
    void pauseChanged();
    void finishWhenIdle();
    void finish(int exitCode);

    const bool m_once;
    bool m_stopping = false;
    bool m_finished = false;
    bool m_signedInOnce = false;
    bool m_waitingForResume = false;
    SyncRetry m_retry;
    QTimer m_idlePoll;
    QElapsedTimer m_stoppingFor;
    QFutureWatcher<SignInResult::Outcome> m_signIn;
};
