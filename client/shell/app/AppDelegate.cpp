#include "AppDelegate.h"

#include "FailedSyncRetry.h"
#include "MainMenu.h"
#include "MainWindow.h"
#include "Notifications.h"
#include "TrayIcons.h"
#include "engine/ChangeWatcher.h"
#include "engine/SignalWatcher.h"
#include "engine/Sonarbox.h"
#include "engine/StatusReporting.h"
#include "engine/SyncEngine.h"
#include "screens/LastSyncSummary.h"
#include "screens/TracksWindow.h"
#include "settings/DeploymentConfig.h"
#include "settings/GAUtility.h"
#include "settings/Localization.h"
#include "settings/Logging.h"
#include "settings/NotificationCenter.h"
#include "settings/StandardStreams.h"
#include "settings/Utility.h"
#include "store/StoreSetup.h"
#include "sync/DesktopNotifier.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSysInfo>
#include <QSystemTrayIcon>
#include <QTimeZone>
#include <QTimer>

#include <cstdio>

namespace {

void logCall(const char *selector) {
    qCInfo(lcShell).noquote()
        << QStringLiteral("[%1] @class:AppDelegate").arg(QLatin1String(selector));
}

QString timeZoneDescription() {
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const QDateTime now = QDateTime::currentDateTime();
    return QStringLiteral("%1 (%2) offset %3")
        .arg(QString::fromUtf8(zone.id()), zone.abbreviation(now))
        .arg(zone.offsetFromUtc(now));
}

// The quit decision's questions, asked with message boxes.
StoreUiHooks storeUiHooks() {
    StoreUiHooks hooks;
    hooks.askQuitAnyway = [](const QuitAlertTexts &texts) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Sonarbox"), texts.message);
        box.setInformativeText(texts.informativeText);
        QPushButton *quit = box.addButton(texts.quitButton, QMessageBox::AcceptRole);
        QPushButton *cancel = box.addButton(texts.cancelButton, QMessageBox::RejectRole);
        box.setDefaultButton(cancel);
        box.setEscapeButton(cancel);
        box.exec();
        return box.clickedButton() == quit;
    };
    return hooks;
}

std::function<bool()> &trayAvailability() {
    static std::function<bool()> available = [] {
        return QSystemTrayIcon::isSystemTrayAvailable();
    };
    return available;
}

// How often a desktop without a tray is asked again: a panel started after
// the program (both started at login) comes a few seconds later.
constexpr int kTrayWatchIntervalMs = 2000;

const QString kWindowTitle = QStringLiteral("Sonarbox");

} // namespace

void AppDelegate::setTrayAvailability(std::function<bool()> available) {
    trayAvailability() =
        available ? std::move(available) : [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
}

AppDelegate::AppDelegate() = default;

AppDelegate::~AppDelegate() {
    delete m_tracksWindow;
    delete m_appMainWindow;
    // A stage that never let go still runs on the stage thread: taking the
    // engine down would wait for it for ever.
    if (Sonarbox::instance().operationQueue().operationCount() != 0)
        (void)m_engine.release();
}

void AppDelegate::applicationDidFinishLaunching() {
    const DeploymentConfig &config = DeploymentConfig::current();
    qCInfo(lcShell).noquote()
        << QStringLiteral("=== Application Launched v.%1").arg(config.bundleShortVersionString);
    qCInfo(lcShell).noquote()
        << QStringLiteral("=== OS Version: %1").arg(QSysInfo::prettyProductName());
    qCInfo(lcShell).noquote() << QStringLiteral("=== Time Zone: %1").arg(timeZoneDescription());

    GAUtility::instance();

    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.getOSVersion();
    // Only the desktop program lists itself among the session's login items.
    sonarbox.registerLoginItemAtStart();
    sonarbox.isTheAppRunningFirstTime();

    // Menu items are enabled only by the status menu's explicit calls (Qt
    // menus never enable items by themselves). Hand them to the coordinator
    // with the three localized titles.
    MainMenu &menu = MainMenu::instance();
    menu.aboutMenuItem()->setText(
        Localization::localizedString(QStringLiteral("TaskbarIconViewModel_Commands_About")));
    menu.settingsMenuItem()->setText(
        Localization::localizedString(QStringLiteral("TaskbarIconViewModel_Commands_Settings")));
    menu.helpMenuItem()->setText(
        Localization::localizedString(QStringLiteral("TaskbarIconViewModel_Commands_Help")));
    sonarbox.setStatusMenu(&menu);
    menu.follow(sonarbox.syncProgress());
    connectMenuCommands();
    createStatusItem();
    connect(&menu, &MainMenu::statusTitleChanged, this, &AppDelegate::updateTrayStatus);
    connect(&LastSyncSummary::instance(), &LastSyncSummary::changed, this,
            &AppDelegate::updateTrayStatus);
    connect(&sonarbox, &Sonarbox::syncStateChanged, this, &AppDelegate::updateTrayStatus,
            Qt::QueuedConnection);
    updateTrayStatus();

    // Notifications are presented even while the program is in front; on a
    // desktop without a notification service the tray icon shows them.
    if (sonarbox.minOSVersion() >= 9) {
        DesktopNotifier::setFallback([this](const QString &title, const QString &text) {
            if (m_tray)
                m_tray->showMessage(title, text);
            else
                qCInfo(lcShell).noquote() << "Notification:" << title << "-" << text;
        });
    }

    m_notifications = new Notifications(sonarbox.syncProgress(), this);

    // The store follows its own saves (contextDidSave); it comes into being here.
    StoreSetup::instance();

    m_engine = std::make_unique<SyncEngine>();
    m_engine->install(sonarbox);
    // Changes to the music are synced once they have settled, not only hourly.
    m_watcher = std::make_unique<ChangeWatcher>(sonarbox, *m_engine);
    m_watcher->start();
    installServiceReporting();
    // Nobody is at a terminal to start the sync again after the network
    // went: the desktop program takes it up when the network is back.
    sonarbox.setResumeAfterNetworkLoss(true);
    sonarbox.startNetworkMonitoring();
    // Nor to start it again after the service failed while the network
    // stayed up: tried again as the headless program tries it.
    m_failedSyncRetry = new FailedSyncRetry(
        [this] { return !m_appMainWindow || !m_appMainWindow->isSigningIn(); }, this);
    connect(m_failedSyncRetry, &FailedSyncRetry::signInRefused, m_notifications,
            &Notifications::signInNeeded);

    showMainWindow();
    Utility::checkForCrashReports();
}

void AppDelegate::connectMenuCommands() {
    MainMenu &menu = MainMenu::instance();
    Sonarbox *sonarbox = &Sonarbox::instance();
    connect(menu.statusBarMenuItem(), &QAction::triggered, this,
            &AppDelegate::showApplicationWindow);
    connect(menu.syncNowMenuItem(), &QAction::triggered, this, &AppDelegate::syncAction);
    connect(menu.stopSyncMenuItem(), &QAction::triggered, sonarbox, &Sonarbox::stopSyncAction);
    connect(menu.pauseMenuItem(), &QAction::triggered, sonarbox, [sonarbox] {
        SyncPause &pause = sonarbox->syncPause();
        pause.setPausedByUser(!pause.pausedByUser());
    });
    connect(menu.settingsMenuItem(), &QAction::triggered, this, &AppDelegate::showSettingsView);
    connect(menu.tracksMenuItem(), &QAction::triggered, this, &AppDelegate::showTracksWindow);
    connect(menu.aboutMenuItem(), &QAction::triggered, this, &AppDelegate::launchAboutView);
    connect(menu.helpMenuItem(), &QAction::triggered, sonarbox, &Sonarbox::helpAction);
    connect(menu.logOutMenuItem(), &QAction::triggered, sonarbox, &Sonarbox::logOutAction);
    connect(menu.launchSBXMenuItem(), &QAction::triggered, sonarbox, &Sonarbox::launchSBXWebsite);
    connect(menu.quitMenuItem(), &QAction::triggered, this, &AppDelegate::quitAction);
    // The session ending (or a person's kill) is a quit that asks nothing.
    m_signals = new SignalWatcher(this);
    connect(m_signals, &SignalWatcher::signalled, this, &AppDelegate::terminate);
}

void AppDelegate::createStatusItem() {
    if (trayAvailability()()) {
        useTray();
        return;
    }
    qCInfo(lcShell) << "No system tray on this desktop: the main window stays reachable, with "
                       "the menu in its menu bar and the status in its title";
    watchForTray();
}

void AppDelegate::watchForTray() {
    m_trayWatch = new QTimer(this);
    m_trayWatch->setInterval(kTrayWatchIntervalMs);
    connect(m_trayWatch, &QTimer::timeout, this, [this] {
        if (!trayAvailability()())
            return;
        qCInfo(lcShell) << "A system tray appeared: the menu moves into it";
        useTray();
    });
    m_trayWatch->start();
}

void AppDelegate::useTray() {
    if (m_trayWatch) {
        m_trayWatch->stop();
        m_trayWatch->deleteLater();
        m_trayWatch = nullptr;
    }
    MainMenu &menu = MainMenu::instance();
    m_tray =
        new QSystemTrayIcon(QIcon(QStringLiteral(":/sonarbox/images/status_icon_18x18.png")), this);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger && m_tray->contextMenu())
                    m_tray->contextMenu()->popup(QCursor::pos());
            });
    if (m_appMainWindow) {
        // The window found its way in through its own menu bar until now.
        m_appMainWindow->menuBar()->removeAction(menu.menu()->menuAction());
        m_appMainWindow->menuBar()->hide();
        m_appMainWindow->setMinimizeOnClose(false);
        disconnect(&menu, &MainMenu::statusTitleChanged, m_appMainWindow, nullptr);
        m_appMainWindow->setWindowTitle(kWindowTitle);
    }
    m_tray->setContextMenu(menu.menu());
    updateTrayStatus();
    m_tray->show();
}

void AppDelegate::updateTrayStatus() {
    Sonarbox &sonarbox = Sonarbox::instance();
    const LastSyncSummary &summary = LastSyncSummary::instance();
    m_trayState = TrayStatus::stateFor(sonarbox.loggedUser() != nullptr, sonarbox.isAppOffline,
                                       sonarbox.syncInProgress, summary.failed());
    m_trayToolTip = TrayStatus::toolTip(MainMenu::instance().statusTitle(), summary.text());
    if (m_tray) {
        m_tray->setIcon(TrayIcons::forState(m_trayState));
        m_tray->setToolTip(m_trayToolTip);
    }
}

void AppDelegate::showMainWindow() {
    if (!m_appMainWindow) {
        m_appMainWindow = new MainWindow;
        if (m_notifications)
            connect(m_appMainWindow, &MainWindow::storedUserRefused, m_notifications,
                    &Notifications::signInNeeded);
        if (!m_tray) {
            MainWindow *window = m_appMainWindow;
            window->setMinimizeOnClose(true);
            QMenu *menu = MainMenu::instance().menu();
            menu->setTitle(kWindowTitle);
            window->menuBar()->addMenu(menu);
            const auto showTitle = [window](const QString &status) {
                window->setWindowTitle(QStringLiteral("Sonarbox — %1").arg(status));
            };
            showTitle(MainMenu::instance().statusTitle());
            connect(&MainMenu::instance(), &MainMenu::statusTitleChanged, window, showTitle);
        }
        if (qEnvironmentVariableIsSet("SONARBOX_QUIT_AFTER_FIRST_PAINT"))
            quitAfterFirstPaint();
    }
    m_appMainWindow->showNormal();
    m_appMainWindow->raise();
    m_appMainWindow->activateWindow();
}

// For the start-up benchmark: one line on standard error and an orderly end
// once the window has been painted for the first time.
void AppDelegate::quitAfterFirstPaint() {
    class FirstPaint : public QObject {
    public:
        using QObject::QObject;
        bool eventFilter(QObject *watched, QEvent *event) override {
            if (event->type() == QEvent::Paint && !m_seen) {
                m_seen = true;
                QTimer::singleShot(0, qApp, [] {
                    std::fprintf(StandardStreams::error(), "sonarbox: first paint\n");
                    std::fflush(StandardStreams::error());
                    QCoreApplication::exit(0);
                });
            }
            return QObject::eventFilter(watched, event);
        }

    private:
        bool m_seen = false;
    };
    m_appMainWindow->installEventFilter(new FirstPaint(m_appMainWindow));
}

void AppDelegate::showApplicationWindow() {
    logCall("showApplicationWindow:");
    showMainWindow();
}

void AppDelegate::launchAboutView() {
    showMainWindow();
    NotificationCenter::defaultCenter().postNotificationName(
        QStringLiteral("showAboutViewNotification"), this);
}

void AppDelegate::showSettingsView() {
    showMainWindow();
    NotificationCenter::defaultCenter().postNotificationName(
        QStringLiteral("showSettingsViewNotification"), this);
}

void AppDelegate::showTracksWindow() {
    if (!m_tracksWindow)
        m_tracksWindow = new TracksWindow;
    else
        m_tracksWindow->reload();
    m_tracksWindow->show();
    m_tracksWindow->raise();
    m_tracksWindow->activateWindow();
}

void AppDelegate::syncAction() {
    // The item follows the state, but a click may race a change of it: no
    // sync without a signed-in account.
    Sonarbox &sonarbox = Sonarbox::instance();
    if (!sonarbox.loggedUser() || (m_appMainWindow && m_appMainWindow->isSigningIn()))
        return;
    sonarbox.sync(true);
}

void AppDelegate::quitAction() {
    logCall("quitAction:");
    if (StoreSetup::instance().applicationShouldTerminate(storeUiHooks()) ==
        StoreSetup::TerminateReply::TerminateNow)
        terminate();
}

void AppDelegate::terminate() {
    // Not QCoreApplication::quit(): that asks every window to close first,
    // and a window that only minimises (no tray) would refuse, so the
    // program could never be quit.
    QCoreApplication::exit(0);
}

void AppDelegate::closeWindows() {
    if (m_trayWatch)
        m_trayWatch->stop();
    if (m_tray)
        m_tray->hide();
    delete m_tracksWindow;
    m_tracksWindow = nullptr;
    delete m_appMainWindow;
    m_appMainWindow = nullptr;
}
