#include "SyncState.h"

#include "DesktopNotifier.h"
#include "settings/Logging.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/NotificationCenter.h"
#include "settings/PreferenceKeys.h"
#include "store/GenericDAO.h"

#include <QThreadPool>

namespace {
StatusMenu g_noMenu;
} // namespace

SyncState::SyncState(EngineParts parts)
    : m_queue(std::make_unique<StageQueue>())
    , m_preferences(parts.preferences ? parts.preferences : &NSDefaultsUtility::standard())
    , m_deployment(std::move(parts.deployment))
    , m_notifications(parts.notifications ? parts.notifications
                                          : &NotificationCenter::defaultCenter())
    , m_store(parts.store ? parts.store : &GenericDAO::instance())
    , m_serviceClient(m_deployment ? ServiceClient(*m_deployment) : ServiceClient()) {}

const DeploymentConfig &SyncState::deployment() const {
    return m_deployment ? *m_deployment : DeploymentConfig::current();
}

SyncState::~SyncState() = default;

void SyncState::applicationWasStopped() {
    // The coordinator's log line, whichever stage answers the request.
    qCInfo(lcSync).noquote() << QStringLiteral("[applicationWasStopped] @class:Sonarbox");
    flow_stopProcesses = false;
}

void SyncState::loadState() {
    m_deviceID.set(preferences().getUUID());
    m_userDirectory.set(Utility::userDirectory());
    m_userDownloadDirectory.set(preferences().getUserDownloadDirectory());
    m_duplicates.set({});
    m_userMediaFoldersToScan.set(
        preferences().getSaveUserMediaFoldersToScan().value_or(QList<QUrl>()));
    m_folderSongAmounts.set({});
    m_syncMilliSeconds = 0;
    flow_stopProcesses = false;
    settings_showNotifications = preferences().boolean(PreferenceKeys::SettingsNotifications);
    m_didUserPickLibrary = preferences().getDidUserPickMediaLibrary();
}

void SyncState::clearSession() {
    m_loggedUser.set(nullptr);
    m_jSessionID.set(std::nullopt);
    for (Guarded<QString> *text :
         {&m_syncStatus, &m_syncError, &m_syncMessage, &m_serverMessage, &m_upgradeUrl})
        text->set(QString());
    for (Guarded<StageOperationPtr> *op : {&m_scanOp, &m_fingerprintOp, &m_downloadOp, &m_uploadOp})
        op->set(nullptr);
    flow_newUser = false;
}

void SyncState::forgetAccountData() {
    setLoggedUser(nullptr);
    m_syncMilliSeconds = 0;
    m_duplicates.set({});
    setUserPickedMediaLibrary(LibraryChoice::MusicPlayer);
    m_userMediaFoldersToScan.set({});
    m_folderSongAmounts.set({});
}

LibraryChoice SyncState::userPickedMediaLibrary() const {
    return libraryChoiceFrom(preferences().getUserPickedMediaLibrary());
}

void SyncState::setUserPickedMediaLibrary(LibraryChoice choice) {
    preferences().saveUserPickedMediaLibrary(int(choice));
    emit libraryChoiceChanged();
}

void SyncState::setStatusMenu(StatusMenu *menu) {
    m_statusMenu.set(menu);
    showPause();
}

StatusMenu &SyncState::statusMenu() {
    StatusMenu *menu = m_statusMenu.get();
    return menu ? *menu : g_noMenu;
}

bool SyncState::replaceLoggedUser(const UserPtr &expected, UserPtr user) {
    bool replaced = false;
    m_loggedUser.update([&](UserPtr &current) {
        if (current == expected) {
            current = std::move(user);
            replaced = true;
        }
    });
    return replaced;
}

void SyncState::setReplyStatus(const QString &status) {
    m_syncError.set(QString(""));
    m_serverMessage.set(QString(""));
    m_upgradeUrl.set(QString(""));
    m_syncStatus.set(status);
}

SyncRunPtr SyncState::newRun() {
    auto run = std::make_shared<SyncRun>(
        runContext(), SyncRun::Start{m_syncMilliSeconds.load(), userDownloadDirectory()});
    m_runs.update([&](QList<std::weak_ptr<SyncRun>> &runs) {
        runs.removeIf([](const std::weak_ptr<SyncRun> &r) { return r.expired(); });
        runs.append(run);
    });
    return run;
}

void SyncState::stopRuns() {
    for (const std::weak_ptr<SyncRun> &weak : m_runs.get()) {
        if (const SyncRunPtr run = weak.lock())
            run->stop();
    }
}

void SyncState::setDuplicateLibraryTracks(const QList<AudioPtr> &v) {
    m_duplicates.set({});
    for (const AudioPtr &track : v)
        addDuplicateLibraryTrack(track);
}

void SyncState::addDuplicateLibraryTrack(const AudioPtr &track) {
    if (!track)
        return;
    const QString path = track->fileURL.value_or(QString());
    m_duplicates.update([&](Duplicates &d) {
        if (d.paths.contains(path))
            return;
        d.paths.insert(path);
        d.tracks.append(track);
    });
}

void SyncState::notifyMothership(const QString &status, int withTrackAmount) {
    notifyMothership(runContext(), status, withTrackAmount);
}

void SyncState::notifyMothership(const RunContext &context, const QString &status,
                                 int withTrackAmount) {
    const StatusReporter reporter = m_statusReporter.get();
    if (!reporter) {
        qCInfo(lcSync).noquote() << "Status" << status << withTrackAmount << "(not reported)";
        return;
    }
    // The report's answer is not examined, so it never holds up the caller.
    QThreadPool::globalInstance()->start([reporter, context, status, withTrackAmount] {
        reporter(context, status, withTrackAmount);
    });
}

bool SyncState::notifyUser(const QString &title, const QString &message) {
    if (minOSVersion() < 9 || !settings_showNotifications)
        return false;
    return DesktopNotifier::notify(title, message);
}
