// What the window tells of a sync: the way on from the progress page however
// the sync ended, the last sync's summary, the track view with each track's
// state and reason, and the usage-statistics switch.
#include "ShellFixture.h"
#include "TestEnvironment.h"
#include "screens/LastSyncSummary.h"
#include "screens/ProcessPage.h"
#include "screens/Settings.h"
#include "screens/TracksWindow.h"
#include "settings/GAUtility.h"
#include "settings/NSDefaultsUtility.h"
#include "store/GenericDAO.h"
#include "sync/Sonarbox.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>

#include <semaphore>

namespace {

bool shown(QWidget *screen, const char *name) {
    auto *widget = screen->findChild<QWidget *>(QLatin1String(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget && widget->isVisibleTo(screen);
}

void settle() {
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
}

class WhatASyncDid : public ShellFixture {
protected:
    void TearDown() override {
        release.release(); // never leave the stage thread waiting
        ShellFixture::TearDown();
        Sonarbox::instance().setStages(Sonarbox::placeholderStages());
    }

    // Every stage passes on at once, except the fingerprinting, which waits
    // for the test when `hold` is set.
    void installStages(bool hold) {
        Sonarbox::Stages stages = Sonarbox::placeholderStages();
        if (hold) {
            stages.fingderPrintLocalMediaFiles = [this](const SyncRunPtr &run,
                                                        Sonarbox::Completion done) {
                entered = true;
                release.acquire();
                if (!Sonarbox::instance().stopRequested(*run))
                    done();
                else
                    Sonarbox::instance().applicationWasStopped();
            };
        }
        Sonarbox::instance().setStages(stages);
    }

    static void store(const QString &checksum, const QString &title,
                      std::optional<bool> downloadable, std::optional<bool> uploaded = {},
                      std::optional<QString> reason = {}, qint64 downloaded = 0) {
        auto track = std::make_shared<Audio>();
        track->checksum = checksum;
        track->songName = title;
        track->artist = QStringLiteral("The Harbour Lights");
        track->album = QStringLiteral("Evening Tide");
        track->fileURL = QStringLiteral("/music/%1.mp3").arg(title);
        track->downloadable = downloadable;
        track->uploaded = uploaded;
        track->failureReason = reason;
        track->downloaded = downloaded;
        GenericDAO::instance().save(track);
    }

    std::binary_semaphore release{0};
    std::atomic<bool> entered{false};
};

// A new account's page hides Sync and Done and shows Continue only once the
// catalogue matched something: a sync that matched nothing, or was stopped,
// must still leave something to press.
TEST_F(WhatASyncDid, TheProgressPageOffersAWayOnHoweverTheSyncEnded) {
    Sonarbox &sonarbox = Sonarbox::instance();
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "stopped" : "matched nothing");
        installStages(stopped);
        entered = false;
        sonarbox.showNewUserFlow(true);
        ProcessPage page;
        sonarbox.sync(true);
        if (stopped) {
            ASSERT_TRUE(TestEnvironment::waitUntil([&] { return entered.load(); }));
            settle();
            // Running: nothing to press yet is right, the sync is under way.
            EXPECT_FALSE(shown(&page, "processVewSyncButton"));
            EXPECT_FALSE(shown(&page, "launchSbxBtn"));
            sonarbox.stopSyncAction();
            release.release();
        }
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !sonarbox.syncInProgress; }));
        sonarbox.operationQueue().waitUntilAllOperationsAreFinished();
        settle();
        EXPECT_TRUE(shown(&page, "processVewSyncButton"));
        EXPECT_EQ(page.findChild<QPushButton *>(QStringLiteral("processVewSyncButton"))->text(),
                  "Sync");
        EXPECT_TRUE(shown(&page, "launchSbxBtn"));
    }
}

TEST_F(WhatASyncDid, TheLastSyncsSummaryIsOnTheProgressPage) {
    installStages(false);
    ProcessPage page;
    Sonarbox::instance().sync(true);
    // The end of the sync reaches the page as a queued event, after the
    // coordinator has already let go of the run.
    const QLabel *line = page.findChild<QLabel *>(QStringLiteral("lastSyncSummary"));
    ASSERT_TRUE(TestEnvironment::waitUntil([&] {
        return line->text().contains(QStringLiteral(" — Sync Completed"));
    })) << line->text().toStdString();
    settle();
    const QString summary = line->text();
    EXPECT_TRUE(summary.startsWith(QStringLiteral("Last sync "))) << summary.toStdString();
    EXPECT_TRUE(summary.contains(
        QStringLiteral(" — Sync Completed in 0 s: 0 found, 0 matched without upload, 0 uploaded, "
                       "0 downloaded, 0 failed")))
        << summary.toStdString();
    EXPECT_TRUE(shown(&page, "lastSyncSummary"));
    EXPECT_EQ(LastSyncSummary::instance().text(), summary);

    SyncProgress::State totals;
    totals.tracksFound = 7;
    totals.tracksMatched = 4;
    totals.tracksUploaded = 3;
    totals.tracksDownloaded = 1;
    totals.tracksFailed = 2;
    const QDateTime earlier(QDate(2026, 3, 1), QTime(9, 5));
    EXPECT_EQ(LastSyncSummary::describe(QStringLiteral("Sync stopped"), totals, 65000, earlier),
              "Last sync 2026-03-01 09:05 — Sync stopped in 1 min 5 s: 7 found, 4 matched "
              "without upload, 3 uploaded, 1 downloaded, 2 failed");
}

TEST_F(WhatASyncDid, TheTrackViewGivesEveryTrackItsStateAndSearches) {
    store(QStringLiteral("a"), QStringLiteral("Anchor"), true);
    store(QStringLiteral("b"), QStringLiteral("Breakwater"), true, true);
    store(QStringLiteral("c"), QStringLiteral("Cove"), true, {}, {}, 1);
    store(QStringLiteral("d"), QStringLiteral("Dune"), false);
    store(QStringLiteral("e"), QStringLiteral("Estuary"), {});
    store(QStringLiteral("f"), QStringLiteral("Fjord"), false, {},
          QStringLiteral("the service refused it (quota full)"));

    TracksWindow window;
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return window.model()->rowCount() == 6; }));
    QStringList states;
    for (int row = 0; row < 6; ++row)
        states << window.model()->index(row, TrackListModel::Title).data().toString() + ": " +
                      window.model()->index(row, TrackListModel::State).data().toString();
    EXPECT_EQ(states, (QStringList{"Anchor: matched from the catalogue", "Breakwater: uploaded",
                                   "Cove: downloaded", "Dune: waiting for upload",
                                   "Estuary: not answered yet",
                                   "Fjord: failed: the service refused it (quota full)"}));
    EXPECT_EQ(window.countLabel()->text(), "6 tracks");

    window.searchField()->setText(QStringLiteral("QUOTA"));
    ASSERT_EQ(window.model()->rowCount(), 1);
    EXPECT_EQ(window.model()->index(0, TrackListModel::Title).data().toString(), "Fjord");
    EXPECT_EQ(window.countLabel()->text(), "1 of 6 tracks");
    // Every word must be found, in any of the fields.
    window.searchField()->setText(QStringLiteral("harbour cove"));
    ASSERT_EQ(window.model()->rowCount(), 1);
    EXPECT_EQ(window.model()->index(0, TrackListModel::Title).data().toString(), "Cove");
    window.searchField()->clear();
    EXPECT_EQ(window.model()->rowCount(), 6);

    // A track whose upload then went through is no longer a failure.
    AudioPtr fjord = GenericDAO::instance().getById(QStringLiteral("audioByCode"), "f");
    ASSERT_TRUE(fjord);
    fjord->downloadable = true;
    fjord->uploaded = true;
    fjord->failureReason.reset();
    GenericDAO::instance().save(fjord);
    window.reload();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] {
        return window.model()->rowCount() == 6 &&
               window.model()->index(5, TrackListModel::State).data().toString() == "uploaded";
    }));
}

TEST_F(WhatASyncDid, SharingUsageStatisticsIsASwitchInTheSettings) {
    auto user = std::make_shared<User>();
    user->username = Email;
    Sonarbox::instance().setLoggedUser(user);
    {
        Settings settings;
        auto *share = settings.findChild<QCheckBox *>(QStringLiteral("shareUsageCheckbox"));
        ASSERT_TRUE(share);
        EXPECT_EQ(share->text(), "Share anonymous usage statistics");
        EXPECT_TRUE(share->isChecked()); // on until the person says otherwise
        share->click();
        EXPECT_FALSE(NSDefaultsUtility::boolean(QLatin1StringView("shareUsageStatistics")));
        EXPECT_FALSE(GAUtility::userSharesUsageStatistics());
    }
    Settings again;
    EXPECT_FALSE(again.findChild<QCheckBox *>(QStringLiteral("shareUsageCheckbox"))->isChecked());
}

} // namespace
