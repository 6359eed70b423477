// The upload and download limits held by transfers to and from sonarbox-cloud
// while they run, and changed in flight.
#include "TransferFixture.h"

#include "CloudProcess.h"
#include "TestSongs.h"
#include "engine/Sonarbox.h"
#include "settings/Utility.h"
#include "sync/DownloadSongsFromCloud.h"
#include "sync/TransferLimits.h"
#include "sync/UploadFilesToCloud.h"

#include <QElapsedTimer>

#include <algorithm>

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

// The bytes the stage in flight has moved, as its progress counts them, and when.
struct Sample {
    qint64 ms = 0;
    qint64 bytes = 0;
};

class TransferLimitTest : public TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        clock.start();
        ASSERT_TRUE(cloud.addUser(QStringLiteral("ada@example.com"), QStringLiteral("s3cret!")));
        ASSERT_TRUE(cloud.start());
        useGateway(cloud.baseUrl());
        const UserPtr user = ada();
        ASSERT_TRUE(Sonarbox::instance().signIn(user).signedIn());
        Sonarbox::instance().setLoggedUser(user);
    }
    void TearDown() override {
        TransferLimits::set({});
        if (entry.isStarted())
            entry.waitForFinished();
        TransferTest::TearDown();
    }

    // Runs a stage as the stage queue does, and returns at once.
    void start(const std::function<void(std::function<void()>)> &stage) {
        entry = QtConcurrent::run([this, stage] { stage([this] { ++completions; }); });
    }
    Sample sample() const {
        return {clock.elapsed(), Sonarbox::instance().syncProgress().state().bytesDone};
    }
    // Serves the transfer for `ms`, then samples; notes the most memory
    // this process held meanwhile.
    Sample after(int ms) {
        qint64 lastLook = -1000;
        TestEnvironment::waitUntil(
            [&] {
                if (clock.elapsed() - lastLook >= 100) {
                    lastLook = clock.elapsed();
                    peakMiB = std::max(peakMiB, residentMiB());
                }
                return false;
            },
            ms);
        return sample();
    }
    Sample firstBytes() {
        EXPECT_TRUE(TestEnvironment::waitUntil([this] { return sample().bytes > 0; }, 15000));
        return sample();
    }
    static double mibPerSecond(const Sample &from, const Sample &to) {
        return double(to.bytes - from.bytes) / kMiB / (double(to.ms - from.ms) / 1000.0);
    }
    bool finishes(int ms) {
        return TestEnvironment::waitUntil([this] { return completions.load() > 0; }, ms);
    }

    CloudProcess cloud;
    QElapsedTimer clock;
    double peakMiB = 0;
    QFuture<void> entry;
    std::atomic<int> completions{0};
};

// 1 MiB/s for 20 s, then 256 KiB/s, then no limit: the rest goes at once.
TEST_F(TransferLimitTest, AnUploadKeepsToItsLimitAndFollowsEveryChangeInFlight) {
    const QString path = dir.filePath(QStringLiteral("long.mp3"));
    ASSERT_TRUE(TestSongs::makeSilenceOfSize(path, 24 * 1024 * 1024));
    auto track = std::make_shared<Audio>();
    track->fileURL = path;
    track->name = QStringLiteral("long.mp3");
    track->songName = QStringLiteral("long");
    track->fileExtension = QStringLiteral("mp3");
    track->checksum = Utility::getMD5FromFile(path);
    track->downloadable = false;
    GenericDAO::instance().save(track);

    TransferLimits::set({1024, 0});
    UploadFilesToCloud uploader{Sonarbox::instance()};
    start([&](std::function<void()> done) {
        uploader.uploadUnSyncedFiles(Sonarbox::instance().newRun(), done);
    });
    const Sample begun = firstBytes();
    const Sample limited = after(20000);
    const double rate = mibPerSecond(begun, limited);
    EXPECT_LE(rate, 1.1) << "MiB/s";
    EXPECT_GE(rate, 0.5) << "MiB/s";

    TransferLimits::set({256, 0});
    const Sample slowed = after(700);
    const double slowRate = mibPerSecond(slowed, after(3000));
    EXPECT_LE(slowRate, 1.1 / 4) << "MiB/s";
    EXPECT_GE(slowRate, 0.5 / 4) << "MiB/s";
    ASSERT_EQ(completions.load(), 0) << "the upload ended before the limit was lifted";

    // Some 3 MiB are left: at 256 KiB/s they would take 12 s.
    TransferLimits::set({0, 0});
    EXPECT_TRUE(finishes(5000));
    EXPECT_EQ(cloud.query(QStringLiteral("SELECT md5 FROM files")), QStringList{*track->checksum});
}

// 2 MiB/s for 20 s, then 4 MiB/s, then no limit; the file arrives whole.
TEST_F(TransferLimitTest, ADownloadKeepsToItsLimitAndFollowsEveryChangeInFlight) {
    const QString original = dir.filePath(QStringLiteral("elsewhere/big.mp3"));
    QDir().mkpath(QFileInfo(original).absolutePath());
    ASSERT_TRUE(TestSongs::makeSilenceOfSize(original, 54 * 1024 * 1024));
    ASSERT_TRUE(cloud.uploadAsAnotherDevice(QStringLiteral("ada@example.com"),
                                            QStringLiteral("s3cret!"), original));

    TransferLimits::set({0, 2048});
    iTunesModifier noLibrary{nullptr};
    DownloadSongsFromCloud downloader{Sonarbox::instance(), &noLibrary};
    const double memoryBefore = residentMiB();
    start([&](std::function<void()> done) {
        downloader.syncCloudMediaWithLocal(Sonarbox::instance().newRun(), done);
    });
    const Sample begun = firstBytes();
    const Sample limited = after(20000);
    const double rate = mibPerSecond(begun, limited);
    EXPECT_LE(rate, 2.2) << "MiB/s";
    EXPECT_GE(rate, 1.0) << "MiB/s";
    // Nor read off the socket faster: what is still to come is not held in
    // memory meanwhile. (AddressSanitizer keeps what is freed in quarantine,
    // and ThreadSanitizer's shadow of every byte touched stays resident, so
    // resident memory tells nothing there.)
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(peakMiB - memoryBefore, 8.0) << "MiB more";
#else
    (void)memoryBefore;
#endif

    TransferLimits::set({0, 4096});
    const Sample raised = after(700);
    const double fastRate = mibPerSecond(raised, after(2000));
    EXPECT_LE(fastRate, 4.4) << "MiB/s";
    EXPECT_GT(fastRate, 2.2) << "MiB/s: no faster than before";
    ASSERT_EQ(completions.load(), 0) << "the download ended before the limit was lifted";

    TransferLimits::set({0, 0});
    EXPECT_TRUE(finishes(5000));
    const QList<AudioPtr> stored = GenericDAO::instance().getAll<Audio>();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(Utility::getMD5FromFile(stored.first()->fileURL.value_or(QString())),
              Utility::getMD5FromFile(original));
}

} // namespace
