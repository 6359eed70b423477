#include "MainMenu.h"

#include "settings/Localization.h"
#include "settings/Logging.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QMutexLocker>
#include <QThread>

namespace {

const char *const kSnapshotKeys[MainMenu::CommandCount] = {
    "syncNowMenuItem",  "settingsMenuItem",  "aboutMenuItem", "helpMenuItem",
    "stopSyncMenuItem", "launchSBXMenuItem", "logOutMenuItem"};

const QString kOffline = QStringLiteral("Offline");
const QString kOpen = QStringLiteral("Open");
const QString kPauseSyncing = QStringLiteral("Pause syncing");
const QString kResumeSyncing = QStringLiteral("Resume syncing");

// The titles of a menu at rest, which a pause's reason replaces; "Offline",
// the settings page and the sign-in keep theirs.
bool isIdleTitle(const QString &title) {
    return title == kOpen || title == QLatin1String("Synced") ||
           title == QLatin1String("Sync Stopped");
}

void logCall(const char *selector) {
    qCInfo(lcShell).noquote()
        << QStringLiteral("[%1] @class:MainMenu").arg(QLatin1String(selector));
}

} // namespace

MainMenu &MainMenu::instance() {
    // Never destroyed: reports may still arrive while the program ends.
    static MainMenu *const shared = [] {
        auto *menu = new MainMenu;
        if (QCoreApplication *app = QCoreApplication::instance())
            menu->moveToThread(app->thread());
        menu->statusMenuStarting();
        return menu;
    }();
    return *shared;
}

MainMenu::MainMenu() {
    m_title = kOpen;
    m_enabled.fill(true);
    m_status = new QAction(m_title, this);
    static const char *const titles[CommandCount] = {"Sync Now",  "Settings",      "About",  "Help",
                                                     "Stop Sync", "Open Sonarbox", "Log Out"};
    for (int i = 0; i < CommandCount; ++i)
        m_commands[i] = new QAction(QString::fromLatin1(titles[i]), this);
    m_quit = new QAction(QStringLiteral("Quit Sonarbox"), this);
    m_tracks = new QAction(QStringLiteral("Tracks"), this);
    m_pause = new QAction(kPauseSyncing, this);
}

MainMenu::~MainMenu() {
    delete m_menu;
}

QMenu *MainMenu::menu() {
    if (!m_menu) {
        m_menu = new QMenu;
        m_menu->setAccessibleName(QStringLiteral("Sonarbox menu"));
        m_menu->addAction(m_status);
        m_menu->addSeparator();
        for (Command c : {SyncNow, StopSync, LaunchSBX, Settings, About, Help, LogOut}) {
            m_menu->addAction(m_commands[c]);
            if (c == StopSync)
                m_menu->addAction(m_pause);
            if (c == Settings)
                m_menu->addAction(m_tracks);
        }
        m_menu->addSeparator();
        m_menu->addAction(m_quit);
    }
    return m_menu;
}

QString MainMenu::statusTitle() const {
    QMutexLocker locker(&m_lock);
    return m_title;
}

bool MainMenu::isEnabled(Command command) const {
    QMutexLocker locker(&m_lock);
    return m_enabled[command];
}

bool MainMenu::isStatusLineEnabled() const {
    QMutexLocker locker(&m_lock);
    return m_statusEnabled;
}

QMap<QString, bool> MainMenu::tempStatusMenu() const {
    QMutexLocker locker(&m_lock);
    return m_tempStatusMenu;
}

void MainMenu::onMainThread(std::function<void()> change) {
    // Always queued, also from the main thread: a change asked for here must
    // not overtake one a stage queued a moment earlier.
    QMetaObject::invokeMethod(this, std::move(change), Qt::QueuedConnection);
}

void MainMenu::applyTitle(const QString &requested) {
    QString title = requested;
    {
        QMutexLocker locker(&m_lock);
        if (!m_pausedStatus.isEmpty() && isIdleTitle(title))
            title = m_pausedStatus;
        m_title = title;
    }
    m_status->setText(title);
    emit statusTitleChanged(title);
}

void MainMenu::setCommandStates(const Row &commands) {
    for (int i = 0; i < CommandCount; ++i) {
        if (commands[i] == Keep)
            continue;
        bool enabled = commands[i] == On;
        {
            QMutexLocker locker(&m_lock);
            if (i == SyncNow && !m_pausedStatus.isEmpty())
                enabled = false;
            m_enabled[i] = enabled;
        }
        m_commands[i]->setEnabled(enabled);
    }
}

void MainMenu::apply(const QString &title, State statusLine, const Row &commands) {
    {
        // The next percentage is shown again over this title, even if it
        // is the one shown before.
        QMutexLocker locker(&m_lock);
        m_progressTitle.clear();
    }
    onMainThread([this, title, statusLine, commands] {
        applyTitle(title);
        if (statusLine != Keep) {
            const bool enabled = statusLine == On;
            {
                QMutexLocker locker(&m_lock);
                m_statusEnabled = enabled;
            }
            m_status->setEnabled(enabled);
        }
        setCommandStates(commands);
    });
}

void MainMenu::setLogOutMenuItemEnabled(bool enabled) {
    Row row;
    row.fill(Keep);
    row[LogOut] = enabled ? On : Off;
    onMainThread([this, row] { setCommandStates(row); });
}

// Rows name the commands in the order SyncNow, Settings, About, Help,
// StopSync, LaunchSBX, LogOut.

void MainMenu::statusMenuStarting() {
    apply(kOpen, On, {Off, Off, On, On, Off, Off, Off});
}

void MainMenu::statusMenuLoggedOut() {
    logCall("statusMenuLoggedOut");
    apply(Localization::localizedString(QStringLiteral("Commands_Login")), Keep,
          {Off, Keep, On, On, Keep, Keep, Off});
}

void MainMenu::statusMenuLibraryPickerView() {
    logCall("statusMenuLibraryPickerView");
    apply(kOpen, On, {Off, On, On, On, Keep, Keep, On});
}

void MainMenu::statusMenuScanSummaryView() {
    logCall("statusMenuScanSummaryView");
    apply(kOpen, On, {Off, On, On, On, Keep, Keep, On});
}

void MainMenu::statusMenuSyncStarted() {
    logCall("statusMenuSyncStarted");
    apply(Localization::localizedString(
              QStringLiteral("TaskbarIconViewModel_StartSynchronizationMessage")),
          Keep, {Off, On, On, On, On, On, On});
}

void MainMenu::statusMenuFingerPrintStarted() {
    apply(Localization::localizedString(
              QStringLiteral("TaskbarIconViewModel_StartSynchronizationMessage")),
          Keep, {Off, On, On, On, On, On, On});
}

void MainMenu::statusMenuUploadStarted() {
    logCall("statusMenuUploadStarted");
    apply(Localization::localizedString(
              QStringLiteral("TaskbarIconViewModel_StartSynchronizationMessage")),
          Keep, {Off, On, On, On, On, On, On});
}

void MainMenu::statusMenuDownloadStarted() {
    apply(QStringLiteral("Downloading"), Keep, {Off, On, On, On, On, On, On});
}

void MainMenu::statusMenuSyncStopped() {
    logCall("statusMenuSyncStopped");
    apply(QStringLiteral("Sync Stopped"), Keep, {On, On, On, On, Off, On, On});
}

void MainMenu::statusMenuSyncFinished() {
    logCall("statusMenuSyncFinished");
    apply(QStringLiteral("Synced"), Keep, {On, On, On, On, Off, On, On});
}

void MainMenu::statusMenuShowProcessPage() {
    logCall("statusMenuShowProcessPage");
    apply(kOpen, Keep, {On, Keep, Keep, Keep, Off, Keep, On});
}

void MainMenu::statusMenuShowSettingsPage() {
    logCall("statusMenuShowSettingsPage");
    apply(Localization::localizedString(QStringLiteral("TaskbarIconViewModel_Commands_Settings")),
          Off, {Keep, Keep, Keep, Keep, Keep, Keep, Keep});
    disableStatusMenuItems();
}

void MainMenu::statusMenuCloseSettingsPage() {
    logCall("statusMenuCloseSettingsPage");
    apply(kOpen, On, {Keep, Keep, Keep, Keep, Keep, Keep, Keep});
    restorePreviousMenuState();
}

void MainMenu::statusMenuShowOffline() {
    logCall("statusMenuShowOffline");
    // Read here, in the caller's thread: a second loss must not replace the
    // snapshot taken at the first.
    if (statusTitle() == kOffline)
        return;
    apply(kOffline, Keep, {Keep, Keep, Keep, Keep, Keep, Keep, Keep});
    disableStatusMenuItems();
    qCInfo(lcShell) << "OFFLINE";
}

void MainMenu::statusMenuShowBackOnline() {
    logCall("statusMenuShowBackOnline");
    if (statusTitle() != kOffline)
        return;
    apply(kOpen, Keep, {Keep, Keep, Keep, Keep, Keep, Keep, Keep});
    restorePreviousMenuState();
    qCInfo(lcShell) << "ONLINE";
}

void MainMenu::statusMenuPauseChanged(bool pausedByUser, const QString &status) {
    logCall("statusMenuPauseChanged");
    onMainThread([this, pausedByUser, status] {
        m_pause->setText(pausedByUser ? kResumeSyncing : kPauseSyncing);
        QString shownBefore;
        {
            QMutexLocker locker(&m_lock);
            shownBefore = m_pausedStatus == m_title ? m_pausedStatus : QString();
            m_pausedStatus = status;
        }
        Row row;
        row.fill(Keep);
        if (!status.isEmpty()) {
            if (!shownBefore.isEmpty() || isIdleTitle(statusTitle()))
                applyTitle(kOpen);
            row[SyncNow] = Off;
            setCommandStates(row);
        } else if (!shownBefore.isEmpty()) {
            // Resumed from an idle state: syncing by hand is possible again.
            applyTitle(kOpen);
            row[SyncNow] = On;
            setCommandStates(row);
        }
    });
}

void MainMenu::disableStatusMenuItems() {
    storeCurrentMenuState();
    onMainThread([this] { setCommandStates({Off, Off, Off, Off, Off, Off, Off}); });
}

void MainMenu::storeCurrentMenuState() {
    QMutexLocker locker(&m_lock);
    m_tempStatusMenu.clear();
    for (int i = 0; i < CommandCount; ++i)
        m_tempStatusMenu.insert(QLatin1String(kSnapshotKeys[i]), m_enabled[i]);
}

void MainMenu::restorePreviousMenuState() {
    onMainThread([this] {
        const QMap<QString, bool> snapshot = tempStatusMenu();
        Row row{};
        for (int i = 0; i < CommandCount; ++i)
            row[i] = snapshot.value(QLatin1String(kSnapshotKeys[i]), false) ? On : Off;
        setCommandStates(row);
    });
}

void MainMenu::follow(const SyncProgress &progress) {
    disconnect(m_following);
    // Direct, in the stage's thread: the title is queued at once, in order
    // with the coordinator's reports ("Synced" must not be overtaken by the
    // last percentage of the stage before it).
    m_following = connect(
        &progress, &SyncProgress::changed, this,
        [this, &progress] { showProgress(progress.state()); }, Qt::DirectConnection);
}

void MainMenu::showProgress(const SyncProgress::State &state) {
    const QString activity = SyncProgress::activityName(state.stage);
    if (activity.isEmpty() || state.percentage.isEmpty())
        return;
    const QString title = QStringLiteral("%1 %2").arg(activity, state.percentage);
    {
        // Bytes change the model far more often than the percentage.
        QMutexLocker locker(&m_lock);
        if (title == m_progressTitle)
            return;
        m_progressTitle = title;
    }
    onMainThread([this, title] { applyTitle(title); });
}
