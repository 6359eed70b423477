// The fingerprint stage over a large folder of files without album tags: the
// recognition engine is a double of its calling convention (it answers with
// a hash per file and no match), the service a scripted gateway.
#include "ServiceTestSupport.h"
#include "TestEnvironment.h"
#include "engine/Sonarbox.h"
#include "settings/NSDefaultsUtility.h"
#include "store/GenericDAO.h"
#include "store/StoreSetup.h"
#include "sync/AlbumGroups.h"
#include "sync/GraceNote.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

std::atomic<int> g_calls{0};
std::atomic<int> g_largestCall{0};
std::atomic<int> g_largestBuffer{0};

// Every file gets a hash of its path and no candidate.
int hashingRecognize(int argc, char *argv[], char *response, int size, char *, int) {
    ++g_calls;
    const int files = argc - 6;
    g_largestCall = std::max(g_largestCall.load(), files);
    g_largestBuffer = std::max(g_largestBuffer.load(), size);
    QByteArray document = "[";
    for (int i = 6; i < argc; ++i) {
        const QByteArray path(argv[i]);
        document += (i > 6 ? "," : "") + QByteArray(R"({"input":")") + path + R"(","hash":")" +
                    QCryptographicHash::hash(path, QCryptographicHash::Md5).toHex() +
                    R"(","graceNoteTrackInfo":[]})";
    }
    document += "]";
    if (document.size() >= size)
        return 0;
    std::memcpy(response, document.constData(), size_t(document.size()) + 1);
    return 1;
}

AudioPtr untagged(const QString &path) {
    auto track = std::make_shared<Audio>();
    track->name = QStringLiteral("Unknown");
    track->songName = QStringLiteral("Unknown");
    track->album = QStringLiteral("Unknown"); // as the scan records a file without an album tag
    track->fileExtension = QStringLiteral("mp3");
    track->fileURL = path;
    return track;
}

class LargeLibrary : public ServiceFixture {
protected:
    void SetUp() override {
        NSDefaultsUtility::setStorageFile(dir.filePath(QStringLiteral("prefs.conf")));
        StoreSetup::setStoreFolder(dir.filePath(QStringLiteral("store")));
        ServiceFixture::SetUp();
        g_calls = g_largestCall = g_largestBuffer = 0;
        auto user = std::make_shared<User>();
        user->username = QStringLiteral("ada@example.com");
        user->password = QStringLiteral("s3cret!");
        user->gracenoteUser = QStringLiteral("handle");
        Sonarbox::instance().setLoggedUser(user);
        Sonarbox::instance().syncProgress().beginSync();
        server->setHandler([](const scripted::Request &) {
            return scripted::Reply::json(R"({"purchaseResponseStatus":"FAIL"})");
        });
    }
    void TearDown() override {
        ServiceFixture::TearDown();
        StoreSetup::setStoreFolder(QString());
        NSDefaultsUtility::setStorageFile(QString());
    }
    QTemporaryDir dir;
};

} // namespace

TEST(AlbumGroups, AlbumLessFilesGoByFolderAndNoCallTakesMoreThanFifty) {
    QList<AudioPtr> library;
    for (int i = 0; i < 120; ++i)
        library << untagged(QStringLiteral("/m/untagged/%1.mp3").arg(i));
    for (int i = 0; i < 3; ++i) {
        library << untagged(QStringLiteral("/m/other/%1.mp3").arg(i));
        library.last()->album.reset(); // the music player's library leaves it out
    }
    for (int i = 0; i < 60; ++i) {
        library << untagged(QStringLiteral("/m/box/cd%1/%2.mp3").arg(i % 2).arg(i));
        library.last()->album = QStringLiteral("Box Set");
        library.last()->artist = QStringLiteral("Band");
    }
    const QSet<QString> known{QStringLiteral("/m/untagged/0.mp3"),
                              QStringLiteral("/m/box/cd1/1.mp3")};

    const QList<AlbumGroups::Call> calls = AlbumGroups::calls(library, known);
    QStringList shape;
    for (const AlbumGroups::Call &call : calls)
        shape << QStringLiteral("%1:%2+%3")
                     .arg(call.key)
                     .arg(call.tracks.size())
                     .arg(call.storedMembers);
    EXPECT_EQ(shape, (QStringList{"/m/untagged:50+0", "/m/untagged:50+0", "/m/untagged:19+1",
                                  "/m/other:3+0", "Band_Box Set:50+0", "Band_Box Set:9+1"}));
    // Library order inside a group, and no known file in any call.
    EXPECT_EQ(calls.first().tracks.first(), 1);
    EXPECT_EQ(calls.at(1).tracks.first(), 51);
    for (const AlbumGroups::Call &call : calls)
        for (const qsizetype index : call.tracks)
            EXPECT_FALSE(known.contains(*library.at(index)->fileURL));
}

// 20,000 untagged files in one folder: calls of at most 50 files with a
// bounded result buffer, progress that moves while they run, and a Stop that
// ends the stage within a second.
TEST_F(LargeLibrary, TwentyThousandUntaggedFilesMoveInBoundedCallsAndStopAtOnce) {
    Sonarbox &sonarbox = Sonarbox::instance();
    QList<AudioPtr> library;
    for (int i = 0; i < 20000; ++i)
        library << untagged(dir.filePath(QStringLiteral("music/%1.mp3").arg(i)));
    GraceNote stage(Sonarbox::instance(), &hashingRecognize);
    const SyncRunPtr run = sonarbox.newRun();
    run->setLocalLibraryTracks(library);
    std::atomic<bool> completed{false};
    QFuture<void> running = QtConcurrent::run(
        [&] { stage.fingderPrintLocalMediaFiles(run, [&] { completed = true; }); });

    ASSERT_TRUE(TestEnvironment::waitUntil(
        [&] { return sonarbox.syncProgress().state().itemsDone >= 150; }, 60000));
    EXPECT_EQ(sonarbox.syncProgress().state().itemsTotal, 20000);
    EXPECT_GE(GenericDAO::instance().getSize(QStringLiteral("Audio")), 100);

    QElapsedTimer stopping;
    stopping.start();
    sonarbox.stopSyncAction();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return running.isFinished(); }, 5000));
    EXPECT_LT(stopping.elapsed(), 1000);
    EXPECT_FALSE(completed);
    EXPECT_LT(sonarbox.syncProgress().state().itemsDone, 20000);
    EXPECT_EQ(g_largestCall, 50);
    EXPECT_LE(g_largestBuffer, 50 * GraceNote::ResponseBytesPerTrack);
}

// Runs of one coordinator side by side, and the last scan it keeps for the
// screens: the stage given a run identifies that run's tracks, never
// another's, and what one run's stage sets stays in that run.
TEST_F(LargeLibrary, AStageGivenARunWorksOnThatRunsTracksOnly) {
    Sonarbox &sonarbox = Sonarbox::instance();
    const auto tracksIn = [&](const QString &folder, int count) {
        QList<AudioPtr> list;
        for (int i = 0; i < count; ++i)
            list << untagged(dir.filePath(QStringLiteral("%1/%2.mp3").arg(folder).arg(i)));
        return list;
    };
    sonarbox.setLocalLibraryTracks(tracksIn(QStringLiteral("last-scan"), 7));
    const SyncRunPtr first = sonarbox.newRun();
    first->setLocalLibraryTracks(tracksIn(QStringLiteral("first"), 3));
    const SyncRunPtr second = sonarbox.newRun();
    second->setLocalLibraryTracks(tracksIn(QStringLiteral("second"), 5));

    GraceNote stage(Sonarbox::instance(), &hashingRecognize);
    const auto storedFolders = [&] {
        QMap<QString, int> folders;
        for (const QString &path : GenericDAO::instance().storedFilePaths())
            ++folders[QFileInfo(path).dir().dirName()];
        return folders;
    };
    // Off the main thread, as on the stage queue: its requests block.
    const auto identify = [&](const SyncRunPtr &run) {
        bool completed = false;
        QtConcurrent::run([&] {
            stage.fingderPrintLocalMediaFiles(run, [&] { completed = true; });
        }).waitForFinished();
        return completed;
    };
    EXPECT_TRUE(identify(second));
    EXPECT_EQ(sonarbox.syncProgress().state().itemsTotal, 5);
    EXPECT_EQ(storedFolders(), (QMap<QString, int>{{"second", 5}}));

    EXPECT_TRUE(identify(first));
    EXPECT_EQ(storedFolders(), (QMap<QString, int>{{"first", 3}, {"second", 5}}));
    EXPECT_EQ(first->localLibraryTracks().size(), 3);
    EXPECT_EQ(second->localLibraryTracks().size(), 5);
    EXPECT_EQ(sonarbox.localLibraryTrackCount(), 7);
}
