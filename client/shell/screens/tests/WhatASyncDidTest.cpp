// What the window tells of a sync: the way on from the progress page however
// the sync ended, the last sync's summary, the track view with each track's
// state and reason, and the usage-statistics switch.
#include "ShellFixture.h"
#include "TestEnvironment.h"
#include "engine/Sonarbox.h"
#include "screens/LastSyncSummary.h"
#include "screens/ProcessPage.h"
#include "screens/Settings.h"
#include "screens/TracksWindow.h"
#include "settings/GAUtility.h"
#include "settings/NSDefaultsUtility.h"
#include "store/GenericDAO.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
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
        Sonarbox::instance().setStages(Sonarbox::instance().placeholderStages());
    }

    // Every stage passes on at once, except the fingerprinting, which waits
    // for the test when `hold` is set.
    void installStages(bool hold) {
        Sonarbox::Stages stages = Sonarbox::instance().placeholderStages();
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

// A new account's page hides Sync and Done while the sync runs and offers
// Continue (with the continue-while-importing text) once the catalogue has
// matched something. However the sync ends, Done beside the Sync toggle is
// then the one way on, also on a page made afterwards.
TEST_F(WhatASyncDid, TheProgressPageOffersOneWayOnOnceTheSyncHasEnded) {
    Sonarbox &sonarbox = Sonarbox::instance();
    const QStringList running{"youDontNeedToWait", "launchSbxBtn", "nextArrow"};
    const auto onlySyncAndDone = [&](ProcessPage &page) {
        EXPECT_TRUE(shown(&page, "processVewSyncButton"));
        EXPECT_EQ(page.findChild<QPushButton *>(QStringLiteral("processVewSyncButton"))->text(),
                  "Sync");
        EXPECT_TRUE(shown(&page, "doneBtn"));
        for (const QString &name : running)
            EXPECT_FALSE(shown(&page, name.toLatin1().constData())) << name.toStdString();
    };
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "stopped" : "completed");
        installStages(true);
        entered = false;
        sonarbox.flow_newUser = true;
        sonarbox.showNewUserFlow(true);
        ProcessPage page;
        sonarbox.sync(true);
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return entered.load(); }));
        settle();
        // Running: nothing to press yet is right, the sync is under way.
        EXPECT_FALSE(shown(&page, "processVewSyncButton"));
        EXPECT_FALSE(shown(&page, "doneBtn"));
        for (const QString &name : running)
            EXPECT_FALSE(shown(&page, name.toLatin1().constData())) << name.toStdString();
        // The first match offers to go on while the import runs.
        sonarbox.progressPage().showLaunchControls();
        settle();
        for (const QString &name : running)
            EXPECT_TRUE(shown(&page, name.toLatin1().constData())) << name.toStdString();
        EXPECT_EQ(page.findChild<QLabel *>(QStringLiteral("youDontNeedToWait"))->text(),
                  "You can continue while the import is in progress.");
        if (stopped)
            sonarbox.stopSyncAction();
        release.release();
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !sonarbox.syncInProgress; }));
        sonarbox.operationQueue().waitUntilAllOperationsAreFinished();
        settle();
        onlySyncAndDone(page);
        ProcessPage later;
        onlySyncAndDone(later);
        // A stage that saw the stop late reveals them once more: not here.
        sonarbox.progressPage().showLaunchControls();
        settle();
        onlySyncAndDone(page);
    }
    sonarbox.flow_newUser = false;
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

// A sync as the stages tell it: `matched` tracks added from the catalogue,
// `uploaded` sent and `downloaded` fetched.
void tellASync(SyncProgress &progress, int matched, int uploaded, int downloaded) {
    using Outcome = SyncProgress::Outcome;
    using Stage = SyncProgress::Stage;
    progress.beginSync();
    progress.beginStage(Stage::Matching, matched + uploaded);
    for (int i = 0; i < matched + uploaded; ++i)
        progress.finishItem(QStringLiteral("Track %1").arg(i),
                            i < matched ? Outcome::Succeeded : Outcome::Unmatched);
    progress.beginStage(Stage::Downloading, downloaded);
    for (int i = 0; i < downloaded; ++i)
        progress.finishItem(QStringLiteral("Far Away %1").arg(i), Outcome::Succeeded);
    progress.beginStage(Stage::Uploading, uploaded);
    for (int i = 0; i < uploaded; ++i)
        progress.finishItem(QStringLiteral("Kitchen Session %1").arg(i), Outcome::Succeeded);
    progress.endSync(QStringLiteral("Sync Completed"));
    settle(); // the summary follows queued events
}

// The last sync that changed something stays beside the latest one: a sync
// with nothing to do does not replace it, nor does a restart lose it.
TEST_F(WhatASyncDid, TheLastChangeOutlivesSyncsWithNothingToDoAndARestart) {
    SyncProgress progress;
    auto summary = std::make_unique<LastSyncSummary>(progress);
    EXPECT_EQ(summary->lastChange(), "");
    tellASync(progress, 4, 3, 1);
    const QString change = summary->lastChange();
    EXPECT_TRUE(
        QRegularExpression(
            QStringLiteral("^Last change \\d\\d:\\d\\d: 4 matched, 3 uploaded, 1 downloaded$"))
            .match(change)
            .hasMatch())
        << change.toStdString();
    EXPECT_EQ(NSDefaultsUtility::standard().number(QLatin1StringView("lastChangeMatched")), 4);
    EXPECT_EQ(NSDefaultsUtility::standard().number(QLatin1StringView("lastChangeUploaded")), 3);
    EXPECT_EQ(NSDefaultsUtility::standard().number(QLatin1StringView("lastChangeDownloaded")), 1);
    EXPECT_TRUE(
        NSDefaultsUtility::standard().text(QLatin1StringView("lastChangeTime")).has_value());

    tellASync(progress, 0, 0, 0);
    EXPECT_TRUE(summary->text().contains(QStringLiteral(": 0 found, 0 matched without upload")))
        << summary->text().toStdString();
    EXPECT_EQ(summary->lastChange(), change);

    summary = std::make_unique<LastSyncSummary>(progress); // the next start
    EXPECT_EQ(summary->lastChange(), change);
    tellASync(progress, 0, 0, 2); // a change of one kind is a change
    EXPECT_TRUE(
        summary->lastChange().endsWith(QStringLiteral(": 0 matched, 0 uploaded, 2 downloaded")))
        << summary->lastChange().toStdString();

    SyncProgress::State totals;
    totals.tracksMatched = 4;
    totals.tracksUploaded = 3;
    totals.tracksDownloaded = 1;
    totals.tracksFailed = 2;
    EXPECT_EQ(LastSyncSummary::describeChange(totals, QDateTime(QDate(2026, 3, 1), QTime(9, 19))),
              "Last change 2026-03-01 09:19: 4 matched, 3 uploaded, 1 downloaded");
}

TEST_F(WhatASyncDid, TheProgressPageShowsTheLastChangeBesideTheLastSync) {
    installStages(false);
    LastSyncSummary::instance(); // follows the coordinator's syncs from now on
    tellASync(Sonarbox::instance().syncProgress(), 4, 3, 1);
    ProcessPage page;
    const QLabel *last = page.findChild<QLabel *>(QStringLiteral("lastSyncSummary"));
    const QLabel *change = page.findChild<QLabel *>(QStringLiteral("lastChangeSummary"));
    ASSERT_TRUE(last && change);
    EXPECT_TRUE(shown(&page, "lastChangeSummary"));
    EXPECT_TRUE(change->text().endsWith(QStringLiteral(": 4 matched, 3 uploaded, 1 downloaded")))
        << change->text().toStdString();
    const QString before = change->text();

    // The real chain with stages that find nothing to do.
    Sonarbox::instance().sync(true);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] {
        return last->text().contains(QStringLiteral(": 0 found, 0 matched without upload"));
    })) << last->text().toStdString();
    settle();
    EXPECT_EQ(change->text(), before);
    EXPECT_TRUE(shown(&page, "lastSyncSummary"));
    EXPECT_TRUE(shown(&page, "lastChangeSummary"));
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
        EXPECT_FALSE(
            NSDefaultsUtility::standard().boolean(QLatin1StringView("shareUsageStatistics")));
        EXPECT_FALSE(GAUtility::userSharesUsageStatistics());
    }
    Settings again;
    EXPECT_FALSE(again.findChild<QCheckBox *>(QStringLiteral("shareUsageCheckbox"))->isChecked());
}

} // namespace
