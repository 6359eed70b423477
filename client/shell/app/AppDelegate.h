#pragma once

#include "TrayStatus.h"

#include <QObject>

#include <functional>
#include <memory>

class FailedSyncRetry;
class MainWindow;
class Notifications;
class TracksWindow;
class QSystemTrayIcon;
class QTimer;
class SignalWatcher;
class ChangeWatcher;
class SyncEngine;

// The desktop program's start-up, its tray icon and the menu's commands.
// Lives for the whole process, on the main thread.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    AppDelegate();
    ~AppDelegate() override;

    // The start-up sequence: the launch log lines, analytics, the coordinator,
    // the first-run check, the menu handed to the coordinator, the tray, the
    // engine, and the main window shown.
    void applicationDidFinishLaunching();

    // Menu commands.
    void showApplicationWindow();
    void launchAboutView();
    void showSettingsView();
    void showTracksWindow();
    void syncAction();
    // Quit: asks the store whether the program may end (it saves first),
    // then ends the event loop, with or without a tray.
    void quitAction();
    // Ends the event loop without asking (SIGTERM, the session ending).
    void terminate();
    // Closes and deletes the main window and its screens (at the end).
    void closeWindows();

    // Whether the desktop has a system tray now (tests replace the question).
    static void setTrayAvailability(std::function<bool()> available);

    MainWindow *appMainWindow() const { return m_appMainWindow; }
    QSystemTrayIcon *trayIcon() const { return m_tray; }
    TracksWindow *tracksWindow() const { return m_tracksWindow; }
    // What the tray shows now (also while there is no tray).
    TrayState trayState() const { return m_trayState; }
    QString trayToolTip() const { return m_trayToolTip; }
    // Tries a sync the service ended again (after launching).
    FailedSyncRetry *failedSyncRetry() const { return m_failedSyncRetry; }

private:
    void connectMenuCommands();
    void createStatusItem();
    void showMainWindow();
    void quitAfterFirstPaint();
    void watchForTray();
    void useTray();
    void updateTrayStatus();

    MainWindow *m_appMainWindow = nullptr;  // created once, lives for the process
    TracksWindow *m_tracksWindow = nullptr; // created when first asked for
    QSystemTrayIcon *m_tray = nullptr;
    std::unique_ptr<SyncEngine> m_engine;
    // Uses m_engine, so it goes first.
    std::unique_ptr<ChangeWatcher> m_watcher;
    SignalWatcher *m_signals = nullptr;
    Notifications *m_notifications = nullptr;
    FailedSyncRetry *m_failedSyncRetry = nullptr;
    QTimer *m_trayWatch = nullptr; // while the desktop has no tray
    TrayState m_trayState = TrayState::Idle;
    QString m_trayToolTip;
};
