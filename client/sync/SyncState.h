#pragma once

#include "EngineParts.h"
#include "Guarded.h"
#include "ProgressPage.h"
#include "StageQueue.h"
#include "StatusMenu.h"
#include "SyncProgress.h"
#include "SyncRun.h"
#include "service/ServiceClient.h"
#include "settings/LibraryChoice.h"
#include "settings/NetworkState.h"
#include "settings/Utility.h"
#include "store/RunContext.h"
#include "store/User.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <functional>
#include <optional>

// What the stages of a sync share with whoever drives them: the signed-in
// session the runs are made for, the listing position a run starts from, the
// library choice and the download folder, the progress outputs, and the stop
// request. What one stage leaves for the next belongs to the run (SyncRun),
// never to this state. The stages are handed it; the coordinator above them
// is one, and adds the schedule and the session's commands.
//
// Flags read from several threads are atomic; texts, records and lists are
// guarded and handed out as copies (records by shared reference).
class SyncState : public QObject {
    Q_OBJECT
public:
    using StatusReporter =
        std::function<void(const RunContext &context, const QString &status, int trackAmount)>;

    // ---- what only the driver of the stages can do
    virtual void stopSyncAction() = 0;
    // Stops the running sync because it cannot go on: the reason is shown
    // after "Sync stopped: " on the progress page and in the sync's outcome.
    virtual void stopSyncBecause(const QString &reason) = 0;
    // A stage saw the stop request and ends: the request is answered.
    void applicationWasStopped();

    // ---- what the engine works with (its own, or the program's)
    NSDefaultsUtility &preferences() const { return *m_preferences; }
    // The engine's own configuration, or the one the program has loaded now.
    const DeploymentConfig &deployment() const;
    NotificationCenter &notifications() const { return *m_notifications; }
    GenericDAO &store() const { return *m_store; }

    // ---- progress outputs and the queue the stages run on
    void setStatusReporter(StatusReporter reporter) { m_statusReporter.set(std::move(reporter)); }
    // The menu is told the pause state at once.
    void setStatusMenu(StatusMenu *menu);
    StatusMenu &statusMenu();
    ProgressPage &progressPage() { return m_progress; }
    // Counts, bytes and the current track of the running sync.
    SyncProgress &syncProgress() { return m_syncProgress; }
    StageQueue &operationQueue() { return *m_queue; }

    // ---- session state
    UserPtr loggedUser() const { return m_loggedUser.get(); }
    void setLoggedUser(UserPtr user) { m_loggedUser.set(std::move(user)); }
    // Replaces the logged user only while it is still `expected` (a log-out
    // in between wins); true when it was replaced.
    bool replaceLoggedUser(const UserPtr &expected, UserPtr user);
    // Absent before the first sign-in; empty text after a log-out.
    std::optional<QString> jSessionID() const { return m_jSessionID.get(); }
    void setJSessionID(std::optional<QString> session) { m_jSessionID.set(std::move(session)); }
    QString syncStatus() const { return m_syncStatus.get(); }
    void setSyncStatus(const QString &v) { m_syncStatus.set(v); }
    // A reply's status: clears the other status texts (error, server
    // message, upgrade address) and keeps `status` as syncStatus.
    void setReplyStatus(const QString &status);
    QString syncError() const { return m_syncError.get(); }
    void setSyncError(const QString &v) { m_syncError.set(v); }
    QString syncMessage() const { return m_syncMessage.get(); }
    void setSyncMessage(const QString &v) { m_syncMessage.set(v); }
    QString serverMessage() const { return m_serverMessage.get(); }
    void setServerMessage(const QString &v) { m_serverMessage.set(v); }
    QString upgradeUrl() const { return m_upgradeUrl.get(); }
    void setUpgradeUrl(const QString &v) { m_upgradeUrl.set(v); }

    QString deviceID() const { return m_deviceID.get(); }
    // The signed-in account, its session and this installation, as they are
    // now: what a sync or a request started now works for.
    RunContext runContext() const { return {loggedUser(), jSessionID(), deviceID()}; }
    // A run for the current context, starting from the session's listing
    // position and download folder, stopped with every other live run by the
    // next stop request.
    SyncRunPtr newRun();
    // Whether a stage of `run` is to stop: the run was stopped, or a stop
    // request is pending.
    bool stopRequested(const SyncRun &run) const {
        return flow_stopProcesses.load() || run.isStopped();
    }
    int minOSVersion() const { return Utility::minOSVersion(); }
    void setMinOSVersion(int v) { Utility::setMinOSVersion(v); }

    // ---- the library choice, the folders and the download folder
    QString userDirectory() const { return m_userDirectory.get(); }
    QString userDownloadDirectory() const { return m_userDownloadDirectory.get(); }
    void setUserDownloadDirectory(const QString &v) { m_userDownloadDirectory.set(v); }
    // The library choice lives in the preferences alone: every reader sees
    // the one stored value, and setting it announces the change.
    LibraryChoice userPickedMediaLibrary() const;
    void setUserPickedMediaLibrary(LibraryChoice choice);
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

    // ---- what the session learns across its syncs
    // The files found to repeat a stored track, each path once: a later
    // scan does not offer them again.
    QList<AudioPtr> duplicateLibraryTracks() const { return m_duplicates.get().tracks; }
    QSet<QString> duplicatePaths() const { return m_duplicates.get().paths; }
    void setDuplicateLibraryTracks(const QList<AudioPtr> &v);
    void addDuplicateLibraryTrack(const AudioPtr &track);
    // Where the next run's cloud listing starts: a run starts from it and
    // hands its own position back when its downloads are done.
    qint64 syncMilliSeconds() const { return m_syncMilliSeconds.load(); }
    void setSyncMilliSeconds(qint64 v) { m_syncMilliSeconds = v; }

    // The current sync's stage operations (none before the first sync).
    StageOperationPtr operation_scanFileSysForMedia() const { return m_scanOp.get(); }
    StageOperationPtr operation_fingerprintLocalMedia() const { return m_fingerprintOp.get(); }
    StageOperationPtr operation_downloadFilesFromCloud() const { return m_downloadOp.get(); }
    StageOperationPtr operation_uploadFilesToCloud() const { return m_uploadOp.get(); }

    std::atomic<bool> flow_stopProcesses{false};
    // The network is gone (shared with the request transport).
    std::atomic<bool> &isAppOffline = NetworkState::offline();
    std::atomic<bool> flow_newUser{false};
    std::atomic<bool> settings_showNotifications{false};

    // ---- reports
    // For the current account, or for the account of a run.
    void notifyMothership(const QString &status, int withTrackAmount);
    void notifyMothership(const RunContext &context, const QString &status, int withTrackAmount);
    // Answers whether a notification was shown.
    bool notifyUser(const QString &title, const QString &message);

    // ---- the service
    // What every request of this state's stages and session goes through.
    ServiceClient &serviceClient() { return m_serviceClient; }
    const ServiceClient &serviceClient() const { return m_serviceClient; }

signals:
    // The library choice or the chosen folders were set (any thread).
    void libraryChoiceChanged();

protected:
    explicit SyncState(EngineParts parts);
    ~SyncState() override;

    // The state of a fresh start: from the preferences, with the lists empty.
    void loadState();
    // Forgets the signed-in session's texts and the chain (tests' fresh start).
    void clearSession();
    // Forgets the account's lists, folders and library choice (a log-out).
    void forgetAccountData();
    // Tells the menu the pause state (the coordinator knows it).
    virtual void showPause() {}
    // Stops every live run (their stages and transfers end).
    void stopRuns();

    Guarded<StageOperationPtr> m_scanOp, m_fingerprintOp, m_downloadOp, m_uploadOp;
    ProgressPage m_progress;
    SyncProgress m_syncProgress;
    std::unique_ptr<StageQueue> m_queue;
    std::atomic<qint64> m_syncMilliSeconds{0};

private:
    NSDefaultsUtility *m_preferences;
    const std::optional<DeploymentConfig> m_deployment;
    NotificationCenter *m_notifications;
    GenericDAO *m_store;
    Guarded<UserPtr> m_loggedUser;
    Guarded<std::optional<QString>> m_jSessionID;
    Guarded<QString> m_syncStatus, m_syncError, m_syncMessage, m_serverMessage, m_upgradeUrl;
    Guarded<QString> m_deviceID;
    Guarded<QString> m_userDirectory;
    Guarded<QString> m_userDownloadDirectory;
    Guarded<QList<QUrl>> m_userMediaFoldersToScan;
    Guarded<QMap<QString, QString>> m_folderSongAmounts;
    struct Duplicates {
        QList<AudioPtr> tracks;
        QSet<QString> paths;
    };
    Guarded<Duplicates> m_duplicates;
    // Every run not yet ended, so that one stop ends them all.
    Guarded<QList<std::weak_ptr<SyncRun>>> m_runs;
    Guarded<StatusReporter> m_statusReporter;
    Guarded<StatusMenu *> m_statusMenu;
    std::atomic<bool> m_didUserPickLibrary{false};
    ServiceClient m_serviceClient;
};
