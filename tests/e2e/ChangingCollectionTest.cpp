// A collection that people keep changing, synced by sonarbox-headless against
// a real sonarbox-cloud: after every change the account's cloud library holds
// exactly the current version of every local song, whole, and nothing more,
// and a reinstall over it fetches and sends nothing.
#include "Headless.h"
#include "SyncWorld.h"
#include "TestSongs.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QThread>

#include <csignal>
#include <functional>

#include <gtest/gtest.h>

namespace {

class ChangingCollectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(world.build(&error, 1, 5, 0)) << error.toStdString();
        ASSERT_EQ(headless.signIn(SyncWorld::Email, SyncWorld::Password), 0);
    }

    QString song(const QString &relative) const {
        return QDir(world.musicFolder()).filePath(relative);
    }

    // A sync to its end; its terminal output.
    QByteArray syncOnce(int expectedExit = 0) {
        QByteArray output;
        EXPECT_EQ(headless.runOver(world.musicFolder(), world.downloadFolder(),
                                   {QStringLiteral("--once")}, &output),
                  expectedExit)
            << output.toStdString();
        return output;
    }

    // The checksums of the songs the account's cloud library lists.
    QStringList cloudSongs() const {
        QStringList md5s = world.cloud.query(
            QStringLiteral("SELECT f.md5 FROM user_media m JOIN files f ON f.id = m.file_id "
                           "WHERE m.deleted = 0 AND m.retired_ms IS NULL"));
        md5s.sort();
        return md5s;
    }

    // The checksums the cloud should list: every local file's, but the
    // catalogued song's, which the cloud holds as the catalogue's own file.
    QStringList localSongs() const {
        QSet<QString> md5s;
        QDirIterator it(world.musicFolder(), {QStringLiteral("*.mp3")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!world.cataloguedCopies.contains(path))
                md5s.insert(fileMd5(path));
        }
        for (const QString &md5 : world.cloud.query(
                 QStringLiteral("SELECT f.md5 FROM catalog c JOIN files f ON f.id = c.file_id")))
            md5s.insert(md5);
        QStringList sorted(md5s.begin(), md5s.end());
        sorted.sort();
        return sorted;
    }

    void expectCloudHoldsExactlyTheLocalSongs(const char *after) {
        SCOPED_TRACE(after);
        EXPECT_EQ(cloudSongs(), localSongs());
        // The cloud has no song of its own here: nothing comes down, and no
        // old version either.
        EXPECT_EQ(QDir(world.downloadFolder()).entryList(QDir::Files), QStringList());
    }

    // Another recording (or the same one tagged anew) written over `path` in
    // place: the file keeps its inode, as a tag editor's in-place write does.
    void rewriteInPlace(const QString &path, uint32_t seed, const QString &title) {
        const QString made = QDir(scratch.path()).filePath(QStringLiteral("made.mp3"));
        QFile::remove(made);
        ASSERT_TRUE(TestSongs::make(
            made, seed, 15, {title, QStringLiteral("Me"), QStringLiteral("Home Recordings"), 1}));
        QFile from(made);
        QFile to(path);
        ASSERT_TRUE(from.open(QIODevice::ReadOnly));
        ASSERT_TRUE(to.open(QIODevice::WriteOnly | QIODevice::Truncate));
        to.write(from.readAll());
    }

    // A sync over the music, killed with SIGKILL once `killNow` holds (asked
    // with what it printed so far); answers whether it was killed before it
    // ended by itself.
    bool syncKilledWhen(const std::function<bool(const QByteArray &)> &killNow) {
        ChildProcess p;
        EXPECT_TRUE(headless.start(p, {QStringLiteral("--library"), world.musicFolder(),
                                       QStringLiteral("--download-dir"), world.downloadFolder(),
                                       QStringLiteral("--once")}));
        QElapsedTimer clock;
        clock.start();
        while (p.isRunning() && clock.elapsed() < 120000) {
            if (killNow(p.output(0))) {
                p.signal(SIGKILL);
                p.waitForFinished(10000);
                return true;
            }
            QThread::usleep(200);
        }
        EXPECT_TRUE(p.waitForFinished(1000)) << "a sync hung";
        return false;
    }
    int retiredItems() const {
        return world.cloud
            .query(QStringLiteral("SELECT count(*) FROM user_media WHERE retired_ms IS NOT NULL"))
            .value(0)
            .toInt();
    }

    SyncWorld world;
    Headless headless{world.configFile()};
    QTemporaryDir scratch;
};

TEST_F(ChangingCollectionTest, EveryChangeLeavesTheCloudWithExactlyTheCurrentSongs) {
    syncOnce();
    expectCloudHoldsExactlyTheLocalSongs("the first sync");
    const int firstFiles = world.cloud.query(QStringLiteral("SELECT id FROM files")).size();

    // A tag edited in place: the same file, other bytes.
    rewriteInPlace(song("Own/own song 0.mp3"), 500, QStringLiteral("Own Song Zero"));
    syncOnce();
    expectCloudHoldsExactlyTheLocalSongs("a retag in place");

    // Renamed, and renamed and then edited: nothing is sent for the first.
    ASSERT_TRUE(QFile::rename(song("Own/own song 1.mp3"), song("Own/renamed.mp3")));
    QByteArray renamed = syncOnce();
    EXPECT_TRUE(renamed.contains(" 0 uploaded")) << renamed.toStdString();
    expectCloudHoldsExactlyTheLocalSongs("a rename");
    ASSERT_TRUE(QFile::rename(song("Own/renamed.mp3"), song("Own/Me - Own Song 1.mp3")));
    rewriteInPlace(song("Own/Me - Own Song 1.mp3"), 501, QStringLiteral("Own Song One"));
    syncOnce();
    expectCloudHoldsExactlyTheLocalSongs("a rename, then a retag");

    // A tagger that writes a new file and renames it over the old one.
    {
        const QString written = song("Own/.own song 2.tagging.mp3");
        ASSERT_TRUE(TestSongs::make(written, 502, 15,
                                    {QStringLiteral("Own Song Two"), QStringLiteral("Me"),
                                     QStringLiteral("Home Recordings"), 3}));
        ASSERT_TRUE(QFile::remove(song("Own/own song 2.mp3")));
        ASSERT_TRUE(QFile::rename(written, song("Own/own song 2.mp3")));
    }
    syncOnce();
    expectCloudHoldsExactlyTheLocalSongs("a new file renamed over the old one");

    // A copy into a second folder: one song, nothing sent.
    QDir().mkpath(song("Second"));
    ASSERT_TRUE(QFile::copy(song("Own/own song 3.mp3"), song("Second/own song 3.mp3")));
    QByteArray copied = syncOnce();
    EXPECT_TRUE(copied.contains(" 0 uploaded")) << copied.toStdString();
    expectCloudHoldsExactlyTheLocalSongs("a copy");

    // Another recording under a synced name.
    rewriteInPlace(song("Own/own song 4.mp3"), 777, QStringLiteral("Something Else"));
    syncOnce();
    expectCloudHoldsExactlyTheLocalSongs("another recording under the same name");

    // A song whose upload failed (the account full), then its folder moved:
    // it goes up from its new place.
    QDir().mkpath(song("Later"));
    ASSERT_TRUE(TestSongs::make(
        song("Later/late.mp3"), 900, 15,
        {QStringLiteral("Late"), QStringLiteral("Me"), QStringLiteral("Later"), 1}));
    world.cloud.stop();
    ASSERT_TRUE(world.cloud.start({QStringLiteral("--quota-mib"), QStringLiteral("0")}));
    syncOnce(3);
    ASSERT_TRUE(QDir().rename(song("Later"), song("Moved Later")));
    world.cloud.stop();
    ASSERT_TRUE(world.cloud.start());
    syncOnce();
    expectCloudHoldsExactlyTheLocalSongs("a folder moved after a failed upload");

    // Nothing of the old versions comes back to a new installation, and it
    // sends nothing either.
    Headless reinstalled(world.configFile());
    ASSERT_EQ(reinstalled.signIn(SyncWorld::Email, SyncWorld::Password), 0);
    const QString otherDownloads = QDir(scratch.path()).filePath(QStringLiteral("downloads"));
    QDir().mkpath(otherDownloads);
    QByteArray output;
    EXPECT_EQ(reinstalled.runOver(world.musicFolder(), otherDownloads, {QStringLiteral("--once")},
                                  &output),
              0)
        << output.toStdString();
    EXPECT_TRUE(output.contains(" 0 uploaded, 0 downloaded, 0 failed")) << output.toStdString();
    EXPECT_TRUE(QDir(otherDownloads).isEmpty());
    expectCloudHoldsExactlyTheLocalSongs("a reinstall");
    EXPECT_GT(world.cloud.query(QStringLiteral("SELECT id FROM files")).size(), firstFiles)
        << "the replaced versions' files stay on the server for a while";
}

// Killed again and again while it follows a renamed folder (every track
// moves, one of them rewritten on the way) and retires the old version, then
// left to finish: the cloud holds what one unbroken sync leaves, the old
// version retired once, nothing sent twice, and the next sync has nothing to do.
TEST_F(ChangingCollectionTest, KilledWhileItFollowsAMoveAndRetiresItStillEndsAsOneSyncWould) {
    syncOnce();
    const QStringList filesBefore = world.cloud.query(QStringLiteral("SELECT md5 FROM files"));
    rewriteInPlace(song("Own/own song 0.mp3"), 600, QStringLiteral("Own Song Zero, Again"));
    ASSERT_TRUE(QDir().rename(song("Own"), song("Renamed Own")));

    // During the scan that finds the moves, and on through the stages after it.
    int killed = 0;
    for (const qint64 delayMs : {0, 20, 50, 100, 200, 400}) {
        QElapsedTimer sinceScan;
        killed += syncKilledWhen([&](const QByteArray &output) {
            if (!output.contains("[Scanning")) {
                sinceScan.invalidate();
                return false;
            }
            if (!sinceScan.isValid())
                sinceScan.start();
            return sinceScan.elapsed() >= delayMs;
        });
    }
    // As the service has retired the old version, before the client can
    // record that it has.
    const int retiredBefore = retiredItems();
    const bool killedOnRetire =
        syncKilledWhen([&](const QByteArray &) { return retiredItems() > retiredBefore; });
    // The later runs have less left to do and may end before their kill.
    EXPECT_GE(killed, 2) << "the runs ended by themselves before the kills";

    const QByteArray output = syncOnce();
    EXPECT_TRUE(output.contains(", 0 failed")) << output.toStdString();
    expectCloudHoldsExactlyTheLocalSongs("kills during a move and a retire");
    EXPECT_EQ(retiredItems(), 1) << "killed on the retire: " << killedOnRetire;
    // The new version went up once; the moved songs were sent no more.
    QStringList added = world.cloud.query(QStringLiteral("SELECT md5 FROM files"));
    for (const QString &md5 : filesBefore)
        added.removeOne(md5);
    EXPECT_EQ(added, QStringList{fileMd5(song("Renamed Own/own song 0.mp3"))});

    const QByteArray again = syncOnce();
    EXPECT_TRUE(again.contains(" 0 uploaded, 0 downloaded, 0 failed")) << again.toStdString();
    // The store follows the files: each local song once, at its new path.
    QByteArray tracks;
    EXPECT_EQ(headless.run({QStringLiteral("--tracks")}, {}, &tracks), 0);
    QDirIterator it(world.musicFolder(), {QStringLiteral("*.mp3")}, QDir::Files,
                    QDirIterator::Subdirectories);
    int local = 0;
    while (it.hasNext()) {
        const QString path = it.next();
        ++local;
        EXPECT_EQ(tracks.count(QStringLiteral("(%1)").arg(path).toUtf8()), 1)
            << path.toStdString() << "\n"
            << tracks.toStdString();
    }
    EXPECT_TRUE(tracks.endsWith(QStringLiteral("\n%1 tracks\n").arg(local).toUtf8()))
        << tracks.toStdString();
}

} // namespace
