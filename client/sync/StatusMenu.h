#pragma once

#include <QString>

// The state operations of the status menu, as the coordinator and the screens
// report changes. The desktop shell's menu controller implements them; with
// none bound, the reports go nowhere. A running stage's percentage is not
// reported here: the menu reads it from the sync's progress model.
class StatusMenu {
public:
    virtual ~StatusMenu() = default;

    virtual void statusMenuLoggedOut() {}
    virtual void statusMenuLibraryPickerView() {}
    virtual void statusMenuScanSummaryView() {}
    virtual void statusMenuSyncStarted() {}
    virtual void statusMenuFingerPrintStarted() {}
    virtual void statusMenuUploadStarted() {}
    virtual void statusMenuDownloadStarted() {}
    virtual void statusMenuSyncStopped() {}
    virtual void statusMenuSyncFinished() {}
    virtual void statusMenuShowProcessPage() {}
    virtual void statusMenuShowSettingsPage() {}
    virtual void statusMenuCloseSettingsPage() {}
    virtual void statusMenuShowOffline() {}
    virtual void statusMenuShowBackOnline() {}
    // Syncing was paused or resumed: `pausedByUser` is the person's own pause
    // (the pause command follows it); `status` says why transfers may not run
    // ("Paused", "Paused: metered connection"), empty when they may.
    virtual void statusMenuPauseChanged(bool pausedByUser, const QString &status) {
        (void)pausedByUser;
        (void)status;
    }
    // The login screen locks its fields for a stored account while offline
    // and leaves "log out" as the way on; it unlocks them again later.
    virtual void setLogOutMenuItemEnabled(bool enabled) { (void)enabled; }
};
