#pragma once

#include <QString>

// What the tray icon says at a glance. The icon for each state comes from
// the icon set; the choice of state is made here.
enum class TrayState {
    Idle,           // signed in, nothing running, the last sync went through
    Syncing,        // a sync runs
    Offline,        // the service cannot be reached
    NeedsAttention, // sign-in needed, or the last sync left failures
};

namespace TrayStatus {

// Offline wins over everything (nothing can be done about the rest until
// the network is back), then a sign-in that is needed, then a running sync,
// then failures left by the last one.
TrayState stateFor(bool signedIn, bool offline, bool syncing, qint64 lastSyncFailures);

// The tooltip: the program, its status line and the last sync's summary.
QString toolTip(const QString &statusLine, const QString &lastSyncSummary);

} // namespace TrayStatus
