#pragma once

#include <QObject>

#include <memory>

class MainWindow;
class QSystemTrayIcon;
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
    void syncAction();
    // Quit: asks the store whether the program may end (it saves first).
    void quitAction();

    MainWindow *appMainWindow() const { return m_appMainWindow; }
    QSystemTrayIcon *trayIcon() const { return m_tray; }

private:
    void connectMenuCommands();
    void createStatusItem();
    void showMainWindow();
    void quitAfterFirstPaint();

    MainWindow *m_appMainWindow = nullptr; // created once, lives for the process
    QSystemTrayIcon *m_tray = nullptr;
    std::unique_ptr<SyncEngine> m_engine;
};
