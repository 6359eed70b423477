// The sync's progress model: the percentage and the bar it makes of a stage's
// counts, the track it names, and that every change is announced.
#include "sync/SyncProgress.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

using Stage = SyncProgress::Stage;
using Outcome = SyncProgress::Outcome;

// "fraction percentage": what the bar and its label show.
QString bar(const SyncProgress &progress) {
    const SyncProgress::State s = progress.state();
    return QStringLiteral("%1 %2").arg(s.fraction).arg(s.percentage).trimmed();
}

void finish(SyncProgress &progress, int count, Outcome outcome = Outcome::Succeeded) {
    for (int i = 0; i < count; ++i)
        progress.finishItem(QStringLiteral("Track %1").arg(i + 1), outcome);
}

// The percentage has always gone through one single-precision step, and
// people have seen its numbers: they stay.
TEST(ProgressModel, PercentageGoesThroughSinglePrecision) {
    EXPECT_EQ(SyncProgress::percentOf(1, 3), 33);
    EXPECT_EQ(SyncProgress::percentOf(2, 3), 66);
    EXPECT_EQ(SyncProgress::percentOf(3, 3), 100);
    EXPECT_EQ(SyncProgress::percentOf(199, 200), 99);
    EXPECT_EQ(SyncProgress::percentOf(53, 100), 52);
    EXPECT_EQ(SyncProgress::percentOf(0, 7), 0);
    EXPECT_EQ(SyncProgress::percentOf(0, 0), 0);
    EXPECT_EQ(SyncProgress::percentOf(5, 0), 0);
}

TEST(ProgressModel, TheBarFollowsTheCountsOfAStageThatCountsTracks) {
    SyncProgress progress;
    progress.beginSync();
    EXPECT_EQ(bar(progress), "0");

    // Nothing to count: no percentage at all, not "0%".
    progress.beginStage(Stage::Matching, 0);
    EXPECT_EQ(bar(progress), "0");

    progress.beginStage(Stage::Downloading, 3);
    EXPECT_EQ(bar(progress), "0 0%");
    finish(progress, 1);
    EXPECT_EQ(bar(progress), "0.33 33%");
    finish(progress, 1, Outcome::Failed); // a failed track is done as well
    EXPECT_EQ(bar(progress), "0.66 66%");
    finish(progress, 1, Outcome::Skipped);
    EXPECT_EQ(bar(progress), "1 100%");
    EXPECT_EQ(progress.state().percent, 100);

    // A total learnt later counts too.
    progress.beginStage(Stage::Uploading, 0);
    progress.setTotals(4, 0);
    finish(progress, 1);
    EXPECT_EQ(bar(progress), "0.25 25%");
}

TEST(ProgressModel, AScanLeavesTheBarAsItWas) {
    SyncProgress progress;
    progress.beginSync();
    progress.beginStage(Stage::Scanning, 0);
    progress.trackFound(40);
    progress.setCurrentItem(QStringLiteral("/music/a.mp3"));
    EXPECT_EQ(bar(progress), "0");
    EXPECT_EQ(progress.state().itemsDone, 40);
}

TEST(ProgressModel, TheCurrentTrackIsNamedUntilTheStageMovesOn) {
    SyncProgress progress;
    progress.beginSync();
    progress.beginStage(Stage::Uploading, 2);
    progress.setCurrentItem(QStringLiteral("a.mp3"), QStringLiteral("The Testers"),
                            QStringLiteral("Opening"));
    SyncProgress::State s = progress.state();
    EXPECT_EQ(std::tuple(s.currentItem, s.artist, s.song),
              std::tuple(QString("a.mp3"), QString("The Testers"), QString("Opening")));

    // A track without tags names no one else's artist.
    progress.setCurrentItem(QStringLiteral("b.mp3"));
    s = progress.state();
    EXPECT_EQ(std::tuple(s.currentItem, s.artist, s.song),
              std::tuple(QString("b.mp3"), QString(), QString()));

    progress.setCurrentItem(QStringLiteral("c.mp3"), QStringLiteral("Guest"),
                            QStringLiteral("Closing"));
    progress.beginStage(Stage::Downloading, 1);
    s = progress.state();
    EXPECT_EQ(std::tuple(s.artist, s.song), std::tuple(QString(), QString()));
}

// Between stages the bar is empty; the end of a sync fills it only when the
// sync went through.
TEST(ProgressModel, TheEndOfAStageAndOfASyncSetTheBar) {
    SyncProgress progress;
    progress.beginSync();
    progress.beginStage(Stage::Matching, 4);
    finish(progress, 1);
    progress.setCurrentItem(QStringLiteral("album"), QStringLiteral("artist"),
                            QStringLiteral("album"));
    progress.clearShownProgress();
    SyncProgress::State s = progress.state();
    EXPECT_EQ(bar(progress), "0");
    EXPECT_EQ(std::tuple(s.artist, s.song), std::tuple(QString(), QString()));
    EXPECT_EQ(std::tuple(s.itemsDone, s.tracksMatched), std::tuple(1, 1)) << "counts stay";

    progress.beginStage(Stage::Uploading, 4);
    finish(progress, 1);
    progress.endSync(QStringLiteral("Sync stopped"));
    EXPECT_EQ(bar(progress), "0.25 25%") << "a stopped sync shows where it stopped";

    progress.beginSync();
    EXPECT_EQ(bar(progress), "0");
    progress.beginStage(Stage::Uploading, 4);
    progress.setCurrentItem(QStringLiteral("x"), QStringLiteral("artist"), QStringLiteral("song"));
    progress.showCompleted();
    progress.endSync(QStringLiteral("Sync Completed"));
    s = progress.state();
    EXPECT_EQ(bar(progress), "1 100%");
    EXPECT_EQ(std::tuple(s.stage, s.artist, s.song), std::tuple(Stage::Idle, QString(), QString()));
}

// The page and the menu redraw on `changed`: a change not announced is a
// change they never show.
TEST(ProgressModel, EveryChangeIsAnnounced) {
    SyncProgress progress;
    QSignalSpy changed(&progress, &SyncProgress::changed);
    QSignalSpy events(&progress, &SyncProgress::event);
    const auto announced = [&](const char *what, const std::function<void()> &change) {
        const qsizetype before = changed.count();
        change();
        EXPECT_EQ(changed.count(), before + 1) << what;
    };
    announced("beginSync", [&] { progress.beginSync(); });
    announced("beginStage", [&] { progress.beginStage(Stage::Uploading, 2); });
    announced("setTotals", [&] { progress.setTotals(3, 0); });
    announced("setCurrentItem", [&] {
        progress.setCurrentItem(QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"));
    });
    announced("addBytes", [&] { progress.addBytes(10); });
    announced("finishItem", [&] { finish(progress, 1); });
    announced("trackFound", [&] { progress.trackFound(); });
    announced("clearShownProgress", [&] { progress.clearShownProgress(); });
    announced("showCompleted", [&] { progress.showCompleted(); });
    announced("endSync", [&] { progress.endSync(QStringLiteral("Sync Completed")); });

    // The end of a completed sync is an event with its state, as a stopped one is.
    ASSERT_FALSE(events.isEmpty());
    const auto last = events.last().at(0).value<SyncProgress::Event>();
    EXPECT_EQ(last.kind, SyncProgress::Event::Kind::SyncEnded);
    EXPECT_EQ(last.detail, "Sync Completed");
    EXPECT_EQ(last.state.percentage, "100%");
}

} // namespace
