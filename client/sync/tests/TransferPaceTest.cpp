// The arithmetic of a rate limit, where the limits come from, and the upload
// body that hands out what they allow.
#include "sync/TransferPace.h"
#include "settings/DeploymentConfig.h"
#include "settings/NSDefaultsUtility.h"
#include "sync/MultipartUploadBody.h"
#include "sync/TokenBucket.h"
#include "sync/TransferLimits.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = TokenBucket::Clock;

constexpr qint64 kMiB = 1024 * 1024;

// Asked for more than it allows, 16 KiB every 3 ms for 20 s, a bucket of
// 1 MiB/s grants the rate and never more than one burst above it, and time
// spent idle saves up no more than one burst.
TEST(TokenBucket, GrantsTheRateAndAtMostOneBurstMoreOverAnyStretch) {
    TokenBucket bucket;
    const Clock::time_point t0 = Clock::now();
    bucket.setRate(kMiB, t0);
    EXPECT_EQ(bucket.burst(), kMiB / 10);
    qint64 granted = 0;
    qint64 inLastSecond = 0;
    for (int ms = 0; ms <= 20000; ms += 3) {
        const qint64 got = bucket.take(16 * 1024, t0 + ms * 1ms);
        granted += got;
        if (ms > 19000)
            inLastSecond += got;
    }
    EXPECT_LE(granted, 20 * kMiB + bucket.burst());
    EXPECT_GE(granted, 20 * kMiB - 16 * 1024);
    EXPECT_LE(inLastSecond, kMiB + 16 * 1024);
    EXPECT_GE(inLastSecond, kMiB - 32 * 1024);

    EXPECT_EQ(bucket.take(100 * kMiB, t0 + 25s), bucket.burst());
    EXPECT_EQ(bucket.take(100 * kMiB, t0 + 25s), 0);
}

TEST(TokenBucket, SaysHowLongUntilBytesMayGo) {
    TokenBucket bucket;
    const Clock::time_point t0 = Clock::now();
    bucket.setRate(100 * 1024, t0);
    ASSERT_EQ(bucket.take(kMiB, t0), 10 * 1024); // the first burst
    EXPECT_EQ(bucket.waitFor(10 * 1024, t0), 100ms);
    EXPECT_EQ(bucket.waitFor(5 * 1024, t0), 50ms);
    EXPECT_EQ(bucket.waitFor(10 * 1024, t0 + 40ms), 60ms);
    // More than a burst never accrues: waiting for one is as far as it goes.
    EXPECT_EQ(bucket.waitFor(kMiB, t0), 100ms);
    EXPECT_EQ(bucket.waitFor(1024, t0 + 1s), 0ms);
    // A slow limit still lets 1 KiB go at a time.
    bucket.setRate(1024, t0 + 1s);
    EXPECT_EQ(bucket.burst(), 1024);
    bucket.take(kMiB, t0 + 1s);
    EXPECT_EQ(bucket.waitFor(1024, t0 + 1s), 1000ms);
}

TEST(TokenBucket, AChangedRateKeepsOnlyWhatItsOwnBurstHolds) {
    TokenBucket bucket;
    const Clock::time_point t0 = Clock::now();
    bucket.setRate(kMiB, t0); // a full burst of 1 MiB/s saved up
    bucket.setRate(10 * 1024, t0);
    EXPECT_EQ(bucket.take(kMiB, t0), 1024);
    // Raised from empty: the new rate from now on, nothing from before.
    bucket.setRate(kMiB, t0);
    EXPECT_EQ(bucket.take(kMiB, t0), 0);
    EXPECT_EQ(bucket.take(kMiB, t0 + 50ms), kMiB / 20);
}

class TransferLimitsTest : public ::testing::Test {
protected:
    void SetUp() override {
        NSDefaultsUtility::setStorageFile(dir.filePath(QStringLiteral("prefs.conf")));
    }
    void TearDown() override {
        TransferLimits::set({});
        NSDefaultsUtility::setStorageFile(QString());
        DeploymentConfig::resetToDefault();
    }
    QString writeFile(const QString &name, const QByteArray &content) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return file.fileName();
    }
    QTemporaryDir dir;
};

TEST_F(TransferLimitsTest, ThePersonsChoiceWinsOverTheDeploymentsDefault) {
    ASSERT_TRUE(DeploymentConfig::load(
        writeFile(QStringLiteral("deploy.ini"),
                  "[transfers]\nuploadLimitKiBps=300\ndownloadLimitKiBps=2048\n")));
    EXPECT_EQ(TransferLimits::saved(), (TransferLimits{300, 2048}));

    auto prefs = NSDefaultsUtility::standard().settings();
    prefs->setValue(QStringLiteral("uploadLimitKiBps"), QStringLiteral("120"));
    EXPECT_EQ(TransferLimits::saved(), (TransferLimits{120, 2048}));
    // A saved value that is no limit counts as none saved.
    for (const char *junk : {"fast", "-5", "1.5", "1000001"}) {
        prefs->setValue(QStringLiteral("downloadLimitKiBps"), QLatin1String(junk));
        EXPECT_EQ(TransferLimits::saved(), (TransferLimits{120, 2048})) << junk;
    }

    TransferLimits::save({64, 0});
    EXPECT_EQ(TransferLimits::inForce(), (TransferLimits{64, 0}));
    EXPECT_EQ(TransferLimits::uploadInForce(), 64);
    EXPECT_EQ(TransferLimits::downloadInForce(), 0);
    QSettings written(dir.filePath(QStringLiteral("prefs.conf")), QSettings::IniFormat);
    EXPECT_EQ(written.value(QStringLiteral("uploadLimitKiBps")).toString(), QStringLiteral("64"));
    EXPECT_EQ(written.value(QStringLiteral("downloadLimitKiBps")).toString(), QStringLiteral("0"));

    // In force for now, not saved.
    TransferLimits::set({5, 7});
    EXPECT_EQ(TransferLimits::inForce(), (TransferLimits{5, 7}));
    EXPECT_EQ(TransferLimits::saved(), (TransferLimits{64, 0}));
}

TEST_F(TransferLimitsTest, ALimitIsAWholeNumberOfKiBpsInRange) {
    QString error;
    EXPECT_EQ(TransferLimits::parse(QStringLiteral("0"), &error), 0);
    EXPECT_EQ(TransferLimits::parse(QStringLiteral(" 250 "), &error), 250);
    EXPECT_EQ(TransferLimits::parse(QStringLiteral("1000000"), &error), 1000000);
    EXPECT_TRUE(error.isEmpty());
    for (const char *bad : {"-1", "1.5", "abc", "", "1000001"}) {
        error.clear();
        EXPECT_EQ(TransferLimits::parse(QLatin1String(bad), &error), std::nullopt) << bad;
        EXPECT_EQ(error, QStringLiteral("give a whole number of KiB/s from 0 (no limit) to "
                                        "1000000, not '%1'")
                             .arg(QLatin1String(bad)));
    }
}

// The body hands out everything at once without a limit; with one, what the
// limit allows, then nothing (which is not the end) until its readyRead()
// says more may go; lifted, the rest goes at once.
TEST_F(TransferLimitsTest, TheUploadBodyHandsOutWhatTheLimitAllows) {
    const QByteArray content(kMiB, 's');
    const QString path = writeFile(QStringLiteral("song.mp3"), content);
    const QString md5 =
        QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
    TransferPace pace(TransferPace::Direction::Upload);

    TransferLimits::set({0, 100});
    MultipartUploadBody free(path, QStringLiteral("song.mp3"), md5);
    free.setPace(&pace);
    ASSERT_TRUE(free.open(QIODevice::ReadOnly));
    EXPECT_EQ(free.read(2 * kMiB).size(), free.size());

    MultipartUploadBody body(path, QStringLiteral("song.mp3"), md5);
    body.setPace(&pace);
    ASSERT_TRUE(body.open(QIODevice::ReadOnly));
    QSignalSpy woken(&body, &QIODevice::readyRead);
    EXPECT_EQ(body.read(256 * 1024).size(), 256 * 1024); // still no limit

    TransferLimits::set({100, 0}); // in flight
    qint64 handed = 256 * 1024;
    QElapsedTimer since;
    since.start();
    const qint64 burst = body.read(kMiB).size();
    EXPECT_EQ(burst, 10 * 1024); // one burst of 100 KiB/s
    handed += burst;
    // Then no more than the time since has earned: 100 bytes and a little
    // a millisecond (however slowly this build runs), never another burst.
    const qint64 crumbs = body.read(kMiB).size();
    EXPECT_LE(crumbs, 100 * 1024 * since.nsecsElapsed() / 1000000000 + 1);
    handed += crumbs;
    EXPECT_FALSE(body.atEnd());
    ASSERT_TRUE(woken.wait(1000));
    const qint64 more = body.read(kMiB).size();
    EXPECT_GT(more, 0);
    EXPECT_LE(more, 10 * 1024);
    handed += more;

    TransferLimits::set({0, 0});
    EXPECT_EQ(body.read(2 * kMiB).size(), body.size() - handed);
    EXPECT_TRUE(body.atEnd());
}

} // namespace
