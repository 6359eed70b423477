#include "SyncRunner.h"

#include "Console.h"
#include "engine/Sonarbox.h"
#include "settings/NSDefaultsUtility.h"
#include "store/GenericDAO.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kCompleted = QStringLiteral("Sync Completed");
// How long a stop waits for the running stage to notice it.
constexpr qint64 kStopGraceMs = 30000;

// Songs from the cloud need somewhere to go: the default Downloads folder is
// made when missing (a fresh account may have none); a chosen one is not.
void checkDownloadDirectory() {
    const QString dir = Sonarbox::instance().userDownloadDirectory();
    if (QFileInfo(dir).isDir())
        return;
    if (dir == NSDefaultsUtility::defaultDownloadDirectory() && QDir().mkpath(dir))
        return;
    Console::printError(QStringLiteral("The download folder %1 does not exist: songs from the "
                                       "cloud cannot be downloaded (choose one with "
                                       "--download-dir).")
                            .arg(dir));
}

} // namespace

SyncRunner::SyncRunner(bool once, QObject *parent)
    : QObject(parent)
    , m_once(once) {
    qRegisterMetaType<SyncProgress::Event>();
    connect(&m_retry, &SyncRetry::due, this, &SyncRunner::signIn);
    m_idlePoll.setInterval(50);
    connect(&m_idlePoll, &QTimer::timeout, this, &SyncRunner::finishWhenIdle);
    connect(&m_signIn, &QFutureWatcher<SignInResult::Outcome>::finished, this,
            &SyncRunner::signedIn);
    connect(&Sonarbox::instance().syncProgress(), &SyncProgress::event, this,
            &SyncRunner::onProgressEvent, Qt::QueuedConnection);
    connect(&Sonarbox::instance().syncPause(), &SyncPause::changed, this, &SyncRunner::pauseChanged,
            Qt::QueuedConnection);
}

void SyncRunner::start() {
    Sonarbox &sonarbox = Sonarbox::instance();
    const UserPtr user = GenericDAO::instance().uniqueResult<User>();
    if (!user || (!user->username && !user->facebookToken)) {
        Console::printError(QStringLiteral("Not signed in: sign in first with --login EMAIL."));
        finish(1);
        return;
    }
    if (!sonarbox.didUserPickLibrary()) {
        Console::printError(QStringLiteral(
            "No library chosen: choose one first with --library mpd|music|DIR[,DIR...]."));
        finish(1);
        return;
    }
    // As the main window does with the stored account before signing it in.
    sonarbox.setLoggedUser(user);
    signIn();
}

bool SyncRunner::waitWhilePaused() {
    const QString paused = Sonarbox::instance().syncPause().statusText();
    if (paused.isEmpty())
        return false;
    if (m_once) {
        Console::printError(QStringLiteral("%1: not syncing (resume with --resume).").arg(paused));
        finish(1);
        return true;
    }
    if (!m_waitingForResume)
        Console::printLine(QStringLiteral("%1: waiting until syncing may go on.").arg(paused));
    m_waitingForResume = true;
    m_retry.cancel();
    return true;
}

void SyncRunner::pauseChanged() {
    if (m_finished || m_stopping)
        return;
    if (waitWhilePaused())
        return;
    if (!m_waitingForResume)
        return;
    m_waitingForResume = false;
    Console::printLine(QStringLiteral("Syncing resumed."));
    // Once signed in, the coordinator starts the sync itself soon.
    if (!m_signedInOnce)
        signIn();
}

void SyncRunner::signIn() {
    if (waitWhilePaused())
        return;
    const UserPtr user = Sonarbox::instance().loggedUser();
    if (!user) {
        Console::printError(QStringLiteral("Signed out meanwhile: nothing to sync."));
        finish(1);
        return;
    }
    Console::printLine(QStringLiteral("Signing in as %1 at %2")
                           .arg(user->username.value_or(QStringLiteral("a Facebook account")),
                                Sonarbox::instance().serviceClient().gatewayBaseUrl()));
    m_signIn.setFuture(Sonarbox::instance().signInAgainInBackground(user));
}

void SyncRunner::signedIn() {
    if (m_stopping)
        return; // finishWhenIdle() ends the run now that the sign-in is over
    Sonarbox &sonarbox = Sonarbox::instance();
    switch (m_signIn.result()) {
    case SignInResult::Outcome::SignedIn:
        m_signedInOnce = true;
        Console::printLine(QStringLiteral("Signed in."));
        startSync();
        return;
    case SignInResult::Outcome::Refused:
        Console::printError(
            QStringLiteral("The service refused the sign-in: %1 Sign in again with --login.")
                .arg(sonarbox.syncMessage().isEmpty() ? sonarbox.syncStatus()
                                                      : sonarbox.syncMessage()));
        finish(1);
        return;
    case SignInResult::Outcome::NoAnswer:
        Console::printError(
            QStringLiteral("Could not sign in: the service at %1 did not answer. %2")
                .arg(sonarbox.serviceClient().gatewayBaseUrl(), sonarbox.syncMessage()));
        if (m_once)
            finish(1);
        else
            retryLater();
        return;
    }
}

void SyncRunner::startSync() {
    if (waitWhilePaused())
        return;
    checkDownloadDirectory();
    Sonarbox::instance().sync(true);
}

void SyncRunner::onProgressEvent(const SyncProgress::Event &event) {
    if (event.kind != SyncProgress::Event::Kind::SyncEnded || m_stopping)
        return;
    // A pause ended it: nothing is tried again until the resume.
    if (!event.detail.startsWith(kCompleted) && waitWhilePaused())
        return;
    // "Sync Completed: 2 uploads refused (quota full)" went through every
    // stage, but not everything made it.
    const bool completed = event.detail.startsWith(kCompleted);
    if (m_once) {
        finish(event.detail == kCompleted ? 0 : completed ? CompletedWithFailures : 1);
        return;
    }
    if (completed)
        Console::printLine(QStringLiteral("Next sync in about an hour."));
    else
        retryLater();
}

void SyncRunner::retryLater() {
    Console::printLine(QStringLiteral("Trying again in %1.").arg(m_retry.intervalText()));
    m_retry.schedule();
}

void SyncRunner::stop() {
    if (m_finished)
        return;
    if (m_stopping) {
        Console::printError(QStringLiteral("Stopping at once."));
        finish(m_once ? 1 : 0);
        return;
    }
    m_stopping = true;
    m_retry.cancel();
    Console::printLine(QStringLiteral("Stopping..."));
    Sonarbox &sonarbox = Sonarbox::instance();
    if (sonarbox.syncInProgress)
        sonarbox.stopSyncAction();
    m_stoppingFor.start();
    m_idlePoll.start();
    finishWhenIdle();
}

void SyncRunner::finishWhenIdle() {
    const bool idle =
        Sonarbox::instance().operationQueue().operationCount() == 0 && !m_signIn.isRunning();
    if (!idle && m_stoppingFor.elapsed() < kStopGraceMs)
        return;
    if (!idle)
        Console::printError(QStringLiteral("A sync stage did not stop in time; leaving it."));
    finish(m_once ? 1 : 0);
}

void SyncRunner::finish(int exitCode) {
    if (m_finished)
        return;
    m_finished = true;
    m_idlePoll.stop();
    m_retry.cancel();
    Console::clearStatus();
    emit finished(exitCode);
}
