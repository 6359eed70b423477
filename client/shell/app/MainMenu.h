#pragma once

#include "sync/StatusMenu.h"
#include "sync/SyncProgress.h"

#include <QMap>
#include <QMutex>
#include <QObject>
#include <QString>

#include <array>

class QAction;
class QMenu;

// The status menu: the status line, the seven commands and Quit, and the
// controller that moves them from one state to the next as the coordinator
// and the screens report. Reports may come from any thread; every change to
// an item is applied on the main thread, in the order it was asked for.
class MainMenu : public QObject, public StatusMenu {
    Q_OBJECT
public:
    // The seven command items, in the order of the snapshot's keys.
    enum Command { SyncNow, Settings, About, Help, StopSync, LaunchSBX, LogOut, CommandCount };

    // The shared menu, created on first use; it lives on the main thread.
    static MainMenu &instance();
    // A menu of its own (tests); `instance()` is the one the program uses.
    MainMenu();
    ~MainMenu() override;

    QAction *statusBarMenuItem() const { return m_status; }
    QAction *commandItem(Command command) const { return m_commands[command]; }
    QAction *syncNowMenuItem() const { return m_commands[SyncNow]; }
    QAction *settingsMenuItem() const { return m_commands[Settings]; }
    QAction *aboutMenuItem() const { return m_commands[About]; }
    QAction *helpMenuItem() const { return m_commands[Help]; }
    QAction *stopSyncMenuItem() const { return m_commands[StopSync]; }
    QAction *launchSBXMenuItem() const { return m_commands[LaunchSBX]; }
    QAction *logOutMenuItem() const { return m_commands[LogOut]; }
    QAction *quitMenuItem() const { return m_quit; }
    // The track view; outside the state table (it only reads the store).
    QAction *tracksMenuItem() const { return m_tracks; }
    // "Pause syncing" / "Resume syncing", after the person's own pause;
    // outside the state table, usable in every state.
    QAction *pauseMenuItem() const { return m_pause; }
    // The drop-down menu with the status line first (main thread; built on
    // the first call).
    QMenu *menu();

    // The status line's title and the items' enabled flags as last applied;
    // readable from any thread.
    QString statusTitle() const;
    bool isEnabled(Command command) const;
    bool isStatusLineEnabled() const;
    // The one snapshot of the command items' enabled flags.
    QMap<QString, bool> tempStatusMenu() const;

    void statusMenuLoggedOut() override;
    void statusMenuLibraryPickerView() override;
    void statusMenuScanSummaryView() override;
    void statusMenuSyncStarted() override;
    void statusMenuFingerPrintStarted() override;
    void statusMenuUploadStarted() override;
    void statusMenuDownloadStarted() override;
    void statusMenuSyncStopped() override;
    void statusMenuSyncFinished() override;
    void statusMenuShowProcessPage() override;
    void statusMenuShowSettingsPage() override;
    void statusMenuCloseSettingsPage() override;
    void statusMenuShowOffline() override;
    void statusMenuShowBackOnline() override;
    // While transfers may not run the status line says why instead of an
    // idle title ("Open", "Synced", "Sync Stopped"), and Sync Now stays off.
    void statusMenuPauseChanged(bool pausedByUser, const QString &status) override;
    // Before the first screen has said what may be done (the start-up
    // sign-in runs): only About and Help. The shared menu starts so.
    void statusMenuStarting();
    // Log Out alone, as the login screen asks when it locks or unlocks an
    // offline stored account.
    void setLogOutMenuItemEnabled(bool enabled) override;

    // Takes the snapshot now, in the caller's thread, then disables the seven
    // commands on the main thread.
    void disableStatusMenuItems();
    void storeCurrentMenuState();
    // Sets the commands from the snapshot (a missing key: disabled); the
    // snapshot stays.
    void restorePreviousMenuState();

    // The status line follows the running stage of `progress` ("Downloading
    // 40%") from now on, in place of any other model followed before.
    void follow(const SyncProgress &progress);
    // The status line for a stage's progress, when it counts tracks;
    // anything else leaves the title as it is.
    void showProgress(const SyncProgress::State &state);

signals:
    // The status line's title changed (main thread).
    void statusTitleChanged(const QString &title);

private:
    enum State { Keep, On, Off };
    using Row = std::array<State, CommandCount>;

    // Queues one change of title, status line and commands for the main thread.
    void apply(const QString &title, State statusLine, const Row &commands);
    void applyTitle(const QString &title);
    void setCommandStates(const Row &commands);
    void onMainThread(std::function<void()> change);

    QAction *m_status = nullptr;
    std::array<QAction *, CommandCount> m_commands{};
    QAction *m_quit = nullptr;
    QAction *m_tracks = nullptr;
    QAction *m_pause = nullptr;
    QMenu *m_menu = nullptr;

    mutable QMutex m_lock; // guards the applied state and the snapshot
    QString m_title;
    bool m_statusEnabled = true;
    std::array<bool, CommandCount> m_enabled{};
    QMap<QString, bool> m_tempStatusMenu;
    QString m_pausedStatus;  // empty while transfers may run
    QString m_progressTitle; // the last percentage asked for since another title
    QMetaObject::Connection m_following;
};
