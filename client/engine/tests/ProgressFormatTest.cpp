// The lines sonarbox-headless prints about a running sync.
#include "engine/ProgressFormat.h"

#include <gtest/gtest.h>

namespace {

using Stage = SyncProgress::Stage;
using Outcome = SyncProgress::Outcome;

SyncProgress::Event finished(Stage stage, qint64 done, qint64 total, const QString &item,
                             Outcome outcome, const QString &detail = QString()) {
    SyncProgress::Event e;
    e.kind = SyncProgress::Event::Kind::ItemFinished;
    e.item = item;
    e.outcome = outcome;
    e.detail = detail;
    e.state.stage = stage;
    e.state.itemsDone = done;
    e.state.itemsTotal = total;
    e.state.stageElapsedMs = 1000;
    return e;
}

TEST(ProgressLines, ATrackLineTellsItsPlaceBytesRateAndTimeLeft) {
    SyncProgress::Event upload =
        finished(Stage::Uploading, 3, 10, QStringLiteral("Song.mp3"), Outcome::Succeeded);
    upload.state.bytesDone = 12'000'000;
    upload.state.bytesTotal = 48'000'000; // a quarter in one second: three more
    EXPECT_EQ(
        ProgressFormat::itemFinished(upload, 4'100'000),
        QStringLiteral("[Uploading 3/10] Song.mp3 uploaded (4.1 MB, 12.0 MB/s, about 3 s left)"));

    // Without bytes the items tell the time left; the last track has none.
    EXPECT_EQ(ProgressFormat::itemFinished(
                  finished(Stage::Matching, 1, 5, QStringLiteral("A.m4a"), Outcome::Succeeded), 0),
              QStringLiteral("[Matching 1/5] A.m4a matched without upload (about 4 s left)"));
    EXPECT_EQ(ProgressFormat::itemFinished(
                  finished(Stage::Matching, 5, 5, QStringLiteral("B.ogg"), Outcome::Unmatched), 0),
              QStringLiteral("[Matching 5/5] B.ogg not in the catalogue, will be uploaded"));
    EXPECT_EQ(
        ProgressFormat::itemFinished(finished(Stage::Downloading, 2, 2, QStringLiteral("C.mp3"),
                                              Outcome::Failed, QStringLiteral("HTTP 500")),
                                     0),
        QStringLiteral("[Downloading 2/2] C.mp3 failed: HTTP 500"));
}

TEST(ProgressLines, StageStartsAndTheSummary) {
    SyncProgress::State s;
    s.stage = Stage::Scanning;
    EXPECT_EQ(ProgressFormat::stageStarted(s), QStringLiteral("[Scanning] started"));
    s.stage = Stage::Downloading;
    s.itemsTotal = 1;
    EXPECT_EQ(ProgressFormat::stageStarted(s), QStringLiteral("[Downloading] 1 track"));
    s.stage = Stage::Uploading;
    s.itemsTotal = 3;
    s.bytesTotal = 1'700'000;
    EXPECT_EQ(ProgressFormat::stageStarted(s), QStringLiteral("[Uploading] 3 tracks, 1.7 MB"));

    SyncProgress::State t;
    t.tracksFound = 12;
    t.tracksMatched = 5;
    t.tracksUploaded = 6;
    t.tracksDownloaded = 1;
    t.tracksFailed = 2;
    EXPECT_EQ(ProgressFormat::summary(QStringLiteral("Sync Completed"), t, 65'000),
              QStringLiteral("Sync Completed in 1 min 5 s: 12 found, 5 matched without upload, "
                             "6 uploaded, 1 downloaded, 2 failed"));
}

TEST(ProgressLines, FilesLeftAsStillWrittenAreNamedTheFirstTenAtMost) {
    EXPECT_TRUE(ProgressFormat::leftStillWritten({}).isEmpty());
    EXPECT_EQ(ProgressFormat::leftStillWritten({QStringLiteral("/m/a.mp3")}),
              QStringList{QStringLiteral(
                  "1 file is still being written and waits for the next sync: /m/a.mp3")});
    QStringList many;
    for (int i = 1; i <= 12; ++i)
        many << QStringLiteral("/m/%1.mp3").arg(i);
    const QStringList lines = ProgressFormat::leftStillWritten(many);
    ASSERT_EQ(lines.size(), 12);
    EXPECT_EQ(lines.first(),
              QStringLiteral("12 files are still being written and wait for the next sync:"));
    EXPECT_EQ(lines.at(1), QStringLiteral("  /m/1.mp3"));
    EXPECT_EQ(lines.at(10), QStringLiteral("  /m/10.mp3"));
    EXPECT_EQ(lines.last(), QStringLiteral("  and 2 more"));
}

TEST(ProgressLines, SizesAndDurationsRoundAtTheirBoundaries) {
    EXPECT_EQ(ProgressFormat::bytes(999), QStringLiteral("999 B"));
    EXPECT_EQ(ProgressFormat::bytes(1000), QStringLiteral("1.0 KB"));
    EXPECT_EQ(ProgressFormat::bytes(999'960), QStringLiteral("1.0 MB"));
    EXPECT_EQ(ProgressFormat::bytes(1'250'000'000), QStringLiteral("1.25 GB"));
    EXPECT_EQ(ProgressFormat::duration(59'499), QStringLiteral("59 s"));
    EXPECT_EQ(ProgressFormat::duration(59'500), QStringLiteral("1 min"));
    EXPECT_EQ(ProgressFormat::duration(3'659'000), QStringLiteral("1 h"));
    EXPECT_EQ(ProgressFormat::duration(7'260'000), QStringLiteral("2 h 1 min"));
}

TEST(ProgressLines, TheBarFitsTheTerminal) {
    SyncProgress::State s;
    s.stage = Stage::Uploading;
    s.itemsDone = 3;
    s.itemsTotal = 10;
    s.bytesDone = 12'000'000;
    s.bytesTotal = 48'000'000;
    s.stageElapsedMs = 1000;
    s.currentItem = QStringLiteral("A song with a rather long name that goes on and on.mp3");
    const QString wide = ProgressFormat::bar(s, 200);
    EXPECT_TRUE(wide.startsWith(QStringLiteral(
        "[Uploading 3/10] [#####---------------] 25% 12.0 MB/48.0 MB  about 3 s left")))
        << wide.toStdString();
    EXPECT_TRUE(wide.endsWith(s.currentItem));
    EXPECT_EQ(ProgressFormat::bar(s, 60).size(), 59);
}

} // namespace
