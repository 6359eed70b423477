#include "CoordinatorFixture.h"

#include <QTest>
#include <QTimer>

namespace {

using SyncChain = CoordinatorTest;

TEST_F(SyncChain, FullSyncRunsTheStagesInOrderThenSchedulesTheHourlyTimer) {
    sonarbox().sync(true);
    settle();
    EXPECT_EQ(stagesRun(), QStringList({"scan", "fingerprint", "download", "upload"}));
    EXPECT_EQ(menu.calls(), QStringList({"SyncStarted", "FingerPrintStarted", "DownloadStarted",
                                         "UploadStarted", "SyncFinished"}));
    EXPECT_FALSE(sonarbox().syncInProgress);
    const ProgressPage::State page = sonarbox().progressPage().state();
    const SyncProgress::State progress = sonarbox().syncProgress().state();
    EXPECT_EQ(page.description, "Sync Completed");
    EXPECT_EQ(progress.percentage, "100%");
    EXPECT_DOUBLE_EQ(progress.fraction, 1.0);
    EXPECT_EQ(page.syncButtonTitle, "Sync");
    EXPECT_EQ(page.textContent,
              "We have added your music. Now you can listen to your music anywhere.");

    QTimer *timer = sonarbox().syncTimer();
    EXPECT_TRUE(timer->isActive());
    EXPECT_TRUE(timer->isSingleShot());
    EXPECT_EQ(timer->interval(), 3600 * 1000);
}

TEST_F(SyncChain, WhileSyncingThePageSaysSoAndOffersStop) {
    using Shown = std::pair<ProgressPage::State, SyncProgress::State>;
    std::optional<Shown> downloading, uploading;
    // Each stage leaves a track half done behind it, as a stage stopped
    // between two tracks would.
    const auto leaveHalfDone = [](SyncProgress::Stage stage) {
        SyncProgress &progress = sonarbox().syncProgress();
        progress.beginStage(stage, 2);
        progress.finishItem(QStringLiteral("First"), SyncProgress::Outcome::Succeeded);
        progress.setCurrentItem(QStringLiteral("Second"), QStringLiteral("Artist"),
                                QStringLiteral("Song"));
    };
    const auto shown = [] {
        return Shown{sonarbox().progressPage().state(), sonarbox().syncProgress().state()};
    };
    Sonarbox::Stages stages = recordingStages();
    stages.fingderPrintLocalMediaFiles = [&, next = stages.fingderPrintLocalMediaFiles](
                                             const SyncRunPtr &run, Sonarbox::Completion done) {
        leaveHalfDone(SyncProgress::Stage::Matching);
        next(run, done);
    };
    stages.syncCloudMediaWithLocal = [&, next = stages.syncCloudMediaWithLocal](
                                         const SyncRunPtr &run, Sonarbox::Completion done) {
        downloading = shown();
        leaveHalfDone(SyncProgress::Stage::Downloading);
        next(run, done);
    };
    stages.uploadUnSyncedFiles = [&, next = stages.uploadUnSyncedFiles](const SyncRunPtr &run,
                                                                        Sonarbox::Completion done) {
        uploading = shown();
        next(run, done);
    };
    sonarbox().setStages(stages);
    sonarbox().sync(true);
    settle();
    ASSERT_TRUE(downloading && uploading);
    for (const auto &[page, progress] : {*downloading, *uploading}) {
        EXPECT_EQ(page.textContent, "We are adding your music now. Soon you'll be listening to "
                                    "all your music anywhere.");
        EXPECT_EQ(page.syncButtonTitle, "Stop");
        // Each stage starts from an empty bar.
        EXPECT_DOUBLE_EQ(progress.fraction, 0.0);
        EXPECT_EQ(progress.percentage, "");
        EXPECT_EQ(progress.artist, "");
        EXPECT_EQ(progress.song, "");
    }
    EXPECT_EQ(uploading->first.description, "Finished Downloading Files");
}

TEST_F(SyncChain, WithoutScanStartsAtFingerprintingEvenWithNothingToDo) {
    sonarbox().setLocalLibraryTracks({});
    sonarbox().sync(false);
    settle();
    EXPECT_EQ(stagesRun(), QStringList({"fingerprint", "download", "upload"}));
    EXPECT_TRUE(sonarbox().syncTimer()->isActive());
    EXPECT_TRUE(sonarbox().operation_scanFileSysForMedia()); // created, never queued
    EXPECT_EQ(sonarbox().operation_scanFileSysForMedia()->state(), StageOperation::State::Created);
}

// What a chain's stages leave for each other travels in its run: a scan's
// findings reach the fingerprint stage of the same run only, a sync without a
// scan takes the last scan's, and the listing position a run's download stage
// reached becomes the session's only once those downloads ended.
TEST_F(SyncChain, EachChainWorksOnItsOwnRunAndHandsBackOnlyWhatItFinished) {
    const auto tracks = [](int count) {
        QList<AudioPtr> list;
        for (int i = 0; i < count; ++i)
            list << std::make_shared<Audio>();
        return list;
    };
    std::mutex seenLock;
    QList<qsizetype> fingerprinted;
    QList<qint64> listedFrom;
    std::atomic<bool> downloadsEnd{true};
    Sonarbox::Stages stages = recordingStages();
    stages.scanFileSystemForMedia = [&, next = stages.scanFileSystemForMedia](
                                        const SyncRunPtr &run, Sonarbox::Completion done) {
        run->setLocalLibraryTracks(tracks(3));
        next(run, done);
    };
    stages.fingderPrintLocalMediaFiles = [&, next = stages.fingderPrintLocalMediaFiles](
                                             const SyncRunPtr &run, Sonarbox::Completion done) {
        {
            std::lock_guard g(seenLock);
            fingerprinted << run->localLibraryTracks().size();
        }
        next(run, done);
    };
    stages.syncCloudMediaWithLocal = [&, next = stages.syncCloudMediaWithLocal](
                                         const SyncRunPtr &run, Sonarbox::Completion done) {
        {
            std::lock_guard g(seenLock);
            listedFrom << run->listingPosition();
        }
        run->setListingPosition(run->listingPosition() + 100);
        if (!downloadsEnd) {
            // Stopped with songs still to fetch: the stage sees it and ends.
            sonarbox().stopSyncAction();
            sonarbox().applicationWasStopped();
            return;
        }
        next(run, done);
    };
    sonarbox().setStages(stages);
    sonarbox().setSyncMilliSeconds(1000);
    sonarbox().setLocalLibraryTracks(tracks(5));

    sonarbox().sync(false); // the last scan's five
    settle();
    sonarbox().sync(true); // its own scan's three, which become the last scan's
    settle();
    EXPECT_EQ(sonarbox().localLibraryTrackCount(), 3);
    downloadsEnd = false;
    sonarbox().sync(false);
    settle();
    downloadsEnd = true;
    sonarbox().sync(false);
    settle();

    std::lock_guard g(seenLock);
    EXPECT_EQ(fingerprinted, (QList<qsizetype>{5, 3, 3, 3}));
    // 1000 -> 1100 -> 1200; the stopped run's 1300 was never the session's.
    EXPECT_EQ(listedFrom, (QList<qint64>{1000, 1100, 1200, 1200}));
    EXPECT_EQ(sonarbox().syncMilliSeconds(), 1300);
}

TEST_F(SyncChain, AStopInAnyStageEndsTheChainWithoutCompletionOrTimer) {
    const QStringList order{"scan", "fingerprint", "download", "upload"};
    for (qsizetype i = 0; i < order.size(); ++i) {
        SCOPED_TRACE(order[i].toStdString());
        {
            std::lock_guard g(lock);
            ran.clear();
        }
        menu.clear();
        stopIn = order[i];
        sonarbox().sync(true);
        settle();
        EXPECT_EQ(stagesRun(), order.mid(0, i + 1));
        EXPECT_FALSE(menu.calls().contains("SyncFinished"));
        EXPECT_TRUE(menu.calls().contains("SyncStopped"));
        EXPECT_FALSE(sonarbox().syncTimer()->isActive());
        EXPECT_FALSE(sonarbox().syncInProgress);
        EXPECT_FALSE(sonarbox().flow_stopProcesses); // the stage that saw it cleared it
        EXPECT_EQ(sonarbox().progressPage().state().description, "Sync stopped");
        EXPECT_EQ(sonarbox().progressPage().state().syncButtonTitle, "Sync");
    }
}

TEST_F(SyncChain, AStopBetweenStagesStaysSetAndEndsTheNextSyncAtItsFirstStage) {
    sonarbox().stopSyncAction(); // nothing is running to see it
    EXPECT_TRUE(sonarbox().flow_stopProcesses);
    sonarbox().sync(false);
    settle();
    EXPECT_EQ(stagesRun(), QStringList({"fingerprint"}));
    EXPECT_FALSE(sonarbox().flow_stopProcesses);
    EXPECT_FALSE(sonarbox().syncTimer()->isActive());
    // A stale "in progress" from the ended chain does not block the next sync.
    sonarbox().sync(false);
    settle();
    EXPECT_EQ(stagesRun(), QStringList({"fingerprint", "fingerprint", "download", "upload"}));
}

TEST_F(SyncChain, TimerStartsASyncOnlyWhenAllowedAndSignedIn) {
    sonarbox().setTimedSyncInterval(300);
    sonarbox().setLoggedUser(std::make_shared<User>());
    sonarbox().sync(false);
    settle();
    ASSERT_TRUE(sonarbox().syncTimer()->isActive());
    // The timed sync includes the scan.
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return stagesRun().count("scan") == 1; }));
    // Switched off before the next hour: that timer fires, nothing runs, and
    // no further timer is scheduled.
    sonarbox().settings_syncNewSongs = false;
    settle();
    EXPECT_EQ(stagesRun().count("upload"), 2);
    ASSERT_TRUE(
        TestEnvironment::waitUntil([&] { return !sonarbox().syncTimer()->isActive(); }, 3000));
    settle();
    EXPECT_EQ(stagesRun().count("scan"), 1);
    EXPECT_FALSE(sonarbox().syncTimer()->isActive());

    // Signed out: the same.
    sonarbox().settings_syncNewSongs = true;
    sonarbox().setLoggedUser(nullptr);
    sonarbox().executeTimedSync();
    settle();
    EXPECT_EQ(stagesRun().count("scan"), 1);
}

TEST_F(SyncChain, ASyncRequestedDuringASyncQueuesEveryOperationAtMostOnce) {
    // The first chain's fingerprint stage starts a second sync while it runs.
    bool asked = false;
    Sonarbox::Stages stages = recordingStages();
    auto fingerprint = stages.fingderPrintLocalMediaFiles;
    stages.fingderPrintLocalMediaFiles = [&, fingerprint](const SyncRunPtr &run,
                                                          Sonarbox::Completion done) {
        if (!asked) {
            asked = true;
            sonarbox().sync(false);
        }
        fingerprint(run, done);
    };
    sonarbox().setStages(stages);
    sonarbox().sync(true);
    settle();
    // The first chain's later stages were replaced: its fingerprint finished
    // and queued its own (cancelled) download, which never ran.
    EXPECT_EQ(stagesRun(),
              QStringList({"scan", "fingerprint", "fingerprint", "download", "upload"}));
    EXPECT_EQ(menu.calls().count("SyncFinished"), 1);
    EXPECT_FALSE(sonarbox().syncInProgress);
}

TEST_F(SyncChain, NetworkLossStopsTheSyncAndItsReturnDoesNotRestartIt) {
    Sonarbox::Stages stages = recordingStages();
    stages.syncCloudMediaWithLocal = [this](const SyncRunPtr &run, Sonarbox::Completion done) {
        {
            std::lock_guard g(lock);
            ran << "download";
        }
        // The network goes while downloading; the monitor reports on the main thread.
        QMetaObject::invokeMethod(
            &sonarbox(), [] { Sonarbox::instance().reachabilityChanged(false); },
            Qt::BlockingQueuedConnection);
        if (sonarbox().stopRequested(*run)) {
            sonarbox().applicationWasStopped();
            return;
        }
        done();
    };
    sonarbox().setStages(stages);
    sonarbox().setLoggedUser(std::make_shared<User>());
    sonarbox().sync(false);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return sonarbox().isAppOffline.load(); }));
    settle();
    EXPECT_EQ(stagesRun(), QStringList({"fingerprint", "download"}));
    EXPECT_FALSE(sonarbox().syncInProgress);
    EXPECT_TRUE(menu.calls().contains("ShowOffline"));

    sonarbox().reachabilityChanged(true);
    settle();
    EXPECT_FALSE(sonarbox().isAppOffline);
    EXPECT_EQ(stagesRun(), QStringList({"fingerprint", "download"}));
    EXPECT_TRUE(menu.calls().contains("ShowBackOnline"));
}

TEST_F(SyncChain, NetworkReturningDuringASyncResumesFromFingerprinting) {
    sonarbox().setLoggedUser(std::make_shared<User>());
    sonarbox().syncInProgress = true;
    sonarbox().reachabilityChanged(true);
    settle();
    EXPECT_EQ(stagesRun(), QStringList({"fingerprint", "download", "upload"}));
}

// The desktop program takes up a sync that the network ended, once the
// network is back, and a timed sync that found it gone waits for it; a sync
// the person stopped stays stopped.
TEST_F(SyncChain, OnTheDesktopASyncEndedByTheNetworkRunsAgainWhenItReturns) {
    sonarbox().setResumeAfterNetworkLoss(true, 20);
    std::atomic<bool> networkGoes{true};
    Sonarbox::Stages stages = recordingStages();
    stages.syncCloudMediaWithLocal = [this, &networkGoes, next = stages.syncCloudMediaWithLocal](
                                         const SyncRunPtr &run, Sonarbox::Completion done) {
        if (networkGoes.exchange(false)) {
            QMetaObject::invokeMethod(
                &sonarbox(), [] { Sonarbox::instance().reachabilityChanged(false); },
                Qt::BlockingQueuedConnection);
        }
        next(run, done);
    };
    sonarbox().setStages(stages);
    sonarbox().setLoggedUser(std::make_shared<User>());
    sonarbox().sync(false);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return sonarbox().isAppOffline.load(); }));
    settle();
    EXPECT_FALSE(sonarbox().syncInProgress);
    EXPECT_EQ(stagesRun(), QStringList({"fingerprint", "download"}));

    sonarbox().reachabilityChanged(true);
    ASSERT_TRUE(
        TestEnvironment::waitUntil([&] { return menu.calls().count("SyncFinished") == 1; }));
    settle();
    EXPECT_EQ(stagesRun(), QStringList({"fingerprint", "download", "scan", "fingerprint",
                                        "download", "upload"}));

    // The hourly timer fires while offline: nothing runs until the return.
    sonarbox().reachabilityChanged(false);
    sonarbox().executeTimedSync();
    settle();
    EXPECT_EQ(stagesRun().size(), 6);
    sonarbox().reachabilityChanged(true);
    ASSERT_TRUE(
        TestEnvironment::waitUntil([&] { return menu.calls().count("SyncFinished") == 2; }));

    // Stopped by the person, then the network comes and goes: no sync.
    stopIn = QStringLiteral("fingerprint");
    sonarbox().sync(false);
    settle();
    sonarbox().reachabilityChanged(false);
    sonarbox().reachabilityChanged(true);
    TestEnvironment::waitUntil([] { return false; }, 200);
    settle();
    EXPECT_EQ(menu.calls().count("SyncFinished"), 2);
    EXPECT_FALSE(sonarbox().resumePending());
}

// A sync restarted while it runs leaves two runs behind for a moment; one
// Stop ends both, not only the one that polls first and clears the request.
TEST_F(SyncChain, OneStopEndsEveryRunOfARestartedSync) {
    std::atomic<int> polling{0};
    std::atomic<int> ended{0};
    Sonarbox::Stages stages = recordingStages();
    stages.fingderPrintLocalMediaFiles = [&](const SyncRunPtr &run, Sonarbox::Completion) {
        ++polling;
        while (!sonarbox().stopRequested(*run))
            QThread::msleep(5);
        sonarbox().applicationWasStopped();
        ++ended;
    };
    // The earlier run's stage is a transfer's: it polls on the main thread.
    const SyncRunPtr earlier = sonarbox().newRun();
    sonarbox().setStages(stages);
    sonarbox().sync(false);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return polling == 1; }));
    sonarbox().stopSyncAction();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return ended == 1; }));
    EXPECT_TRUE(earlier->isStopped());
    settle();
    EXPECT_FALSE(sonarbox().flow_stopProcesses);
}

} // namespace
