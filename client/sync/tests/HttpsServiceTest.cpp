// The client against sonarbox-cloud serving HTTPS with a self-signed
// certificate made for the test: trusted only through the deployment's
// caFile, and then by every path (sign-in, upload, download, usage events).
#include "TransferFixture.h"

#include "CloudProcess.h"
#include "TestCertificate.h"
#include "TestSongs.h"
#include "engine/Sonarbox.h"
#include "settings/AnalyticsHelper.h"
#include "settings/DeploymentConfig.h"
#include "settings/Utility.h"
#include "sync/DownloadSongsFromCloud.h"
#include "sync/UploadFilesToCloud.h"
#include "sync/iTunesModifier.h"

namespace {

class HttpsServiceTest : public TransferTest {
protected:
    // Signs in with a fresh session and answers whether the service accepted.
    bool signIn() {
        Sonarbox::instance().setJSessionID(std::nullopt);
        Sonarbox::instance().setSyncStatus(QString());
        return Sonarbox::instance().signIn(ada()).signedIn();
    }
};

} // namespace

TEST_F(HttpsServiceTest, OnlyTheConfiguredCertificateIsTrustedAndEveryPathUsesIt) {
    const auto server = TestCertificate::make(dir.path(), QStringLiteral("server"));
    const auto stranger = TestCertificate::make(dir.path(), QStringLiteral("stranger"));
    ASSERT_TRUE(server && stranger);
    CloudProcess cloud;
    cloud.useTls(server->certificateFile, server->keyFile);
    ASSERT_TRUE(cloud.addUser(QStringLiteral("ada@example.com"), QStringLiteral("s3cret!")));
    ASSERT_TRUE(cloud.start());
    ASSERT_TRUE(cloud.baseUrl().startsWith(QStringLiteral("https://127.0.0.1:")));

    // With the system's CAs alone, and with another self-signed certificate,
    // the sign-in fails as a failure, and the log says why.
    for (const QString &caFile : {QString(), stranger->certificateFile}) {
        SCOPED_TRACE(caFile.toStdString());
        useGateway(cloud.baseUrl(), caFile);
        EXPECT_TRUE(DeploymentConfig::current().warnings().isEmpty());
        LogCapture log;
        EXPECT_FALSE(signIn());
        EXPECT_NE(Sonarbox::instance().syncStatus(), QStringLiteral("SUCCESS"));
        EXPECT_FALSE(Sonarbox::instance().jSessionID());
        EXPECT_TRUE(log.contains(QStringLiteral("SSL handshake failed")))
            << log.lines().join('\n').toStdString();
        EXPECT_FALSE(log.contains(QStringLiteral("s3cret!")));
    }

    // Trusting the server's certificate: the real sign-in...
    useGateway(cloud.baseUrl(), server->certificateFile);
    ASSERT_TRUE(signIn());
    EXPECT_EQ(Sonarbox::instance().syncStatus(), QStringLiteral("SUCCESS"));
    ASSERT_TRUE(Sonarbox::instance().jSessionID());
    const UserPtr user = ada();
    Sonarbox::instance().setLoggedUser(user);

    // ...an upload...
    const QString mine = dir.filePath(QStringLiteral("mine.mp3"));
    ASSERT_TRUE(TestSongs::make(mine, 3, 2.0, {QStringLiteral("Mine"), {}, {}}));
    auto track = std::make_shared<Audio>();
    track->fileURL = mine;
    track->name = QStringLiteral("mine.mp3");
    track->songName = QStringLiteral("Mine");
    track->fileExtension = QStringLiteral("mp3");
    track->checksum = Utility::getMD5FromFile(mine);
    track->userMediaID = QStringLiteral("-1");
    track->downloadable = false;
    GenericDAO::instance().save(track);
    UploadFilesToCloud uploader{Sonarbox::instance()};
    EXPECT_EQ(runStage([&](std::function<void()> done) {
                  uploader.uploadUnSyncedFiles(Sonarbox::instance().newRun(), done);
              }),
              1);
    EXPECT_EQ(cloud.query(QStringLiteral("SELECT md5 FROM files")).join(' ').toStdString(),
              track->checksum->toStdString());

    // ...and a download of a song another installation put there.
    const QString theirs = dir.filePath(QStringLiteral("elsewhere/theirs.mp3"));
    ASSERT_TRUE(TestSongs::make(theirs, 4, 2.0));
    ASSERT_TRUE(cloud.uploadAsAnotherDevice("ada@example.com", "s3cret!", theirs));
    iTunesModifier noLibrary{nullptr};
    DownloadSongsFromCloud downloader{Sonarbox::instance(), &noLibrary};
    EXPECT_EQ(runStage([&](std::function<void()> done) {
                  downloader.syncCloudMediaWithLocal(Sonarbox::instance().newRun(), done);
              }),
              1);
    const QString downloads = Sonarbox::instance().userDownloadDirectory();
    EXPECT_EQ(QDir(downloads).entryList(QDir::Files).join(' ').toStdString(), "theirs.mp3");
    EXPECT_TRUE(readFile(downloads + QStringLiteral("/theirs.mp3")) == readFile(theirs));

    // ...and a usage event to the collector on the same server.
    AnalyticsHelper analytics;
    analytics.setAnalyticsAccountCode(QStringLiteral("UA-00000000-1"));
    analytics.setClientId(QStringLiteral("tls-client"));
    analytics.setCollectorUrl(QUrl(cloud.baseUrl() + QStringLiteral("/collect")));
    std::atomic<int> delivered{-1};
    ASSERT_TRUE(analytics.fireEvent(QStringLiteral("tls"), QStringLiteral("test"), QString(), 1,
                                    true, [&](bool sent) { delivered = sent ? 1 : 0; }));
    EXPECT_TRUE(analytics.flush(10000));
    EXPECT_EQ(delivered, 1);
}
