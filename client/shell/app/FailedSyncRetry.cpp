#include "FailedSyncRetry.h"

#include "engine/Sonarbox.h"
#include "settings/Logging.h"

#include <utility>

namespace {

// "Sync stopped" alone is the person's Stop, or the network's loss.
const QString kStoppedBecause = QStringLiteral("Sync stopped: ");

} // namespace

FailedSyncRetry::FailedSyncRetry(std::function<bool()> mayStart, QObject *parent)
    : QObject(parent)
    , m_mayStart(std::move(mayStart)) {
    qRegisterMetaType<SyncProgress::Event>();
    Sonarbox &sonarbox = Sonarbox::instance();
    connect(&sonarbox.syncProgress(), &SyncProgress::event, this, &FailedSyncRetry::onEvent,
            Qt::QueuedConnection);
    connect(&m_retry, &SyncRetry::due, this, &FailedSyncRetry::retryNow);
    connect(&m_signIn, &QFutureWatcher<SignInResult::Outcome>::finished, this,
            &FailedSyncRetry::signedIn);
}

void FailedSyncRetry::onEvent(const SyncProgress::Event &event) {
    if (event.kind == SyncProgress::Event::Kind::SyncStarted) {
        m_retry.cancel();
        return;
    }
    if (event.kind != SyncProgress::Event::Kind::SyncEnded ||
        !event.detail.startsWith(kStoppedBecause))
        return;
    // The pause's own stop waits for the resume.
    if (!Sonarbox::instance().syncPause().statusText().isEmpty())
        return;
    qCInfo(lcShell).noquote()
        << QStringLiteral("%1; trying again in %2").arg(event.detail, m_retry.intervalText());
    m_retry.schedule();
}

void FailedSyncRetry::retryNow() {
    Sonarbox &sonarbox = Sonarbox::instance();
    const UserPtr user = sonarbox.loggedUser();
    const bool ready = user && !sonarbox.syncInProgress && !sonarbox.isAppOffline &&
                       sonarbox.syncPause().statusText().isEmpty() && !m_signIn.isRunning() &&
                       (!m_mayStart || m_mayStart());
    if (!ready) {
        // Signed out, syncing, paused, or offline (the network's return
        // resumes the sync): nothing is owed any more.
        qCInfo(lcShell) << "=== The failed sync is not tried again: the program is elsewhere now";
        return;
    }
    qCInfo(lcShell) << "=== Trying the failed sync again: signing in again first";
    m_signingIn = user;
    m_signIn.setFuture(Sonarbox::instance().signInAgainInBackground(user));
}

void FailedSyncRetry::signedIn() {
    Sonarbox &sonarbox = Sonarbox::instance();
    const UserPtr user = std::exchange(m_signingIn, nullptr);
    // Logged out (or someone else signed in) meanwhile.
    if (!user || sonarbox.loggedUser() != user)
        return;
    switch (m_signIn.result()) {
    case SignInResult::Outcome::SignedIn:
        sonarbox.sync(true);
        return;
    case SignInResult::Outcome::NoAnswer:
        qCInfo(lcShell).noquote()
            << QStringLiteral("=== The service did not answer the sign-in; trying again in %1")
                   .arg(m_retry.intervalText());
        m_retry.schedule();
        return;
    case SignInResult::Outcome::Refused:
        qCWarning(lcShell) << "=== The service refused the stored account: the person must sign in";
        emit signInRefused();
        return;
    }
}
