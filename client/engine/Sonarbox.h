#pragma once

#include "accounts/SignInResult.h"
#include "sync/Guarded.h"
#include "sync/StageQueue.h"
#include "sync/SyncPause.h"
#include "sync/SyncRun.h"
#include "sync/SyncState.h"

#include <QFuture>
#include <QObject>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QTimer;
class Reachability;

// The coordinator: the signed-in session and what it shares with the stages
// (SyncState), the sync that it drives as a chain of stages (scan, fingerprint
// and match, download, upload) on its stage queue, again one hour after each
// sync, and the session's commands. Sign-in answers what happened; the
// coordinator keeps it (applySignIn).
class Sonarbox : public SyncState {
    Q_OBJECT
public:
    using Completion = std::function<void()>;

    // The bodies of the stages. Each gets the run it works for and the
    // completion that continues the chain; a stage that sees a stop request
    // (`stopRequested`) calls `applicationWasStopped()` and returns without
    // calling it.
    using Stage = std::function<void(const SyncRunPtr &run, Completion)>;
    struct Stages {
        Stage scanFileSystemForMedia;
        Stage fingderPrintLocalMediaFiles;
        Stage syncCloudMediaWithLocal;
        Stage uploadUnSyncedFiles;
        // Resets the fingerprint stage's count of matched songs.
        std::function<void(int)> setAmoundOfSongsFingerprinted;
    };

    // The programs' engine, made of the program's preferences,
    // configuration and notification centre.
    static Sonarbox &instance();
    // An engine of its own (a second one in the process works beside the
    // program's). Create it on the main thread.
    explicit Sonarbox(EngineParts parts);

    // ---- wiring (stages, service report, browser, folder chooser, menu)
    void setStages(Stages stages) { m_stages.set(std::move(stages)); }
    Stages placeholderStages();
    void setUrlOpener(std::function<bool(const QUrl &)> opener) {
        m_urlOpener.set(std::move(opener));
    }
    // Asks the user for a folder; calls back with the path, or nothing on cancel.
    using FolderChooser =
        std::function<void(const QString &message, std::function<void(std::optional<QString>)>)>;
    void setFolderChooser(FolderChooser chooser) { m_folderChooser.set(std::move(chooser)); }
    // Whether transfers may run (the person's pause, a metered connection).
    // While they may not, no sync starts and a running one is stopped; when
    // they may again, a sync starts soon.
    SyncPause &syncPause() { return *m_pause; }

    bool landingPageEnabled() const { return m_landingPageEnabled; }
    QTimer *syncTimer() const { return m_syncTimer; }
    // One hour; tests shorten it.
    void setTimedSyncInterval(int ms) { m_timedSyncIntervalMs = ms; }
    // A sync ended by the network (gone offline, or its listing failed) is
    // started again `delayMs` after the network comes back, and a timed sync
    // that found the network gone waits for it. The desktop program turns
    // this on; the headless program retries by itself.
    void setResumeAfterNetworkLoss(bool resume, int delayMs = 5000) {
        m_resumeAfterNetworkLoss = resume;
        m_resumeDelayMs = delayMs;
    }
    bool resumePending() const { return m_resumeWhenOnline.load(); }

    std::atomic<bool> syncInProgress{false};
    std::atomic<bool> flow_errorAtLogin{false};
    std::atomic<bool> flow_changeSyncLibrarySyncFromSettings{false};
    std::atomic<bool> registrationProcess{false};
    std::atomic<bool> fbLogin{false};
    std::atomic<bool> debugMode{false};
    std::atomic<bool> isFourInchScreen{false};
    std::atomic<bool> settings_syncNewSongs{true};
    std::atomic<bool> settings_openAtLogin{false};

    // ---- sync control
    void sync(bool includeScan);
    void syncAction();
    void executeTimedSync();
    void stopSyncAction() override;
    void stopSyncBecause(const QString &reason) override;
    void syncStarted();
    void syncFinished();

    // ---- stage entry points (run on the stage queue)
    // `run`: the sync's run; none: a new run of the current context (the
    // scan summary's own scan). Answers the run, whose findings become the
    // last scan's.
    SyncRunPtr scanLocalMedia(Completion completion, SyncRunPtr run = {});
    void fingerPrintLocalMedia(const SyncRunPtr &run, const StageOperationPtr &next);
    void downloadFilesFromCloud(const SyncRunPtr &run, const StageOperationPtr &next);
    void uploadFilesToCloud(const SyncRunPtr &run, quint64 chain = 0);

    // The run of the current sync's chain, or of the last one while its
    // stage operations are kept (until the next sync or a log-out).
    SyncRunPtr chainRun() const { return m_chainRun.get().lock(); }

    // ---- what the last scan found: shown by the scan summary and the
    // library picker, and what a sync started without a scan of its own
    // (the first sync after the summary, one restarted when the network
    // returns) works on. A log-out forgets it.
    QList<AudioPtr> localLibraryTracks() const { return m_lastScan.get().tracks; }
    qsizetype localLibraryTrackCount() const { return m_lastScan.get().found; }
    void setLocalLibraryTracks(const QList<AudioPtr> &tracks) {
        m_lastScan.set({tracks, tracks.size(), {}});
    }

    // ---- sign-in: the accounts layer answers, the coordinator keeps it
    // The session, status and message of a sign-in exchange.
    void applySignIn(const SignInResult &result);
    // The context a sign-in of `user` is sent with: the session cookie and
    // device ID as they are now.
    RunContext signInContext(const UserPtr &user) const;
    // Signs `user` in and keeps the outcome; blocks for one exchange, never
    // call it on the main thread. `through` is the coordinator's own client
    // unless one request is to be made with other limits.
    SignInResult signIn(const UserPtr &user);
    SignInResult signIn(const UserPtr &user, const ServiceClient &through);
    // Ends `user`'s session on the service: a sign-in for a fresh session,
    // then the log-out, both through `through`. Answers whether the service
    // heard it; blocks, never call it on the main thread.
    bool signOutOfService(const UserPtr &user, const ServiceClient &through);
    // Signs the stored account in again at a start: on success a stop
    // request left over is cleared; on failure the next sign-in from the
    // login screen goes straight to a sync (flow_errorAtLogin).
    SignInResult::Outcome signInAgain(const UserPtr &user);
    QFuture<SignInResult::Outcome> signInAgainInBackground(const UserPtr &user);
    // Registers a new account and keeps the service's status; blocks.
    bool registerUser(const UserPtr &user);
    QFuture<bool> registerUserInBackground(const UserPtr &user);

    // ---- session and platform commands
    void logOutAction();
    void logOut();
    void resetUser();
    // Asks for a new download folder; `showPath` gets the shortened path.
    void changeDefaultDownloadDir(std::function<void(const QString &)> showPath = {});
    void showNewUserFlow(bool newUser);
    void launchSBX();
    void launchSBXWebsite();
    void helpAction();
    void quitAction() {}

    // The desktop program calls this once at start: on its first start it
    // adds itself to the login items; later it follows "loadAppOnOSBoot" (the
    // settings' switch). Creating the coordinator registers nothing, so the
    // headless program and the tests leave the session alone.
    void registerLoginItemAtStart();
    void addAppAsLoginItem();
    bool isAppInLoginItems() const;
    void deleteAppFromLoginItem();
    void isTheAppRunningFirstTime();
    void getOSVersion();
    void reachabilityChanged(bool reachable);
    // Creates and starts the monitor of the deployment's reachability target
    // and follows its changes with `reachabilityChanged`. Call on the main
    // thread; a second call while monitoring does nothing.
    void startNetworkMonitoring();
    void stopNetworkMonitoring();
    const std::shared_ptr<Reachability> &reachability() const { return m_reachability; }

    // Rebuilds the state from the preferences, as a fresh start does (tests).
    void reinitialize();

signals:
    void syncStateChanged();

private:
    void initializeState();
    void resetProgressBar();
    void openUrl(const QString &url);
    void scheduleTimedSync();
    // Stops or resumes after a change of the pause (main thread).
    void followPause();
    void showPause() override;

    // The run of the current sync's chain.
    Guarded<std::weak_ptr<SyncRun>> m_chainRun;
    Guarded<SyncRun::LocalLibrary> m_lastScan;
    Guarded<Stages> m_stages;
    Guarded<std::function<bool(const QUrl &)>> m_urlOpener;
    Guarded<FolderChooser> m_folderChooser;

    bool m_landingPageEnabled = true;

    SyncPause *m_pause = nullptr;
    // Whether the last pause change followed was a pause (main thread).
    bool m_pauseFollowed = false;
    QTimer *m_syncTimer = nullptr;
    int m_timedSyncIntervalMs = 3600 * 1000;
    QTimer *m_resumeTimer = nullptr;
    std::atomic<bool> m_resumeAfterNetworkLoss{false};
    std::atomic<int> m_resumeDelayMs{5000};
    std::atomic<bool> m_resumeWhenOnline{false};
    // Which chain is current: a chain replaced by a newer sync may still finish
    // its running stage, but must not end the newer sync.
    std::atomic<quint64> m_chainGeneration{0};
    // The network monitor (main thread only) and its observer token.
    std::shared_ptr<Reachability> m_reachability;
    int m_reachabilityObserver = 0;
};
