// The sync chain of the coordinator: starting, chaining, stopping and
// finishing a sync, and the hourly timed sync.
#include "Sonarbox.h"
#include "sync/RetireReplaced.h"

#include "settings/Logging.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/PreferenceKeys.h"

#include <QDateTime>
#include <QThread>
#include <QTimer>

#include <utility>

namespace {
void logCall(const char *selector) {
    qCInfo(lcSync).noquote() << QStringLiteral("[%1] @class:Sonarbox").arg(QLatin1String(selector));
}

// Kept for `sonarbox-headless --status` and the next start.
void recordSyncEnd(const NSDefaultsUtility &preferences, const QString &outcome) {
    preferences.setText(PreferenceKeys::LastSyncTime,
                        QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    preferences.setText(PreferenceKeys::LastSyncOutcome, outcome);
}
} // namespace

void Sonarbox::sync(bool includeScan) {
    logCall("sync:");
    // Every start comes here (the menu, the timer, the network's return, a
    // sign-in): none while transfers may not run.
    if (const QString paused = m_pause->statusText(); !paused.isEmpty()) {
        qCInfo(lcSync).noquote() << QStringLiteral("=== No sync: %1").arg(paused);
        // The progress page's button may already say "Stop".
        m_progress.setSyncButtonTitle(QStringLiteral("Sync"));
        m_progress.setDescription(paused);
        return;
    }
    qCInfo(lcSync) << "=== SYNC PROCESS START";

    // A sync requested while one runs restarts the chain: the stages of the
    // running chain that have not started are cancelled, the running one
    // finishes, and the new chain follows it on the queue. No request is lost,
    // and no operation is ever queued twice.
    if (syncInProgress) {
        qCInfo(lcSync) << "=== SYNC ALREADY RUNNING: restarting the chain";
        for (const auto &op :
             {m_scanOp.get(), m_fingerprintOp.get(), m_downloadOp.get(), m_uploadOp.get()}) {
            if (op)
                op->cancel();
        }
    }

    // The run of an earlier chain gives way at once: its stage stops at its
    // next item and its transfers end, instead of polling a flag that the
    // first of them to notice clears.
    if (const SyncRunPtr earlier = m_chainRun.get().lock())
        earlier->stop();
    syncStarted();
    const quint64 chain = ++m_chainGeneration;
    // The account this sync works for, to its end.
    const SyncRunPtr run = newRun();
    if (!includeScan)
        run->setLocalLibrary(m_lastScan.get());
    m_chainRun.set(run);

    auto upload = std::make_shared<StageOperation>(
        [this, run, chain] { uploadFilesToCloud(run, chain); }, "uploadFilesToCloud");
    auto download = std::make_shared<StageOperation>(
        [this, run, upload] { downloadFilesFromCloud(run, upload); }, "downloadFilesFromCloud");
    auto fingerprint = std::make_shared<StageOperation>(
        [this, run, download] { fingerPrintLocalMedia(run, download); }, "fingerPrintLocalMedia");
    auto scan = std::make_shared<StageOperation>([this, run] { scanLocalMedia({}, run); },
                                                 "scanLocalMedia");
    m_scanOp.set(scan);
    m_fingerprintOp.set(fingerprint);
    m_downloadOp.set(download);
    m_uploadOp.set(upload);
    if (includeScan)
        m_queue->addOperation(scan);
    m_queue->addOperation(fingerprint);
}

void Sonarbox::syncAction() {
    qCInfo(lcSync) << "Sync";
    sync(true);
}

void Sonarbox::executeTimedSync() {
    qCInfo(lcSync).noquote() << QString::number(m_syncTimer->isActive() ? 1 : 0);
    if (!settings_syncNewSongs || !loggedUser())
        return;
    if (isAppOffline && m_resumeAfterNetworkLoss) {
        // It would only stop at once; the network's return starts it.
        qCInfo(lcSync) << "=== Timed sync: offline, waiting for the network";
        m_resumeWhenOnline = true;
        return;
    }
    sync(true);
}

void Sonarbox::stopSyncAction() {
    stopSyncBecause(QString());
}

void Sonarbox::stopSyncBecause(const QString &reason) {
    logCall("stopSyncAction:");
    const QString how = reason.isEmpty() ? QStringLiteral("Sync stopped")
                                         : QStringLiteral("Sync stopped: %1").arg(reason);
    if (!reason.isEmpty())
        qCWarning(lcSync).noquote() << how;
    flow_stopProcesses = true;
    stopRuns();
    const bool wasSyncing = syncInProgress.exchange(false);
    // A sync that could not go on (its listing failed, the network went) is
    // taken up again when the network returns; one the person stopped is not.
    if (wasSyncing)
        m_resumeWhenOnline = m_resumeAfterNetworkLoss && (isAppOffline || !reason.isEmpty());
    m_progress.setSyncButtonTitle(QStringLiteral("Sync"));
    for (const auto &op : {operation_scanFileSysForMedia(), operation_fingerprintLocalMedia(),
                           operation_downloadFilesFromCloud(), operation_uploadFilesToCloud()}) {
        if (op)
            op->cancel();
    }
    statusMenu().statusMenuSyncStopped();
    m_progress.setDescription(how);
    if (wasSyncing) {
        m_progress.endSync();
        recordSyncEnd(preferences(), how);
        m_syncProgress.endSync(how);
    }
    emit syncStateChanged();
}

void Sonarbox::syncStarted() {
    logCall("syncStarted");
    statusMenu().statusMenuSyncStarted();
    m_progress.setTextContent(QStringLiteral(
        "We are adding your music now. Soon you'll be listening to all your music anywhere."));
    syncInProgress = true;
    m_progress.beginSync();
    m_syncProgress.beginSync();
    m_progress.setSyncButtonTitle(QStringLiteral("Stop"));
    emit syncStateChanged();
}

void Sonarbox::syncFinished() {
    logCall("syncFinished");
    // A sync that went through every stage is completed, but one in which
    // uploads were refused or downloads failed must say so, not look like
    // success: the outcome names what failed and why.
    const QString failures = m_syncProgress.failureSummary();
    const QString outcome = failures.isEmpty() ? QStringLiteral("Sync Completed")
                                               : QStringLiteral("Sync Completed: %1").arg(failures);
    if (!failures.isEmpty())
        qCWarning(lcSync).noquote() << outcome;
    m_syncProgress.showCompleted();
    m_progress.setDescription(outcome);
    m_progress.setSyncButtonTitle(QStringLiteral("Sync"));
    m_progress.setTextContent(
        QStringLiteral("We have added your music. Now you can listen to your music anywhere."));
    notifyUser(QStringLiteral("Sync Complete"),
               failures.isEmpty()
                   ? QStringLiteral("Your media is now synced with Sonarbox")
                   : QStringLiteral("Not everything could be synced: %1").arg(failures));
    statusMenu().statusMenuSyncFinished();
    flow_stopProcesses = false;
    syncInProgress = false;
    m_resumeWhenOnline = false;
    m_progress.endSync();
    recordSyncEnd(preferences(), outcome);
    m_syncProgress.endSync(outcome);
    scheduleTimedSync();
    emit syncStateChanged();
}

void Sonarbox::followPause() {
    const QString paused = m_pause->statusText();
    const bool wasPaused = std::exchange(m_pauseFollowed, !paused.isEmpty());
    if (!paused.isEmpty()) {
        // Nothing may be sent or fetched: the running sync ends as Stop ends
        // it (its transfer is aborted, nothing half-done is kept), and
        // neither the network's return nor a resume may start one.
        m_resumeTimer->stop();
        if (syncInProgress)
            stopSyncBecause(paused);
        else
            m_progress.setDescription(paused);
        m_resumeWhenOnline = false;
    } else if (wasPaused && loggedUser() && !jSessionID().value_or(QString()).isEmpty() &&
               didUserPickLibrary()) {
        // Soon, as after the network's return. A program that has not
        // signed in yet syncs once it has.
        qCInfo(lcSync).noquote()
            << QStringLiteral("=== Syncing resumed: a sync starts in %1 ms").arg(m_resumeDelayMs);
        m_resumeWhenOnline = true;
        if (!isAppOffline)
            m_resumeTimer->start(m_resumeDelayMs);
    }
    showPause();
    emit syncStateChanged();
}

void Sonarbox::showPause() {
    statusMenu().statusMenuPauseChanged(m_pause->pausedByUser(), m_pause->statusText());
}

void Sonarbox::scheduleTimedSync() {
    // The timer lives on the main thread; a later schedule replaces an earlier one.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_syncTimer->stop();
            m_syncTimer->start(m_timedSyncIntervalMs);
        },
        Qt::QueuedConnection);
}

void Sonarbox::resetProgressBar() {
    m_syncProgress.clearShownProgress();
}

// ---- stage entry points

SyncRunPtr Sonarbox::scanLocalMedia(Completion completion, SyncRunPtr run) {
    if (!run)
        run = newRun();
    const Stage scan = m_stages.get().scanFileSystemForMedia;
    scan(run, [this, run, completion] {
        // Also a scan that stopped: what it found so far is what the
        // summary shows.
        m_lastScan.set(run->localLibrary());
        qCInfo(lcSync) << "Scan Finished";
        if (completion)
            completion();
    });
    return run;
}

void Sonarbox::fingerPrintLocalMedia(const SyncRunPtr &run, const StageOperationPtr &next) {
    statusMenu().statusMenuFingerPrintStarted();
    notifyMothership(run->context(), QStringLiteral("MATCHING"),
                     int(run->localLibraryTrackCount()));
    const Stage fingerprint = m_stages.get().fingderPrintLocalMediaFiles;
    fingerprint(run, [this, next] {
        resetProgressBar();
        m_queue->addOperation(next);
    });
}

void Sonarbox::downloadFilesFromCloud(const SyncRunPtr &run, const StageOperationPtr &next) {
    statusMenu().statusMenuDownloadStarted();
    const Stage download = m_stages.get().syncCloudMediaWithLocal;
    download(run, [this, run, next] {
        // The next sync lists from where this one's downloads got.
        setSyncMilliSeconds(run->listingPosition());
        resetProgressBar();
        m_progress.setDescription(QStringLiteral("Finished Downloading Files"));
        m_queue->addOperation(next);
    });
}

void Sonarbox::uploadFilesToCloud(const SyncRunPtr &run, quint64 chain) {
    qCInfo(lcSync) << "====== uploadFilesToCloud | START";
    statusMenu().statusMenuUploadStarted();
    const Stage upload = m_stages.get().uploadUnSyncedFiles;
    upload(run, [this, run, chain] {
        const auto superseded = [this, chain] {
            return chain != 0 && chain != m_chainGeneration.load();
        };
        if (superseded()) {
            qCInfo(lcSync) << "=== An earlier sync finished its upload; the newer sync goes on";
            return;
        }
        // Versions replaced by newer ones (matched or uploaded by now) leave
        // the cloud library before the sync calls itself complete. Their
        // requests block, so they go on the stage queue, not this thread.
        m_queue->addOperation(std::make_shared<StageOperation>(
            [this, run, superseded] {
                if (!run->context().dryRun && !stopRequested(*run))
                    RetireReplaced::run(store(), serviceClient(), run->context());
                if (!superseded())
                    syncFinished();
            },
            "retireReplacedVersions"));
    });
}
