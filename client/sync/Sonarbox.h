#pragma once

#include "Guarded.h"
#include "ProgressPage.h"
#include "StageQueue.h"
#include "StatusMenu.h"
#include "SyncPause.h"
#include "SyncProgress.h"
#include "SyncRun.h"
#include "settings/NetworkState.h"
#include "settings/Utility.h"
#include "store/Audio.h"
#include "store/RunContext.h"
#include "store/TrackFiles.h"
#include "store/User.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QTimer;
class Reachability;

// The coordinator: the client's run-time state for the signed-in session, and
// the sync that it drives as a chain of stages (scan, fingerprint and match,
// download, upload) on its stage queue, again one hour after each sync.
//
// Flags read from several threads are atomic; texts, records and lists are
// guarded and handed out as copies (records by shared reference).
class Sonarbox : public QObject {
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

    static Sonarbox &instance();

    // ---- wiring (stages, service report, browser, folder chooser, menu)
    void setStages(Stages stages) { m_stages.set(std::move(stages)); }
    static Stages placeholderStages();
    using StatusReporter =
        std::function<void(const RunContext &context, const QString &status, int trackAmount)>;
    void setStatusReporter(StatusReporter reporter) { m_statusReporter.set(std::move(reporter)); }
    void setUrlOpener(std::function<bool(const QUrl &)> opener) {
        m_urlOpener.set(std::move(opener));
    }
    // Asks the user for a folder; calls back with the path, or nothing on cancel.
    using FolderChooser =
        std::function<void(const QString &message, std::function<void(std::optional<QString>)>)>;
    void setFolderChooser(FolderChooser chooser) { m_folderChooser.set(std::move(chooser)); }
    // The menu is told the pause state at once.
    void setStatusMenu(StatusMenu *menu);
    StatusMenu &statusMenu();
    ProgressPage &progressPage() { return m_progress; }
    // Counts, bytes and the current track of the running sync.
    SyncProgress &syncProgress() { return m_syncProgress; }
    StageQueue &operationQueue() { return *m_queue; }
    // Whether transfers may run (the person's pause, a metered connection).
    // While they may not, no sync starts and a running one is stopped; when
    // they may again, a sync starts soon.
    SyncPause &syncPause() { return *m_pause; }

    // ---- session state
    UserPtr loggedUser() const { return m_loggedUser.get(); }
    void setLoggedUser(UserPtr user) { m_loggedUser.set(std::move(user)); }
    // Replaces the logged user only while it is still `expected` (a log-out
    // in between wins); true when it was replaced.
    bool replaceLoggedUser(const UserPtr &expected, UserPtr user) {
        bool replaced = false;
        m_loggedUser.update([&](UserPtr &current) {
            if (current == expected) {
                current = std::move(user);
                replaced = true;
            }
        });
        return replaced;
    }
    // Absent before the first sign-in; empty text after a log-out.
    std::optional<QString> jSessionID() const { return m_jSessionID.get(); }
    void setJSessionID(std::optional<QString> session) { m_jSessionID.set(std::move(session)); }
    QString syncStatus() const { return m_syncStatus.get(); }
    void setSyncStatus(const QString &v) { m_syncStatus.set(v); }
    // A reply's status: clears the other status texts (error, server
    // message, upgrade address) and keeps `status` as syncStatus.
    void setReplyStatus(const QString &status) {
        m_syncError.set(QString(""));
        m_serverMessage.set(QString(""));
        m_upgradeUrl.set(QString(""));
        m_syncStatus.set(status);
    }
    QString syncError() const { return m_syncError.get(); }
    void setSyncError(const QString &v) { m_syncError.set(v); }
    QString syncMessage() const { return m_syncMessage.get(); }
    void setSyncMessage(const QString &v) { m_syncMessage.set(v); }
    QString serverMessage() const { return m_serverMessage.get(); }
    void setServerMessage(const QString &v) { m_serverMessage.set(v); }
    QString upgradeUrl() const { return m_upgradeUrl.get(); }
    void setUpgradeUrl(const QString &v) { m_upgradeUrl.set(v); }
    QString facebookAccessToken() const { return m_facebookAccessToken.get(); }
    void setFacebookAccessToken(const QString &v) { m_facebookAccessToken.set(v); }

    QString deviceID() const { return m_deviceID.get(); }
    // The signed-in account, its session and this installation, as they are
    // now: what a sync or a request started now works for.
    RunContext runContext() const { return {loggedUser(), jSessionID(), deviceID()}; }
    // A run for the current context, stopped with every other live run by
    // the next stop request (a scan that the scan summary starts by itself).
    SyncRunPtr newRun();
    // Whether a stage of `run` is to stop: the run was stopped, or a stop
    // request is pending.
    bool stopRequested(const SyncRun &run) const {
        return flow_stopProcesses.load() || run.isStopped();
    }
    int minOSVersion() const { return Utility::minOSVersion(); }
    void setMinOSVersion(int v) { Utility::setMinOSVersion(v); }
    bool landingPageEnabled() const { return m_landingPageEnabled; }
    QString userDirectory() const { return m_userDirectory.get(); }
    QString userDownloadDirectory() const { return m_userDownloadDirectory.get(); }
    void setUserDownloadDirectory(const QString &v) { m_userDownloadDirectory.set(v); }
    int userPickedMediaLibrary() const { return m_userPickedMediaLibrary.load(); }
    void setUserPickedMediaLibrary(int v) {
        m_userPickedMediaLibrary = v;
        emit libraryChoiceChanged();
    }
    bool didUserPickLibrary() const { return m_didUserPickLibrary.load(); }
    void setDidUserPickLibrary(bool v) { m_didUserPickLibrary = v; }
    QList<QUrl> userMediaFoldersToScan() const { return m_userMediaFoldersToScan.get(); }
    void setUserMediaFoldersToScan(const QList<QUrl> &v) {
        m_userMediaFoldersToScan.set(v);
        emit libraryChoiceChanged();
    }
    QMap<QString, QString> userMediaFoldersToScanWithSongAmounts() const {
        return m_folderSongAmounts.get();
    }
    void setUserMediaFoldersToScanWithSongAmounts(const QMap<QString, QString> &v) {
        m_folderSongAmounts.set(v);
    }
    QStringList validExtensions() const { return Utility::validExtensions(); }

    // The tracks of the last scan that may need work. A folder walk leaves
    // out the files that are stored tracks already, so the count of all the
    // music it found is kept beside them.
    QList<AudioPtr> localLibraryTracks() const { return m_localLibrary.get().tracks; }
    qsizetype localLibraryTrackCount() const { return m_localLibrary.get().found; }
    void setLocalLibraryTracks(const QList<AudioPtr> &v) { m_localLibrary.set({v, v.size()}); }
    // Adds tracks found by a scan, among `found` music files.
    void addLocalLibraryTracks(const QList<AudioPtr> &tracks, qsizetype found) {
        m_localLibrary.update([&](LocalLibrary &l) {
            l.tracks += tracks;
            l.found += found;
        });
    }
    // The stored tracks whose files the last scan found gone, and no file
    // new to it accounted for: the fingerprint stage may still find their new
    // versions by the recognised track.
    QList<StoredFile> goneLibraryTracks() const { return m_localLibrary.get().gone; }
    // What is left for work once the scan's findings were weighed against the
    // store (the count of music found stays).
    void settleLocalLibrary(const QList<AudioPtr> &tracks, const QList<StoredFile> &gone) {
        m_localLibrary.update([&](LocalLibrary &l) {
            l.tracks = tracks;
            l.gone = gone;
        });
    }
    QList<AudioPtr> cloudLibraryTracks() const { return m_cloudLibraryTracks.get(); }
    void setCloudLibraryTracks(const QList<AudioPtr> &v) { m_cloudLibraryTracks.set(v); }
    // The files found to repeat a stored track, each path once.
    QList<AudioPtr> duplicateLibraryTracks() const { return m_duplicates.get().tracks; }
    QSet<QString> duplicatePaths() const { return m_duplicates.get().paths; }
    void setDuplicateLibraryTracks(const QList<AudioPtr> &v);
    void addDuplicateLibraryTrack(const AudioPtr &track);
    qint64 syncMilliSeconds() const { return m_syncMilliSeconds.load(); }
    void setSyncMilliSeconds(qint64 v) { m_syncMilliSeconds = v; }

    // The current sync's stage operations (none before the first sync).
    StageOperationPtr operation_scanFileSysForMedia() const { return m_scanOp.get(); }
    StageOperationPtr operation_fingerprintLocalMedia() const { return m_fingerprintOp.get(); }
    StageOperationPtr operation_downloadFilesFromCloud() const { return m_downloadOp.get(); }
    StageOperationPtr operation_uploadFilesToCloud() const { return m_uploadOp.get(); }
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
    std::atomic<bool> flow_stopProcesses{false};
    // The network is gone (shared with the request transport).
    std::atomic<bool> &isAppOffline = NetworkState::offline();
    std::atomic<bool> flow_newUser{false};
    std::atomic<bool> flow_errorAtLogin{false};
    std::atomic<bool> flow_changeSyncLibrarySyncFromSettings{false};
    std::atomic<bool> registrationProcess{false};
    std::atomic<bool> fbLogin{false};
    std::atomic<bool> debugMode{false};
    std::atomic<bool> isFourInchScreen{false};
    std::atomic<bool> settings_syncNewSongs{true};
    std::atomic<bool> settings_openAtLogin{false};
    std::atomic<bool> settings_showNotifications{false};

    // ---- sync control
    void sync(bool includeScan);
    void syncAction();
    void executeTimedSync();
    void stopSyncAction();
    // Stops the running sync because it cannot go on: the reason is shown
    // after "Sync stopped: " on the progress page and in the sync's outcome.
    void stopSyncBecause(const QString &reason);
    void applicationWasStopped();
    void syncStarted();
    void syncFinished();

    // ---- stage entry points (run on the stage queue)
    // `run`: the sync's run; none: a new run of the current context.
    void scanLocalMedia(Completion completion, SyncRunPtr run = {});
    void fingerPrintLocalMedia(const SyncRunPtr &run, const StageOperationPtr &next);
    void downloadFilesFromCloud(const SyncRunPtr &run, const StageOperationPtr &next);
    void uploadFilesToCloud(const SyncRunPtr &run, quint64 chain = 0);

    // ---- service report, session and platform commands
    // For the current account, or for the account of a run.
    void notifyMothership(const QString &status, int withTrackAmount);
    void notifyMothership(const RunContext &context, const QString &status, int withTrackAmount);
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
    // Answers whether a notification was shown.
    bool notifyUser(const QString &title, const QString &message);
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
    // The library choice or the chosen folders were set (any thread).
    void libraryChoiceChanged();

private:
    Sonarbox();
    void initializeState();
    void resetProgressBar();
    void openUrl(const QString &url);
    void scheduleTimedSync();
    // Stops every live run (their stages and transfers end).
    void stopRuns();
    // Stops or resumes after a change of the pause (main thread).
    void followPause();
    void showPause();

    Guarded<UserPtr> m_loggedUser;
    Guarded<std::optional<QString>> m_jSessionID;
    Guarded<QString> m_syncStatus, m_syncError, m_syncMessage, m_serverMessage, m_upgradeUrl;
    Guarded<QString> m_facebookAccessToken;
    Guarded<QString> m_deviceID;
    Guarded<QString> m_userDirectory;
    Guarded<QString> m_userDownloadDirectory;
    Guarded<QList<QUrl>> m_userMediaFoldersToScan;
    Guarded<QMap<QString, QString>> m_folderSongAmounts;
    struct LocalLibrary {
        QList<AudioPtr> tracks;
        qsizetype found = 0;
        QList<StoredFile> gone;
    };
    Guarded<LocalLibrary> m_localLibrary;
    Guarded<QList<AudioPtr>> m_cloudLibraryTracks;
    struct Duplicates {
        QList<AudioPtr> tracks;
        QSet<QString> paths;
    };
    Guarded<Duplicates> m_duplicates;
    // Every run not yet ended, so that one stop ends them all.
    Guarded<QList<std::weak_ptr<SyncRun>>> m_runs;
    // The run of the current sync's chain.
    Guarded<std::weak_ptr<SyncRun>> m_chainRun;
    Guarded<StageOperationPtr> m_scanOp, m_fingerprintOp, m_downloadOp, m_uploadOp;
    Guarded<Stages> m_stages;
    Guarded<StatusReporter> m_statusReporter;
    Guarded<std::function<bool(const QUrl &)>> m_urlOpener;
    Guarded<FolderChooser> m_folderChooser;
    Guarded<StatusMenu *> m_statusMenu;

    std::atomic<int> m_userPickedMediaLibrary{1};
    std::atomic<bool> m_didUserPickLibrary{false};
    std::atomic<qint64> m_syncMilliSeconds{0};
    bool m_landingPageEnabled = true;

    SyncPause *m_pause = nullptr;
    // Whether the last pause change followed was a pause (main thread).
    bool m_pauseFollowed = false;
    ProgressPage m_progress;
    SyncProgress m_syncProgress;
    std::unique_ptr<StageQueue> m_queue;
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
