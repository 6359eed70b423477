// The sync chain of the coordinator: starting, chaining, stopping and
// finishing a sync, and the hourly timed sync.
#include "Sonarbox.h"

#include "settings/Logging.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/PreferenceKeys.h"

#include <QDateTime>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

namespace {
void logCall(const char *selector) {
    qCInfo(lcSync).noquote() << QStringLiteral("[%1] @class:Sonarbox").arg(QLatin1String(selector));
}

// Kept for `sonarbox-headless --status` and the next start.
void recordSyncEnd(const QString &outcome) {
    NSDefaultsUtility::setText(PreferenceKeys::LastSyncTime,
                               QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    NSDefaultsUtility::setText(PreferenceKeys::LastSyncOutcome, outcome);
}
} // namespace

void Sonarbox::sync(bool includeScan) {
    logCall("sync:");
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

    syncStarted();
    const quint64 chain = ++m_chainGeneration;

    auto upload = std::make_shared<StageOperation>([this, chain] { uploadFilesToCloud(chain); },
                                                   "uploadFilesToCloud");
    auto download = std::make_shared<StageOperation>(
        [this, upload] { downloadFilesFromCloud(upload); }, "downloadFilesFromCloud");
    auto fingerprint = std::make_shared<StageOperation>(
        [this, download] { fingerPrintLocalMedia(download); }, "fingerPrintLocalMedia");
    auto scan = std::make_shared<StageOperation>([this] { scanLocalMedia({}); }, "scanLocalMedia");
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
    if (settings_syncNewSongs && loggedUser())
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
    const bool wasSyncing = syncInProgress.exchange(false);
    m_progress.setSyncButtonTitle(QStringLiteral("Sync"));
    for (const auto &op : {operation_scanFileSysForMedia(), operation_fingerprintLocalMedia(),
                           operation_downloadFilesFromCloud(), operation_uploadFilesToCloud()}) {
        if (op)
            op->cancel();
    }
    statusMenu().statusMenuSyncStopped();
    m_progress.setDescription(how);
    if (wasSyncing) {
        recordSyncEnd(how);
        m_syncProgress.endSync(how);
    }
    emit syncStateChanged();
}

void Sonarbox::applicationWasStopped() {
    logCall("applicationWasStopped");
    flow_stopProcesses = false;
}

void Sonarbox::syncStarted() {
    logCall("syncStarted");
    statusMenu().statusMenuSyncStarted();
    m_progress.setTextContent(QStringLiteral(
        "We are adding your music now. Soon you'll be listening to all your music anywhere."));
    syncInProgress = true;
    m_syncProgress.beginSync();
    m_progress.setSyncButtonTitle(QStringLiteral("Stop"));
    emit syncStateChanged();
}

void Sonarbox::syncFinished() {
    logCall("syncFinished");
    m_progress.setProgress(1.0, QStringLiteral("100%"), QString(), QString());
    m_progress.setDescription(QStringLiteral("Sync Completed"));
    m_progress.setSyncButtonTitle(QStringLiteral("Sync"));
    m_progress.setTextContent(
        QStringLiteral("We have added your music. Now you can listen to your music anywhere."));
    notifyUser(QStringLiteral("Sync Complete"),
               QStringLiteral("Your media is now synced with Sonarbox"));
    statusMenu().statusMenuSyncFinished();
    flow_stopProcesses = false;
    syncInProgress = false;
    recordSyncEnd(QStringLiteral("Sync Completed"));
    m_syncProgress.endSync(QStringLiteral("Sync Completed"));
    scheduleTimedSync();
    emit syncStateChanged();
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
    m_progress.setProgress(0, QString(), QString(), QString());
}

// ---- stage entry points

void Sonarbox::scanLocalMedia(Completion completion) {
    const std::function<void(Completion)> scan = m_stages.get().scanFileSystemForMedia;
    scan([completion] {
        qCInfo(lcSync) << "Scan Finished";
        if (completion)
            completion();
    });
}

void Sonarbox::fingerPrintLocalMedia(const StageOperationPtr &next) {
    statusMenu().statusMenuFingerPrintStarted();
    notifyMothership(QStringLiteral("MATCHING"), int(localLibraryTracks().size()));
    const std::function<void(Completion)> fingerprint = m_stages.get().fingderPrintLocalMediaFiles;
    fingerprint([this, next] {
        resetProgressBar();
        m_queue->addOperation(next);
    });
}

void Sonarbox::downloadFilesFromCloud(const StageOperationPtr &next) {
    statusMenu().statusMenuDownloadStarted();
    const std::function<void(Completion)> download = m_stages.get().syncCloudMediaWithLocal;
    download([this, next] {
        resetProgressBar();
        m_progress.setDescription(QStringLiteral("Finished Downloading Files"));
        m_queue->addOperation(next);
    });
}

void Sonarbox::uploadFilesToCloud(quint64 chain) {
    qCInfo(lcSync) << "====== uploadFilesToCloud | START";
    statusMenu().statusMenuUploadStarted();
    const std::function<void(Completion)> upload = m_stages.get().uploadUnSyncedFiles;
    upload([this, chain] {
        if (chain != 0 && chain != m_chainGeneration.load()) {
            qCInfo(lcSync) << "=== An earlier sync finished its upload; the newer sync goes on";
            return;
        }
        syncFinished();
    });
}

void Sonarbox::notifyMothership(const QString &status, int withTrackAmount) {
    const std::function<void(const QString &, int)> reporter = m_statusReporter.get();
    if (!reporter) {
        qCInfo(lcSync).noquote() << "Status" << status << withTrackAmount << "(not reported)";
        return;
    }
    // The report's answer is not examined, so it never holds up the caller.
    QThreadPool::globalInstance()->start(
        [reporter, status, withTrackAmount] { reporter(status, withTrackAmount); });
}
