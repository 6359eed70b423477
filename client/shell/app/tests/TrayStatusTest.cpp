// The tray's state and tooltip, chosen from what the program knows.
#include "TrayStatus.h"

#include <gtest/gtest.h>

TEST(TrayStatus, OfflineThenSignInThenSyncingThenFailuresDecide) {
    using TrayStatus::stateFor;
    // signedIn, offline, syncing, failures of the last sync
    EXPECT_EQ(stateFor(true, false, false, 0), TrayState::Idle);
    EXPECT_EQ(stateFor(true, false, true, 0), TrayState::Syncing);
    EXPECT_EQ(stateFor(true, false, true, 3), TrayState::Syncing);
    EXPECT_EQ(stateFor(true, false, false, 1), TrayState::NeedsAttention);
    EXPECT_EQ(stateFor(false, false, false, 0), TrayState::NeedsAttention);
    EXPECT_EQ(stateFor(false, false, true, 0), TrayState::NeedsAttention);
    EXPECT_EQ(stateFor(true, true, true, 0), TrayState::Offline);
    EXPECT_EQ(stateFor(false, true, false, 2), TrayState::Offline);
}

TEST(TrayStatus, TheToolTipCarriesTheStatusLineAndTheLastSummary) {
    EXPECT_EQ(
        TrayStatus::toolTip(QStringLiteral("Synced"),
                            QStringLiteral("Last sync 14:03 — Sync Completed in 5 s: 7 found")),
        "Sonarbox — Synced\nLast sync 14:03 — Sync Completed in 5 s: 7 found");
    EXPECT_EQ(TrayStatus::toolTip(QStringLiteral("Offline"), QString()), "Sonarbox — Offline");
}
