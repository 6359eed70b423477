// Pausing a sync in the middle of an upload to sonarbox-cloud: by the
// person, and by a metered connection. The client reaches the server through
// a slow relay, so that the upload is still on its way when the pause comes,
// and so that every byte sent to the server after it is counted.
#include "TransferFixture.h"

#include "CloudProcess.h"
#include "TestSongs.h"
#include "engine/SyncEngine.h"
#include "settings/MeteredSource.h"
#include "settings/Utility.h"

#include <QDirIterator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

// Passes each connection on to the server, the client's bytes at a limited
// rate (the server's answers at full speed), and counts what it passed on.
class SlowRelay : public QObject {
public:
    SlowRelay(quint16 target, qint64 bytesPerSecond)
        : m_target(target)
        , m_bytesPerTick(bytesPerSecond / 100) {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *client = m_server.nextPendingConnection())
                relay(client);
        });
        m_tick.setInterval(10);
        connect(&m_tick, &QTimer::timeout, this, &SlowRelay::pump);
        m_tick.start();
    }
    quint16 port() const { return m_server.serverPort(); }
    qint64 bytesToServer() const { return m_sent; }
    int connections() const { return m_connections; }

private:
    void relay(QTcpSocket *client) {
        ++m_connections;
        // Little is taken in ahead, so the client's upload waits on the relay.
        client->setReadBufferSize(64 * 1024);
        auto *server = new QTcpSocket(client);
        server->connectToHost(QHostAddress::LocalHost, m_target);
        connect(server, &QTcpSocket::readyRead, client,
                [client, server] { client->write(server->readAll()); });
        connect(server, &QTcpSocket::disconnected, client,
                [client] { client->disconnectFromHost(); });
        // A client that goes away cuts its request off at once.
        connect(client, &QTcpSocket::disconnected, server, [server] { server->abort(); });
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        m_pairs.append(Pair{client, server});
    }
    void pump() {
        qint64 budget = m_bytesPerTick;
        m_pairs.removeIf([](const Pair &p) { return !p.client || !p.server; });
        for (const Pair &p : std::as_const(m_pairs)) {
            if (budget <= 0)
                break;
            if (p.client->state() != QAbstractSocket::ConnectedState ||
                p.server->state() != QAbstractSocket::ConnectedState)
                continue;
            const QByteArray chunk = p.client->read(budget);
            p.server->write(chunk);
            m_sent += chunk.size();
            budget -= chunk.size();
        }
    }

    struct Pair {
        QPointer<QTcpSocket> client;
        QPointer<QTcpSocket> server;
    };
    QTcpServer m_server;
    QTimer m_tick;
    QList<Pair> m_pairs;
    const quint16 m_target;
    const qint64 m_bytesPerTick;
    qint64 m_sent = 0;
    int m_connections = 0;
};

constexpr qint64 kSongBytes = 6 * 1024 * 1024;

class PauseUploadTest : public TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        ASSERT_TRUE(cloud.addUser(QStringLiteral("ada@example.com"), QStringLiteral("s3cret!")));
        ASSERT_TRUE(cloud.start());
        relay = std::make_unique<SlowRelay>(cloud.port(), 1536 * 1024);
        useGateway(QStringLiteral("http://127.0.0.1:%1").arg(relay->port()));
        Sonarbox &s = Sonarbox::instance();
        ASSERT_TRUE(Sonarbox::instance().signIn(ada()).signedIn());
        s.setLoggedUser(ada());
        // Folders of its own, none of them: the sync's scan finds nothing.
        s.setUserPickedMediaLibrary(LibraryChoice::ChosenFolders);
        s.setUserMediaFoldersToScan({});
        s.setDidUserPickLibrary(true);
        s.setResumeAfterNetworkLoss(false, 100);

        song = dir.filePath(QStringLiteral("long song.mp3"));
        ASSERT_TRUE(TestSongs::makeSilenceOfSize(song, kSongBytes));
        auto track = std::make_shared<Audio>();
        track->fileURL = song;
        track->name = QStringLiteral("long song.mp3");
        track->songName = QStringLiteral("Long Song");
        track->fileExtension = QStringLiteral("mp3");
        track->checksum = Utility::getMD5FromFile(song);
        track->userMediaID = QStringLiteral("-1");
        track->downloadable = false;
        GenericDAO::instance().save(track);
        checksum = *track->checksum;

        engine = std::make_unique<SyncEngine>();
        engine->install(s);
    }
    void TearDown() override {
        Sonarbox &s = Sonarbox::instance();
        s.stopSyncAction();
        engine.reset();
        s.syncPause().setMeteredSource(nullptr);
        TransferTest::TearDown();
    }

    // Starts a sync and waits until part of the song, not all of it, has
    // reached the server.
    void syncUntilHalfUploaded() {
        Sonarbox::instance().sync(false);
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return partBytes() > 256 * 1024; }, 60000));
        ASSERT_LT(partBytes(), kSongBytes);
    }

    // The bytes of uploads the server is still receiving.
    qint64 partBytes() const {
        qint64 bytes = 0;
        QDirIterator it(cloud.dataDir() + QStringLiteral("/incoming"), QDir::Files);
        while (it.hasNext())
            bytes += it.nextFileInfo().size();
        return bytes;
    }
    QStringList incomingFiles() const {
        return QDir(cloud.dataDir() + QStringLiteral("/incoming")).entryList(QDir::Files);
    }
    QString serverFiles() const {
        return cloud
            .query(QStringLiteral("SELECT count(*) FROM files WHERE md5 = '%1'").arg(checksum))
            .join(',');
    }

    // Nothing half-done on either side: the server dropped the part it had,
    // the track is still waiting for its upload.
    void expectNothingPartial() {
        EXPECT_TRUE(TestEnvironment::waitUntil([&] { return incomingFiles().isEmpty(); }, 10000))
            << incomingFiles().join(' ').toStdString();
        EXPECT_EQ(serverFiles(), QStringLiteral("0"));
        const AudioPtr stored =
            GenericDAO::instance().getById(QStringLiteral("audioByCode"), checksum);
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->downloadable, std::optional<bool>(false));
        EXPECT_EQ(stored->userMediaID, std::optional<QString>(QStringLiteral("-1")));
    }

    // Every way a sync starts by itself or by hand, then time for any of them
    // to reach the server: nothing does.
    void expectNothingSent() {
        Sonarbox &s = Sonarbox::instance();
        const qint64 sent = relay->bytesToServer();
        const int connections = relay->connections();
        // Each given its time, so that none is hidden by the next one's stop.
        for (const auto &start : std::vector<std::function<void()>>{
                 [&] { s.syncAction(); }, [&] { s.executeTimedSync(); },
                 [&] {
                     s.reachabilityChanged(false);
                     s.reachabilityChanged(true);
                 }}) {
            start();
            TestEnvironment::waitUntil([] { return false; }, 500);
            EXPECT_FALSE(s.syncInProgress);
        }
        EXPECT_EQ(relay->bytesToServer(), sent);
        EXPECT_EQ(relay->connections(), connections);
    }

    // The sync that the resume starts uploads the whole song.
    void expectResumedSyncUploads() {
        Sonarbox &s = Sonarbox::instance();
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return s.syncInProgress.load(); }, 10000));
        ASSERT_TRUE(TestEnvironment::waitUntil([&] { return !s.syncInProgress; }, 60000));
        EXPECT_EQ(s.progressPage().state().description, QStringLiteral("Sync Completed"));
        EXPECT_EQ(serverFiles(), QStringLiteral("1"));
        const AudioPtr stored =
            GenericDAO::instance().getById(QStringLiteral("audioByCode"), checksum);
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->downloadable, std::optional<bool>(true));
    }

    CloudProcess cloud;
    std::unique_ptr<SlowRelay> relay;
    std::unique_ptr<SyncEngine> engine;
    QString song;
    QString checksum;
};

} // namespace

TEST_F(PauseUploadTest, APauseEndsTheUploadAndNothingReachesTheServerUntilResume) {
    Sonarbox &s = Sonarbox::instance();
    syncUntilHalfUploaded();

    s.syncPause().setPausedByUser(true);
    EXPECT_FALSE(s.syncInProgress);
    EXPECT_EQ(s.progressPage().state().description, QStringLiteral("Sync stopped: Paused"));
    expectNothingPartial();
    expectNothingSent();

    s.syncPause().setPausedByUser(false);
    expectResumedSyncUploads();
}

TEST_F(PauseUploadTest, AMeteredConnectionPausesTheUploadUntilItIsNoLongerMetered) {
    Sonarbox &s = Sonarbox::instance();
    auto metered = std::make_shared<SettableMeteredSource>();
    s.syncPause().setMeteredSource(metered);
    syncUntilHalfUploaded();

    metered->setMetered(true);
    EXPECT_FALSE(s.syncInProgress);
    EXPECT_EQ(s.progressPage().state().description,
              QStringLiteral("Sync stopped: Paused: metered connection"));
    expectNothingPartial();
    expectNothingSent();

    metered->setMetered(false);
    expectResumedSyncUploads();
}
