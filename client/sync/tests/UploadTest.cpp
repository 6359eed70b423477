// The upload stage against a scripted gateway (faults on demand) and against
// sonarbox-cloud.
#include "TransferFixture.h"

#include "CloudProcess.h"
#include "TestSongs.h"
#include "engine/LoginPortal.h"
#include "engine/Sonarbox.h"
#include "settings/Utility.h"
#include "sync/MultipartUploadBody.h"
#include "sync/UploadFilesToCloud.h"

#include <QCryptographicHash>
#include <QSignalSpy>
#include <QTcpServer>

inline void PrintTo(const QString &text, std::ostream *os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

const QByteArray kUploadPath = "/Vexmusic/controllers/DesktopUploadMedia?fileName=";

scripted::Reply mediaId(int id) {
    return scripted::Reply::json(R"({"responseStatus":"SUCCESS","purchasedContent":[{"id":)" +
                                 QByteArray::number(id) + "}]}");
}

class UploadTest : public TransferTest {
protected:
    // A stored track of the file at `path`; `songName` also names it in the
    // upload address.
    AudioPtr storeTrack(const QString &path, const QString &name, std::optional<QString> songName,
                        std::optional<bool> downloadable = false) {
        auto track = std::make_shared<Audio>();
        track->fileURL = path;
        track->name = name;
        track->songName = songName;
        track->fileExtension = QStringLiteral("mp3");
        track->checksum = Utility::getMD5FromFile(path);
        track->userMediaID = QStringLiteral("-1");
        track->downloadable = downloadable;
        GenericDAO::instance().save(track); // as it is: an empty name stays empty
        return stored(*track->checksum);
    }
    static AudioPtr stored(const QString &checksum) {
        return GenericDAO::instance().getById(QStringLiteral("audioByCode"), checksum);
    }
    std::function<void(std::function<void()>)> stage() {
        return [this](std::function<void()> done) {
            uploader.uploadUnSyncedFiles(Sonarbox::instance().newRun(), done);
        };
    }
    // The addresses asked for, readable when a comparison fails.
    std::vector<std::string> targets() const {
        std::vector<std::string> result;
        for (const auto &r : server->requests())
            result.push_back(r.target.toStdString());
        return result;
    }
    static std::vector<std::string> uploadsOf(std::initializer_list<const char *> names) {
        std::vector<std::string> result;
        for (const char *name : names)
            result.push_back((kUploadPath + name).toStdString());
        return result;
    }

    UploadFilesToCloud uploader{Sonarbox::instance()};
};

} // namespace

TEST_F(UploadTest, WithoutCandidatesTheRunEndsAtOnce) {
    writeFile(dir.filePath("a.mp3"), "in the cloud");
    writeFile(dir.filePath("b.mp3"), "not answered yet");
    storeTrack(dir.filePath("a.mp3"), "a.mp3", "a", true);
    storeTrack(dir.filePath("b.mp3"), "b.mp3", "b", std::nullopt);
    LogCapture log;
    EXPECT_EQ(runStage(stage()), 1);
    EXPECT_TRUE(log.contains("No Songs to Upload"));
    EXPECT_TRUE(server->requests().isEmpty());
    EXPECT_TRUE(notifications.isEmpty());
}

TEST_F(UploadTest, ARefusedUploadIsSkippedAndStaysACandidate) {
    QStringList checksums;
    for (const char *name : {"first", "second", "third"}) {
        const QString path = dir.filePath(QLatin1String(name));
        writeFile(path, QByteArray("content of ") + name);
        checksums << *storeTrack(path, QLatin1String(name) + QStringLiteral(".mp3"),
                                 QLatin1String(name))
                          ->checksum;
    }
    server->setHandler([](const scripted::Request &r) {
        if (r.target.contains("first"))
            return mediaId(101);
        if (r.target.contains("second"))
            return scripted::Reply::json("{}", 500);
        return mediaId(103);
    });
    EXPECT_EQ(runStage(stage()), 1);
    EXPECT_EQ(targets(), uploadsOf({"first.mp3", "second.mp3", "third.mp3"}));
    EXPECT_EQ(stored(checksums[0])->userMediaID, QStringLiteral("101"));
    EXPECT_EQ(stored(checksums[0])->downloadable, true);
    EXPECT_EQ(stored(checksums[1])->userMediaID, QStringLiteral("-1"));
    EXPECT_EQ(stored(checksums[1])->downloadable, false);
    EXPECT_EQ(stored(checksums[2])->userMediaID, QStringLiteral("103"));
    EXPECT_EQ(notifications, QStringList{QStringLiteral("Import Complete")});
    const SyncProgress::State progress = Sonarbox::instance().syncProgress().state();
    EXPECT_EQ(progress.tracksUploaded, 2);
    EXPECT_EQ(progress.tracksFailed, 1);
}

// Refused by the service, every one of them: no "Import Complete", and the
// sync's outcome says what happened and why.
TEST_F(UploadTest, UploadsAllRefusedAreNotReportedAsImported) {
    for (const char *name : {"full1", "full2", "gone"}) {
        writeFile(dir.filePath(QLatin1String(name)), name);
        storeTrack(dir.filePath(QLatin1String(name)), QLatin1String(name), QLatin1String(name));
    }
    server->setHandler([](const scripted::Request &r) {
        return scripted::Reply::json(R"({"responseStatus":"FAILED"})",
                                     r.target.contains("gone") ? 401 : 507);
    });
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.syncStarted();
    EXPECT_EQ(runStage(stage()), 1);
    EXPECT_EQ(notifications, QStringList{QStringLiteral("Import Failed")});
    sonarbox.syncFinished();
    const QString outcome =
        QStringLiteral("Sync Completed: 2 uploads refused (quota full), 1 upload refused (not "
                       "signed in)");
    EXPECT_EQ(sonarbox.progressPage().state().description, outcome);
    EXPECT_EQ(NSDefaultsUtility::standard().text(QLatin1StringView("lastSyncOutcome")), outcome);
}

// Cut-off, unreadable and missing replies, and a file deleted since it was
// stored: each candidate is left behind once, and the run still ends once.
TEST_F(UploadTest, EveryFaultMovesOnExactlyOnce) {
    QStringList checksums;
    for (const char *name : {"1-cut", "2-garbled", "3-closed", "4-gone", "5-good"}) {
        const QString path = dir.filePath(QLatin1String(name));
        writeFile(path, QByteArray("bytes of ") + name);
        checksums << *storeTrack(path, QLatin1String(name) + QStringLiteral(".mp3"),
                                 QLatin1String(name))
                          ->checksum;
    }
    QFile::remove(dir.filePath("4-gone"));
    server->setHandler([](const scripted::Request &r) {
        scripted::Reply reply = mediaId(99);
        if (r.target.contains("cut")) {
            reply.headers << qMakePair(QByteArray("Content-Length"), QByteArray("500"));
            reply.body = R"({"purchasedContent":[)";
            reply.withContentLength = false;
        } else if (r.target.contains("garbled")) {
            reply = scripted::Reply::json("<html>busy</html>");
        } else if (r.target.contains("closed")) {
            reply.mode = scripted::Reply::Mode::Close;
        }
        return reply;
    });
    LogCapture log;
    EXPECT_EQ(runStage(stage()), 1);
    // The network layer itself sends a request again once when its connection
    // closed without an answer; the stage still moves on once. (It then asks
    // the service why, without a body.)
    std::vector<std::string> asked;
    for (const auto &r : server->requests())
        if (r.method == "POST")
            asked.push_back(r.target.toStdString());
    asked.erase(std::unique(asked.begin(), asked.end()), asked.end());
    EXPECT_EQ(asked, uploadsOf({"1-cut.mp3", "2-garbled.mp3", "3-closed.mp3", "5-good.mp3"}));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(stored(checksums[i])->downloadable, false) << i;
    EXPECT_EQ(stored(checksums[4])->userMediaID, QStringLiteral("99"));
    EXPECT_TRUE(log.contains("JSON Error: "));
    EXPECT_EQ(notifications.size(), 1);
}

// The address, headers and body exactly as they reach the server.
TEST_F(UploadTest, TheServerReceivesTheExactRequest) {
    QByteArray content;
    for (int i = 0; content.size() < 300000; ++i)
        content += QByteArray::number(i) + ',';
    writeFile(dir.filePath("song"), content);
    writeFile(dir.filePath("nameless"), "nameless bytes");
    writeFile(dir.filePath("band"), "band bytes");
    writeFile(dir.filePath("cafe"), "cafe bytes");
    storeTrack(dir.filePath("song"), "My Song.mp3", "My Song");
    const QString nameless = *storeTrack(dir.filePath("nameless"), "", std::nullopt)->checksum;
    storeTrack(dir.filePath("band"), "band.mp3", "AC/DC & Co = ?");
    storeTrack(dir.filePath("cafe"), "cafe.mp3", QStringLiteral("Café #1 +50%"));
    Sonarbox::instance().setJSessionID(QStringLiteral("JSESSIONID=abc123; Path=/; HttpOnly"));
    server->setHandler([](const scripted::Request &) { return mediaId(5); });

    LogCapture log;
    EXPECT_EQ(runStage(stage()), 1);
    QHash<QByteArray, scripted::Request> byTarget;
    for (const auto &r : server->requests())
        byTarget.insert(r.target, r);
    EXPECT_EQ(byTarget.keys().size(), 4);
    EXPECT_TRUE(byTarget.contains(kUploadPath + "Unknown-" + nameless.toLatin1()));
    EXPECT_TRUE(byTarget.contains(kUploadPath + "AC/DC%20&%20Co%20=%20?.mp3"));
    EXPECT_TRUE(byTarget.contains(kUploadPath + "Caf%C3%A9%20%231%20%2B50%25.mp3"));

    const scripted::Request song = byTarget.value(kUploadPath + "My%20Song.mp3");
    EXPECT_EQ(song.method, "POST");
    EXPECT_EQ(song.header("Content-Type"),
              "multipart/form-data; boundary=----Zq4r8uLmW2xTe6Jk0PoNcVbHa");
    EXPECT_EQ(song.header("Cookie"), "JSESSIONID=abc123; Path=/; HttpOnly");
    EXPECT_EQ(song.header("mobileUpload"), "true");
    EXPECT_EQ(song.header("X-File-Size"), QByteArray::number(content.size()));
    const QByteArray expected = "------Zq4r8uLmW2xTe6Jk0PoNcVbHa\r\n"
                                "Content-Disposition: form-data; name=\"file\"; "
                                "filename=\"My Song.mp3\"\r\n"
                                "Content-Type: audio/mpeg\r\n\r\n" +
                                content + "\r\n------Zq4r8uLmW2xTe6Jk0PoNcVbHa--\r\n";
    EXPECT_EQ(song.body, expected);
    EXPECT_EQ(song.header("Content-Length"), QByteArray::number(expected.size()));
    EXPECT_TRUE(byTarget.value(kUploadPath + "Unknown-" + nameless.toLatin1())
                    .body.contains("; filename=\"\"\r\n"));
    EXPECT_FALSE(log.contains("abc123"));
}

TEST_F(UploadTest, AStopOrALostNetworkEndsTheRunWithoutCompletion) {
    Sonarbox &sonarbox = Sonarbox::instance();
    for (const char *name : {"one", "two"}) {
        writeFile(dir.filePath(QLatin1String(name)), name);
        storeTrack(dir.filePath(QLatin1String(name)), QLatin1String(name), QLatin1String(name));
    }
    std::atomic<bool> stopAsked{false};
    server->setHandler([&](const scripted::Request &) {
        Sonarbox::instance().flow_stopProcesses = true;
        stopAsked = true;
        return mediaId(1);
    });
    EXPECT_EQ(runStage(stage(), [&] { return stopAsked && !sonarbox.flow_stopProcesses; }), 0);
    EXPECT_EQ(server->requests().size(), 1);

    server->clearRequests();
    sonarbox.syncStarted();
    sonarbox.isAppOffline = true;
    LogCapture log;
    EXPECT_EQ(runStage(stage(), [] { return true; }), 0);
    EXPECT_TRUE(server->requests().isEmpty());
    EXPECT_TRUE(log.contains("!!! APP OFFLINE"));
    EXPECT_FALSE(sonarbox.syncInProgress);
    EXPECT_FALSE(sonarbox.flow_stopProcesses);
    EXPECT_EQ(sonarbox.progressPage().state().description, QStringLiteral("Sync stopped"));
}

// A restarted sync drops the earlier run's transfer: it never advances or
// ends the new run.
TEST_F(UploadTest, ARestartedRunForgetsTheEarlierOne) {
    writeFile(dir.filePath("slow"), "slow bytes");
    const QString checksum =
        *storeTrack(dir.filePath("slow"), "slow.mp3", QStringLiteral("slow"))->checksum;
    std::atomic<int> seen{0};
    server->setHandler([&](const scripted::Request &) {
        scripted::Reply reply = mediaId(8);
        if (++seen == 1)
            reply.mode = scripted::Reply::Mode::NeverAnswer;
        return reply;
    });
    int earlier = 0;
    uploader.uploadUnSyncedFiles(Sonarbox::instance().newRun(), [&] { ++earlier; });
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return seen == 1; }));
    EXPECT_EQ(runStage(stage()), 1);
    EXPECT_EQ(earlier, 0);
    EXPECT_EQ(stored(checksum)->userMediaID, QStringLiteral("8"));
}

TEST_F(UploadTest, TheFileIsStreamedFromDiskNotReadIntoMemory) {
    // A server that never takes the connection (it waits in the kernel's
    // backlog): the body can only go as far as the socket buffers, unless
    // something holds all of it.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    silent.pauseAccepting();
    useGateway(QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort()));
    const QString big = dir.filePath(QStringLiteral("big.mp3"));
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const QByteArray chunk(1 << 20, 'x');
        for (int i = 0; i < 96; ++i)
            f.write(chunk);
    }
    storeTrack(big, "big.mp3", QStringLiteral("big"));
    const double before = residentMiB();
    uploader.uploadUnSyncedFiles(Sonarbox::instance().newRun(), [] {});
    TestEnvironment::waitUntil([] { return false; }, 1500);
    EXPECT_LT(residentMiB() - before, 40.0) << "a 96 MiB upload was held in memory";
}

TEST_F(UploadTest, UploadsToTheServiceWithoutLoggingTheSession) {
    CloudProcess cloud;
    ASSERT_TRUE(cloud.addUser(QStringLiteral("ada@example.com"), QStringLiteral("s3cret!")));
    ASSERT_TRUE(cloud.start());
    useGateway(cloud.baseUrl());
    const UserPtr user = ada();
    ASSERT_TRUE(Sonarbox::instance().signIn(user).signedIn());
    Sonarbox::instance().setLoggedUser(user);
    const QString session =
        *Utility::getValidJSessionID(Sonarbox::instance().jSessionID().value_or(QString()));

    const QString path = dir.filePath("Song With Spaces.mp3");
    ASSERT_TRUE(TestSongs::make(path, 7, 3.0, {QStringLiteral("Spaces"), {}, {}}));
    const QString checksum = Utility::getMD5FromFile(path);
    storeTrack(path, "Song With Spaces.mp3", QStringLiteral("Song With Spaces"));

    LogCapture log;
    EXPECT_EQ(runStage(stage()), 1);
    const AudioPtr track = stored(checksum);
    EXPECT_EQ(track->downloadable, true);
    EXPECT_EQ(cloud.query(QStringLiteral("SELECT md5 FROM files")), QStringList{checksum});
    EXPECT_EQ(cloud.query(
                  QStringLiteral("SELECT id FROM user_media WHERE checksum = '%1'").arg(checksum)),
              QStringList{track->userMediaID.value_or(QString())});
    EXPECT_FALSE(log.contains(session));
}

// A run sends every upload with the session it started with, whoever signs
// in meanwhile; a stop ends the upload in flight at once, and nothing follows.
TEST_F(UploadTest, ARunKeepsItsSessionAndAStopEndsTheUploadInFlight) {
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.setJSessionID(QStringLiteral("JSESSIONID=first"));
    const SyncRunPtr run = sonarbox.newRun();
    for (const char *name : {"a", "b", "c"}) {
        writeFile(dir.filePath(QLatin1String(name)), name);
        storeTrack(dir.filePath(QLatin1String(name)), QLatin1String(name), QLatin1String(name));
    }
    std::atomic<int> seen{0};
    server->setHandler([&](const scripted::Request &) {
        sonarbox.setJSessionID(QStringLiteral("JSESSIONID=second"));
        scripted::Reply reply = mediaId(100 + seen);
        if (++seen == 2)
            reply.mode = scripted::Reply::Mode::NeverAnswer;
        return reply;
    });
    int completions = 0;
    QFuture<void> entry =
        QtConcurrent::run([&] { uploader.uploadUnSyncedFiles(run, [&] { ++completions; }); });
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return seen == 2; }));
    run->stop();
    TestEnvironment::waitUntil([] { return false; }, 500);
    entry.waitForFinished();
    EXPECT_EQ(completions, 0);
    ASSERT_EQ(server->requests().size(), 2) << targets().size();
    for (const auto &r : server->requests())
        EXPECT_EQ(r.header("Cookie"), "JSESSIONID=first");
    EXPECT_EQ(GenericDAO::instance().tracksByDownloadable(false).size(), 2);
}

// Log out during an upload and sign in as someone else, on a real server:
// the first account's remaining files never reach the second account.
TEST_F(UploadTest, ALogOutDuringAnUploadSendsNothingOfTheFirstAccountToTheNext) {
    CloudProcess cloud;
    ASSERT_TRUE(cloud.addUser(QStringLiteral("ada@example.com"), QStringLiteral("s3cret!")));
    ASSERT_TRUE(cloud.addUser(QStringLiteral("bob@example.com"), QStringLiteral("hunter22")));
    ASSERT_TRUE(cloud.start());
    useGateway(cloud.baseUrl());
    Sonarbox &sonarbox = Sonarbox::instance();
    const UserPtr first = ada();
    ASSERT_TRUE(Sonarbox::instance().signIn(first).signedIn());
    sonarbox.setLoggedUser(first);
    for (int i = 1; i <= 4; ++i) {
        const QString path = dir.filePath(QStringLiteral("ada %1.mp3").arg(i));
        ASSERT_TRUE(TestSongs::makeSilenceOfSize(path, 12 * 1024 * 1024 + i));
        storeTrack(path, QStringLiteral("ada %1.mp3").arg(i), QStringLiteral("ada %1").arg(i));
    }

    // As soon as the first bytes are on their way, Ada logs out and Bob signs
    // in (which clears any stop request left over).
    auto bob = std::make_shared<User>();
    bob->id = QStringLiteral("1");
    bob->username = QStringLiteral("bob@example.com");
    bob->password = QStringLiteral("hunter22");
    bob->deviceId = sonarbox.deviceID();
    QFuture<bool> bobSignsIn;
    bool switched = false;
    QObject guard;
    QObject::connect(
        &sonarbox.syncProgress(), &SyncProgress::changed, &guard,
        [&] {
            if (switched || sonarbox.syncProgress().state().bytesUploaded == 0)
                return;
            switched = true;
            sonarbox.logOut();
            bobSignsIn = LoginPortal::loginNewUser(bob, nullptr);
        },
        Qt::QueuedConnection);

    const SyncRunPtr run = sonarbox.newRun();
    runStage([&](std::function<void()> done) { uploader.uploadUnSyncedFiles(run, done); },
             [&] { return switched && bobSignsIn.isFinished(); });
    ASSERT_TRUE(switched);
    ASSERT_TRUE(bobSignsIn.result());
    // Whatever the uploader still had, it had for Ada.
    TestEnvironment::waitUntil([] { return false; }, 2000);
    EXPECT_EQ(cloud.query(QStringLiteral("SELECT count(*) FROM user_media JOIN users ON "
                                         "users.id = user_media.user_id WHERE users.email = "
                                         "'bob@example.com'")),
              QStringList{"0"});
    EXPECT_LE(cloud.query(QStringLiteral("SELECT count(*) FROM files")).value(0).toInt(), 1);
}

// The body hashes the file as it hands it out: when the file is not the one
// its checksum named, or its length changed, the tail never follows, so the
// receiver never holds a whole body.
TEST_F(UploadTest, ABodyWhoseFileIsNotTheAnnouncedOneNeverEnds) {
    QByteArray content(300000, Qt::Uninitialized);
    for (int i = 0; i < content.size(); ++i)
        content[i] = char('a' + i % 26);
    const QString md5 =
        QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
    const QString path = dir.filePath(QStringLiteral("song.mp3"));
    const QByteArray whole = MultipartUploadBody::head(QStringLiteral("song.mp3")) + content +
                             MultipartUploadBody::tail();
    struct Sent {
        QByteArray bytes;
        int failures = 0;
        QString reason;
    };
    // Reads the body as the network layer does, `meanwhile` after the first read.
    const auto send = [&](const QString &announced, const std::function<void()> &meanwhile) {
        MultipartUploadBody body(path, QStringLiteral("song.mp3"), announced);
        QSignalSpy failed(&body, &MultipartUploadBody::fileFailed);
        Sent sent;
        if (!body.open(QIODevice::ReadOnly))
            return sent;
        for (;;) {
            const QByteArray chunk = body.read(16384);
            if (chunk.isEmpty())
                break;
            if (sent.bytes.isEmpty() && meanwhile)
                meanwhile();
            sent.bytes += chunk;
        }
        sent.failures = int(failed.count());
        sent.reason = body.errorString();
        return sent;
    };
    const auto expectCutOff = [&](const Sent &sent, const char *what) {
        EXPECT_EQ(sent.failures, 1) << what;
        EXPECT_EQ(sent.reason, QStringLiteral("the file changed while it was being sent")) << what;
        EXPECT_FALSE(sent.bytes.endsWith(MultipartUploadBody::tail())) << what;
        EXPECT_LT(sent.bytes.size(), whole.size()) << what;
    };

    writeFile(path, content);
    Sent sent = send(md5.toUpper(), {});
    EXPECT_EQ(sent.bytes, whole);
    EXPECT_EQ(sent.failures, 0);

    QByteArray other = content;
    other[1000] = '!';
    writeFile(path, other);
    expectCutOff(send(md5, {}), "changed before");

    writeFile(path, content);
    expectCutOff(send(md5,
                      [&] {
                          QFile file(path);
                          ASSERT_TRUE(file.open(QIODevice::ReadWrite));
                          file.seek(content.size() - 10);
                          file.write("0123456789");
                      }),
                 "changed while sent");
    writeFile(path, content);
    expectCutOff(send(md5,
                      [&] {
                          QFile file(path);
                          ASSERT_TRUE(file.open(QIODevice::Append));
                          file.write("more");
                      }),
                 "grown while sent");
    writeFile(path, content);
    expectCutOff(send(md5, [&] { ASSERT_TRUE(QFile::resize(path, content.size() / 2)); }),
                 "shrunk while sent");
}

// The copy went on after the scan hashed half the file: the upload is
// abandoned before its body is whole, the service keeps nothing of it, the
// track says why, the next track still goes up, and once the file has been
// read again the whole of it goes up.
TEST_F(UploadTest, AFileChangedSinceItWasHashedIsNeverSentWholeAndGoesUpOnceReadAgain) {
    CloudProcess cloud;
    ASSERT_TRUE(cloud.addUser(QStringLiteral("ada@example.com"), QStringLiteral("s3cret!")));
    ASSERT_TRUE(cloud.start());
    useGateway(cloud.baseUrl());
    const UserPtr user = ada();
    ASSERT_TRUE(Sonarbox::instance().signIn(user).signedIn());
    Sonarbox::instance().setLoggedUser(user);

    const QString source = dir.filePath(QStringLiteral("source.mp3"));
    ASSERT_TRUE(TestSongs::make(source, 31, 6.0));
    const QByteArray complete = readFile(source);
    const QString copied = dir.filePath(QStringLiteral("copied.mp3"));
    writeFile(copied, complete.left(complete.size() / 2));
    const QString halfMd5 =
        *storeTrack(copied, QStringLiteral("copied.mp3"), QStringLiteral("copied"))->checksum;
    writeFile(copied, complete);
    const QString wholeMd5 = Utility::getMD5FromFile(copied);
    const QString other = dir.filePath(QStringLiteral("other.mp3"));
    ASSERT_TRUE(TestSongs::make(other, 32, 3.0));
    const QString otherMd5 =
        *storeTrack(other, QStringLiteral("other.mp3"), QStringLiteral("other"))->checksum;

    EXPECT_EQ(runStage(stage()), 1);
    const AudioPtr left = stored(halfMd5);
    EXPECT_EQ(left->failureReason, QStringLiteral("the file changed while it was being sent"));
    EXPECT_EQ(left->downloadable, false);
    EXPECT_NE(left->uploaded, true);
    EXPECT_EQ(stored(otherMd5)->downloadable, true);
    EXPECT_EQ(cloud.query(QStringLiteral("SELECT md5 FROM files")), QStringList{otherMd5});
    EXPECT_EQ(cloud.query(QStringLiteral("SELECT count(*) FROM user_media")), QStringList{"1"});
    EXPECT_EQ(Sonarbox::instance().syncProgress().state().tracksFailed, 1);

    // What the next scan does with a stored path whose file changed.
    left->checksum = wholeMd5;
    GenericDAO::instance().save(left);
    EXPECT_EQ(runStage(stage()), 1);
    QStringList files = cloud.query(QStringLiteral("SELECT md5 FROM files"));
    files.sort();
    QStringList expected{otherMd5, wholeMd5};
    expected.sort();
    EXPECT_EQ(files, expected);
    EXPECT_EQ(stored(wholeMd5)->downloadable, true);
    EXPECT_FALSE(stored(wholeMd5)->failureReason);
}

// A server with a small limit: a file far over it is refused from its declared
// length before the body is read, one just over it once the server has read
// past the limit. Either way the track keeps why, with the file's size and
// the limit the server gave, and the run goes on to the file that fits.
TEST_F(UploadTest, AFileOverTheServersLimitFailsSayingTheSizeAndTheLimit) {
    CloudProcess cloud;
    ASSERT_TRUE(cloud.addUser(QStringLiteral("ada@example.com"), QStringLiteral("s3cret!")));
    ASSERT_TRUE(cloud.start({QStringLiteral("--max-upload-mib"), QStringLiteral("1")}));
    useGateway(cloud.baseUrl());
    const UserPtr user = ada();
    ASSERT_TRUE(Sonarbox::instance().signIn(user).signedIn());
    Sonarbox::instance().setLoggedUser(user);
    struct File {
        const char *name;
        qint64 bytes;
    };
    QStringList checksums;
    for (const File &f : {File{"far over", 3 * 1024 * 1024 + 300 * 1024},
                          File{"just over", 1024 * 1024 + 40 * 1024}, File{"fits", 200 * 1024}}) {
        const QString path = dir.filePath(QLatin1String(f.name) + QStringLiteral(".wav"));
        ASSERT_TRUE(TestSongs::makeSilenceOfSize(path, f.bytes));
        checksums << *storeTrack(path, QLatin1String(f.name) + QStringLiteral(".wav"),
                                 QLatin1String(f.name))
                          ->checksum;
    }

    EXPECT_EQ(runStage(stage()), 1);
    EXPECT_EQ(stored(checksums[0])->failureReason,
              QStringLiteral("the server refused a file of 3.3 MiB: its limit is 1 MiB"));
    EXPECT_EQ(stored(checksums[1])->failureReason,
              QStringLiteral("the server refused a file of 1.1 MiB: its limit is 1 MiB"));
    EXPECT_EQ(stored(checksums[2])->downloadable, true);
    EXPECT_FALSE(stored(checksums[2])->failureReason);
    const SyncProgress::State progress = Sonarbox::instance().syncProgress().state();
    EXPECT_EQ(progress.tracksUploaded, 1);
    EXPECT_EQ(progress.tracksFailed, 2);
    EXPECT_EQ(cloud.query(QStringLiteral("SELECT count(*) FROM files")), QStringList{"1"});
}

// The stage tells the progress model, and nothing else, which track goes up
// and how far it has come: the page and the menu show what the model made
// of the counts.
TEST_F(UploadTest, EachTrackAndTheShareDoneGoToTheProgressModel) {
    const QStringList names{"first.mp3", "second.mp3", "third.mp3"};
    for (const QString &name : names) {
        writeFile(dir.filePath(name), name.toUtf8());
        AudioPtr track = storeTrack(dir.filePath(name), name, name.chopped(4));
        track->artist = QStringLiteral("Artist of %1").arg(name.chopped(4));
        GenericDAO::instance().save(track);
    }
    server->setHandler([](const scripted::Request &r) {
        if (r.target.contains("second"))
            return scripted::Reply::json("{}", 500);
        return mediaId(101);
    });
    SyncProgress &progress = Sonarbox::instance().syncProgress();
    const ShownProgress shown;
    EXPECT_EQ(runStage(stage()), 1);
    EXPECT_EQ(shown.joined(), " /  0% | first / Artist of first 0% | first / Artist of first 33% | "
                              "second / Artist of second 33% | second / Artist of second 66% | "
                              "third / Artist of third 66% | third / Artist of third 100%");
    const SyncProgress::State end = progress.state();
    EXPECT_DOUBLE_EQ(end.fraction, 1.0);
    EXPECT_EQ(std::tuple(end.itemsDone, end.itemsTotal, end.percent), std::tuple(3, 3, 100));
}
