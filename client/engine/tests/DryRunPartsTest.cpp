// What a sync's preview keeps and says: the identification results kept for
// the sync, the measured upload rate, and the report's lines.
#include "engine/DryRun.h"
#include "settings/NSDefaultsUtility.h"
#include "sync/IdentificationCache.h"
#include "sync/UploadRate.h"

#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

TEST(IdentificationCache, KeepsResultsAcrossOpensOnlyWhileTheFileIsUnchanged) {
    QTemporaryDir dir;
    const QString song = dir.filePath(QStringLiteral("song.mp3"));
    const QString other = dir.filePath(QStringLiteral("other.mp3"));
    ASSERT_TRUE(writeFile(song, "first"));
    ASSERT_TRUE(writeFile(other, "second"));
    const QString file = IdentificationCache::fileIn(dir.path());
    const QJsonObject result{{QStringLiteral("input"), song}, {QStringLiteral("hash"), "ABC"}};

    IdentificationCache cache;
    cache.open(file);
    cache.keep(song, result);
    cache.keep(other, QJsonObject{{QStringLiteral("input"), other}});
    cache.keep(dir.filePath(QStringLiteral("gone.mp3")), result); // no file: not kept
    ASSERT_TRUE(cache.save());

    IdentificationCache again;
    again.open(file);
    EXPECT_EQ(again.size(), 2);
    EXPECT_EQ(again.find(song), std::optional<QJsonObject>(result));
    again.forget(other);
    ASSERT_TRUE(again.save());

    // Rewritten with content of another size: identified anew.
    ASSERT_TRUE(writeFile(song, "rewritten"));
    IdentificationCache third;
    third.open(file);
    EXPECT_FALSE(third.find(song));
    EXPECT_FALSE(third.find(other));
}

TEST(IdentificationCache, ADamagedFileIsAnEmptyCache) {
    QTemporaryDir dir;
    const QString file = IdentificationCache::fileIn(dir.path());
    ASSERT_TRUE(writeFile(file, "{not json"));
    IdentificationCache cache;
    cache.open(file);
    EXPECT_EQ(cache.size(), 0);
}

class UploadRateTest : public ::testing::Test {
protected:
    void SetUp() override { NSDefaultsUtility::setStorageFile(dir.filePath("prefs.conf")); }
    void TearDown() override { NSDefaultsUtility::setStorageFile(QString()); }
    QTemporaryDir dir;
};

TEST_F(UploadRateTest, IsMeasuredFromTimedUploadsOnly) {
    EXPECT_FALSE(UploadRate::measured(NSDefaultsUtility::standard()));
    UploadRate rate(NSDefaultsUtility::standard());
    rate.beginRun();
    rate.uploadSucceeded(1 << 20); // never started: not timed
    EXPECT_FALSE(UploadRate::measured(NSDefaultsUtility::standard()));

    rate.uploadStarted();
    QThread::msleep(20);
    rate.uploadSucceeded(1 << 20);
    const std::optional<double> measured =
        NSDefaultsUtility::standard().number(QLatin1StringView("lastUploadBytesPerSecond"));
    ASSERT_TRUE(measured);
    // A MiB in at least 20 ms: at most 50 MiB/s.
    EXPECT_GT(*measured, 0);
    EXPECT_LE(*measured, 50.0 * (1 << 20) + 1);
    EXPECT_EQ(UploadRate::measured(NSDefaultsUtility::standard()), measured);

    NSDefaultsUtility::standard().setNumber(QLatin1StringView("lastUploadBytesPerSecond"), 0);
    EXPECT_FALSE(UploadRate::measured(NSDefaultsUtility::standard()));
}

TEST(UploadRate, SecondsRoundUp) {
    EXPECT_EQ(UploadRate::secondsFor(0, 1000), 0);
    EXPECT_EQ(UploadRate::secondsFor(1, 1e9), 1);
    EXPECT_EQ(UploadRate::secondsFor(3000, 1000), 3);
    EXPECT_EQ(UploadRate::secondsFor(3001, 1000), 4);
}

TEST(DryRunReport, SaysTheCountsTheSizeAndTheEstimateOrWhyThereIsNone) {
    DryRunReport report;
    report.filesFound = 12;
    report.tracksKnown = 4;
    report.filesToIdentify = 8;
    report.expectedFromCatalogue = 5;
    report.songsToDownload = 2;
    report.tracksToUpload = 3;
    report.uploadBytes = 128 * 1024 * 1024;
    EXPECT_EQ(report.lines().mid(1),
              (QStringList{"Files found: 12", "Tracks already known: 4", "Files to identify: 8",
                           "Expected from the catalogue without upload: 5", "Songs to download: 2",
                           "Tracks to upload: 3 (128.0 MiB)",
                           "Upload time: not estimated, no upload rate has been measured yet"}));

    report.uploadBytesPerSecond = 1024 * 1024;
    EXPECT_EQ(report.lines().last(),
              "Upload time: about 2 min 8 s at 1.0 MiB/s, the rate of the last uploads");
    report.uploadBytesPerSecond = 10 * 1024;
    EXPECT_EQ(report.lines().last(),
              "Upload time: about 3 h 38 min at 10 KiB/s, the rate of the last uploads");

    report.error = QStringLiteral("the network is offline");
    EXPECT_EQ(report.lines().mid(1),
              QStringList{"The dry run did not finish: the network is offline"});
}

} // namespace
