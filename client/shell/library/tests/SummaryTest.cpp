#include "LibraryFixture.h"
#include "TestSongs.h"
#include "engine/Sonarbox.h"
#include "library/MediaScanSummary.h"
#include "library/SummaryCellView.h"
#include "store/GenericDAO.h"
#include "sync/ScanForLocalMedia.h"

#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>

#include <future>

namespace {

class SummaryTest : public LibraryScreenTest {
protected:
    void SetUp() override {
        LibraryScreenTest::SetUp();
        // The scan stage waits for the test's word and finds `tracksToFind`.
        Sonarbox::Stages stages = recordingStages();
        stages.scanFileSystemForMedia = [this](const SyncRunPtr &run,
                                               Sonarbox::Completion completion) {
            {
                std::lock_guard g(lock);
                ran << "scan";
            }
            release.wait();
            QList<AudioPtr> tracks;
            for (int i = 0; i < tracksToFind; ++i)
                tracks << std::make_shared<Audio>();
            run->setLocalLibraryTracks(tracks);
            completion();
        };
        sonarbox().setStages(stages);
    }
    void TearDown() override {
        letScanFinish();
        LibraryScreenTest::TearDown();
    }
    void letScanFinish() {
        if (!released) {
            released = true;
            go.set_value();
        }
    }
    static bool finishes(MediaScanSummary &summary) {
        QSignalSpy finished(&summary, &MediaScanSummary::scanFinished);
        return finished.count() > 0 || finished.wait(20000);
    }
    static QStringList row(const MediaScanSummary &summary, int r) {
        SummaryCellView *cell = summary.cellAt(r);
        return {cell->iconName(), cell->folderTitle()->text(), cell->folderFileCount()->text()};
    }

    std::promise<void> go;
    std::shared_future<void> release = go.get_future().share();
    bool released = false;
    int tracksToFind = 0;
};

TEST_F(SummaryTest, OneSourceRowWaitsForTheScanThenShowsItsCount) {
    for (const LibraryChoice choice : {LibraryChoice::MusicPlayer, LibraryChoice::MusicFolder}) {
        SCOPED_TRACE(int(choice));
        go = {};
        release = go.get_future().share();
        released = false;
        sonarbox().setUserPickedMediaLibrary(choice);
        // What an earlier scan left must not show as this one's result.
        sonarbox().setLocalLibraryTracks({std::make_shared<Audio>()});
        tracksToFind = 4;

        MediaScanSummary summary;
        EXPECT_EQ(summary.viewName(), "MediaScanSummary");
        ASSERT_EQ(summary.form().localSongsAmountTable->rowCount(), 1);
        QTest::qWait(50);
        EXPECT_EQ(row(summary, 0), QStringList({"", "Please wait while we scan...", ""}));
        EXPECT_FALSE(summary.nextButton()->isEnabled());
        EXPECT_FALSE(summary.form().progressIndicator->isHidden());
        // Downloads go into the player's library for choice 1.
        EXPECT_EQ(summary.form().otherDirInfoView->isHidden(),
                  choice == LibraryChoice::MusicPlayer);

        letScanFinish();
        ASSERT_TRUE(finishes(summary));
        EXPECT_TRUE(summary.nextButton()->isEnabled());
        EXPECT_TRUE(summary.form().progressIndicator->isHidden());
        if (choice == LibraryChoice::MusicPlayer)
            EXPECT_EQ(row(summary, 0),
                      QStringList({"icon_itunes", "Music player library (MPD)", "Found 4 tracks"}));
        else
            EXPECT_EQ(row(summary, 0),
                      QStringList({"icon_folder", "Music Folder", "Found 4 tracks"}));
    }
}

TEST_F(SummaryTest, ShowsItsTextsAndChangesTheDownloadFolder) {
    sonarbox().setUserDownloadDirectory("/home/ana/Downloads");
    sonarbox().setUserPickedMediaLibrary(LibraryChoice::MusicFolder);
    MediaScanSummary summary;
    const auto &ui = summary.form();
    EXPECT_EQ(ui.customFolderLabel->text(), "../ana/Downloads");
    EXPECT_EQ(ui.musicDownloadedToLabel->text(), "Synced Music Will be downloaded to");
    EXPECT_EQ(ui.changeDlFolderLabel->text(), "Change folder");
    EXPECT_EQ(ui.backBtn->text(), "Back");
    EXPECT_EQ(ui.nextBtn->text(), "Next");
    EXPECT_EQ(screenMenu.calls, QStringList{"ScanSummaryView"});

    nextAnswer = {};
    ui.changeDlFolderLabel->click();
    EXPECT_EQ(ui.customFolderLabel->text(), "../ana/Downloads");
    nextAnswer = {"/home/ana/Music/Incoming"};
    ui.changeDlFolderLabel->click();
    ASSERT_EQ(requests.size(), 2);
    EXPECT_EQ(requests[1].message, "Pick a folder to Download to...");
    EXPECT_FALSE(requests[1].multipleSelection);
    EXPECT_EQ(requests[1].parent, &summary);
    EXPECT_EQ(ui.customFolderLabel->text(), "../Music/Incoming");
    EXPECT_EQ(sonarbox().userDownloadDirectory(), "/home/ana/Music/Incoming");
    EXPECT_EQ(preference("UserDownloadDirectory").toString(), "/home/ana/Music/Incoming");
}

TEST_F(SummaryTest, NextForgetsStoredTracksMarksTheLibraryPickedAndSyncsWithoutAScan) {
    auto stored = std::make_shared<Audio>();
    stored->checksum = "0123456789abcdef0123456789abcdef";
    stored->fileURL = "/m/old.mp3";
    GenericDAO::instance().addTrackToDB(stored, true);
    ASSERT_EQ(GenericDAO::instance().getSize("Audio"), 1);
    sonarbox().setSyncMilliSeconds(1234);
    tracksToFind = 3;

    MediaScanSummary summary;
    // Next does nothing before the scan has ended.
    summary.showProcessingView();
    EXPECT_TRUE(posted.isEmpty());
    EXPECT_EQ(GenericDAO::instance().getSize("Audio"), 1);

    letScanFinish();
    ASSERT_TRUE(finishes(summary));
    summary.nextButton()->click();

    EXPECT_EQ(GenericDAO::instance().getSize("Audio"), 0);
    EXPECT_EQ(sonarbox().syncMilliSeconds(), 0);
    EXPECT_TRUE(sonarbox().didUserPickLibrary());
    EXPECT_EQ(preference("didUserPickedMediaLibrary").toString(), "YES");
    EXPECT_EQ(preference("amountOfSongsAppHasToProcess").toInt(), 3);
    ASSERT_EQ(posted.size(), 1);
    EXPECT_EQ(posted[0].name, "showProcessingViewNotification");
    EXPECT_EQ(posted[0].object, &summary);
    settle();
    EXPECT_EQ(stagesRun(), QStringList({"scan", "fingerprint", "download", "upload"}));
}

TEST_F(SummaryTest, PreviewAfterTheScanShowsWhatTheFirstSyncWouldDoInADialog) {
    sonarbox().setUserPickedMediaLibrary(LibraryChoice::MusicFolder);
    std::function<void(const DryRunReport &)> answer;
    int asked = 0;
    MediaScanSummary::setPreviewer([&](std::function<void(const DryRunReport &)> done) {
        ++asked;
        answer = std::move(done);
    });
    MediaScanSummary summary;
    EXPECT_EQ(summary.previewButton()->text(), "Preview");
    EXPECT_FALSE(summary.previewButton()->isEnabled());
    summary.showPreview();
    EXPECT_EQ(asked, 0);

    letScanFinish();
    ASSERT_TRUE(finishes(summary));
    ASSERT_TRUE(summary.previewButton()->isEnabled());
    summary.previewButton()->click();
    EXPECT_EQ(asked, 1);
    // Asked once at a time.
    EXPECT_FALSE(summary.previewButton()->isEnabled());
    summary.previewButton()->click();
    EXPECT_EQ(asked, 1);

    DryRunReport report;
    report.filesFound = 4;
    report.filesToIdentify = 4;
    report.expectedFromCatalogue = 1;
    report.songsToDownload = 2;
    report.tracksToUpload = 3;
    report.uploadBytes = 3 * 1024 * 1024;
    QSignalSpy shown(&summary, &MediaScanSummary::previewShown);
    answer(report);
    ASSERT_EQ(shown.count(), 1);
    ASSERT_TRUE(summary.previewDialog());
    const QString text = summary.previewDialog()->text();
    for (const char *line :
         {"Files to identify: 4", "Expected from the catalogue without upload: 1",
          "Songs to download: 2", "Tracks to upload: 3 (3.0 MiB)",
          "Upload time: not estimated, no upload rate has been measured yet"})
        EXPECT_TRUE(text.contains(QLatin1String(line))) << line << "\n" << text.toStdString();
    EXPECT_TRUE(summary.previewButton()->isEnabled());
    // Nothing of the first sync happened.
    EXPECT_TRUE(posted.isEmpty());
    MediaScanSummary::setPreviewer({});
}

TEST_F(SummaryTest, BackAndTheKeyboard) {
    QWidget window;
    auto *summary = new MediaScanSummary(&window);
    window.resize(480, 420);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const auto &ui = summary->form();
    for (QWidget *w : summary->findChildren<QWidget *>())
        if (w->focusPolicy() & Qt::TabFocus) {
            EXPECT_FALSE(w->accessibleName().isEmpty()) << qPrintable(w->objectName());
        }

    // Enter does not go on while the scan runs; Escape goes back.
    QTest::keyClick(summary, Qt::Key_Return);
    EXPECT_TRUE(posted.isEmpty());
    QTest::keyClick(summary, Qt::Key_Escape);
    ASSERT_EQ(posted.size(), 1);
    EXPECT_EQ(posted[0].name, "showMediaPickerViewNotification");
    ui.backBtn->click();
    EXPECT_EQ(posted.size(), 2);

    letScanFinish();
    ASSERT_TRUE(finishes(*summary));
    ui.backBtn->setFocus();
    QTest::keyClick(ui.backBtn, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), ui.previewBtn);
    QTest::keyClick(ui.previewBtn, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), ui.nextBtn);
    QTest::keyClick(ui.nextBtn, Qt::Key_Return);
    ASSERT_EQ(posted.size(), 3);
    EXPECT_EQ(posted[2].name, "showProcessingViewNotification");
}

TEST_F(SummaryTest, AScreenClosedBeforeItsScanEndsIsLeftAlone) {
    auto summary = std::make_unique<MediaScanSummary>();
    const StageOperationPtr running = summary->operation_scanProcess();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return stagesRun() == QStringList{"scan"}; }));
    // A second screen's scan queues behind the first and is dropped unstarted.
    auto second = std::make_unique<MediaScanSummary>();
    const StageOperationPtr waiting = second->operation_scanProcess();
    second.reset();
    summary.reset();
    letScanFinish();
    settle();
    EXPECT_TRUE(running->isFinished());
    EXPECT_TRUE(waiting->isCancelled());
    EXPECT_EQ(stagesRun(), QStringList({"scan"}));
}

// The real scan over folders of generated songs.
class SummaryScanTest : public LibraryScreenTest {
protected:
    void useTheRealScan() {
        Sonarbox::Stages stages = recordingStages();
        stages.scanFileSystemForMedia = [this](const SyncRunPtr &run, Sonarbox::Completion done) {
            scanner.scanFileSystemForMedia(run, done);
        };
        sonarbox().setStages(stages);
    }
    ScanForLocalMedia scanner{Sonarbox::instance(), nullptr};
};

TEST_F(SummaryScanTest, ShowsEachChosenFolderWithItsCountAfterTheScan) {
    ASSERT_TRUE(TestSongs::make(dir.filePath("Jazz/one.mp3"), 1, 8, {"One", "Ada", "Blue"}));
    ASSERT_TRUE(QDir().mkpath(dir.filePath("Jazz/deep")));
    ASSERT_TRUE(QFile::copy(dir.filePath("Jazz/one.mp3"), dir.filePath("Jazz/deep/two.mp3")));
    ASSERT_TRUE(TestSongs::make(dir.filePath("Rock/three.m4a"), 2, 8, {"Three", "Bo", "Red"}));
    ASSERT_TRUE(TestSongs::makeFileOfSize(dir.filePath("Rock/too-small.mp3"), 1000));
    useTheRealScan();
    sonarbox().setUserPickedMediaLibrary(LibraryChoice::ChosenFolders);
    sonarbox().setUserMediaFoldersToScan(
        {QUrl::fromLocalFile(dir.filePath("Jazz/")), QUrl::fromLocalFile(dir.filePath("Rock/"))});
    // Counts of an earlier scan, still held until this one starts.
    sonarbox().setUserMediaFoldersToScanWithSongAmounts({{dir.filePath("Jazz/"), "9"}});

    MediaScanSummary summary;
    ASSERT_EQ(summary.form().localSongsAmountTable->rowCount(), 2);
    const auto cell = [&](int r) {
        SummaryCellView *c = summary.cellAt(r);
        return QStringList{c->iconName(), c->folderTitle()->text(), c->folderFileCount()->text()};
    };
    EXPECT_EQ(cell(0), QStringList({"", "Please wait while we scan...", ""}));
    EXPECT_EQ(cell(1), QStringList({"", "", ""}));

    QSignalSpy finished(&summary, &MediaScanSummary::scanFinished);
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_EQ(cell(0), QStringList({"icon_folder", "Jazz", "Found 2 tracks"}));
    EXPECT_EQ(cell(1), QStringList({"icon_folder", "Rock", "Found 1 tracks"}));
    EXPECT_EQ(sonarbox().localLibraryTracks().size(), 3);
}

// Folders kept with or without the closing "/" both show their own name,
// and each finds its own count (the counts are keyed by the scanned path).
TEST_F(SummaryScanTest, FoldersShowTheirOwnNameWithOrWithoutTheClosingSlash) {
    ASSERT_TRUE(TestSongs::make(dir.filePath("tmp.a/My Albums/one.mp3"), 1, 8, {"One", "A", "B"}));
    ASSERT_TRUE(TestSongs::make(dir.filePath("tmp.a/My Albums/two.mp3"), 2, 8, {"Two", "A", "B"}));
    ASSERT_TRUE(
        TestSongs::make(dir.filePath("tmp.b/Singles/three.mp3"), 3, 8, {"Three", "C", "D"}));
    useTheRealScan();
    sonarbox().setUserPickedMediaLibrary(LibraryChoice::ChosenFolders);
    sonarbox().setUserMediaFoldersToScan({QUrl::fromLocalFile(dir.filePath("tmp.a/My Albums")),
                                          QUrl::fromLocalFile(dir.filePath("tmp.b/Singles/"))});

    MediaScanSummary summary;
    QSignalSpy finished(&summary, &MediaScanSummary::scanFinished);
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_EQ(summary.cellAt(0)->folderTitle()->text(), "My Albums");
    EXPECT_EQ(summary.cellAt(0)->folderFileCount()->text(), "Found 2 tracks");
    EXPECT_EQ(summary.cellAt(1)->folderTitle()->text(), "Singles");
    EXPECT_EQ(summary.cellAt(1)->folderFileCount()->text(), "Found 1 tracks");
}

} // namespace

namespace {

TEST_F(SummaryScanTest, TheMusicFolderIsTheOneTheDesktopNames) {
    const QString userDirs = qEnvironmentVariable("XDG_CONFIG_HOME") + "/user-dirs.dirs";
    QFile dirs(userDirs);
    ASSERT_TRUE(QDir().mkpath(qEnvironmentVariable("XDG_CONFIG_HOME")));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write(QStringLiteral("XDG_MUSIC_DIR=\"%1\"\n").arg(dir.filePath("Tunes")).toUtf8());
    dirs.close();
    ASSERT_TRUE(TestSongs::make(dir.filePath("Tunes/a/one.mp3"), 3, 8, {"One", "Cy", "Gold"}));
    useTheRealScan();
    sonarbox().setUserPickedMediaLibrary(LibraryChoice::MusicFolder);

    MediaScanSummary summary;
    QSignalSpy finished(&summary, &MediaScanSummary::scanFinished);
    const bool ended = finished.wait(20000);
    QFile::remove(userDirs);
    ASSERT_TRUE(ended);
    EXPECT_EQ(summary.cellAt(0)->folderFileCount()->text(), "Found 1 tracks");
}

} // namespace
