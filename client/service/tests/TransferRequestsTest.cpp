// The upload and download requests as the service reads them: addresses,
// session, credentials, and what an upload's reply names.
#include "GatewayFixture.h"

#include "service/TransferRequests.h"

namespace {

class TransferRequestsTest : public GatewayFixture {
protected:
    static RunContext context(const UserPtr &account) {
        return {account, QStringLiteral("JSESSIONID=abc123; Path=/Vexmusic"),
                QStringLiteral("DEVICE-1")};
    }
    static UserPtr account(const QString &password, const QString &token) {
        auto user = std::make_shared<User>();
        user->username = QStringLiteral("ada@example.com");
        if (!password.isEmpty())
            user->password = password;
        if (!token.isEmpty())
            user->facebookToken = token;
        return user;
    }
};

} // namespace

TEST_F(TransferRequestsTest, AnUploadNamesItsFileInTheQueryAndCarriesTheSession) {
    Audio track;
    track.name = QStringLiteral("a#b c+d%.mp3");
    track.checksum = QStringLiteral("00ff");
    EXPECT_EQ(TransferRequests::uploadFileName(track), QStringLiteral("a%23b%20c%2Bd%25.mp3"));
    track.songName = QStringLiteral("Tom & Jerry?/x");
    track.fileExtension = QStringLiteral("ogg");
    EXPECT_EQ(TransferRequests::uploadFileName(track), QStringLiteral("Tom%20&%20Jerry?/x.ogg"));
    EXPECT_EQ(TransferRequests::uploadFileName(Audio{}), QStringLiteral("Unknown-"));

    const QByteArray address = TransferRequests::uploadAddress(client, track);
    EXPECT_EQ(address,
              server->baseUrl().toUtf8() +
                  "/Vexmusic/controllers/DesktopUploadMedia?fileName=Tom%20&%20Jerry?/x.ogg");
    const QNetworkRequest upload =
        TransferRequests::upload(client, address, context(nullptr), "BOUNDARY", 1234, 1000, 5000);
    EXPECT_EQ(upload.url().toEncoded(), address) << "sent exactly as built";
    EXPECT_EQ(upload.rawHeader("Content-Type"), "multipart/form-data; boundary=BOUNDARY");
    EXPECT_EQ(upload.rawHeader("Cookie"), "JSESSIONID=abc123; Path=/Vexmusic");
    EXPECT_EQ(upload.rawHeader("mobileUpload"), "true");
    EXPECT_EQ(upload.header(QNetworkRequest::ContentLengthHeader).toLongLong(), 1234);
    EXPECT_EQ(upload.rawHeader("X-File-Size"), "1000");
    EXPECT_EQ(upload.attribute(QNetworkRequest::RedirectPolicyAttribute).toInt(),
              int(QNetworkRequest::ManualRedirectPolicy));
    EXPECT_EQ(upload.transferTimeout(), 5000);

    const QNetworkRequest check =
        TransferRequests::uploadSizeCheck(client, context(nullptr), 99, 700);
    EXPECT_EQ(check.url().toEncoded(),
              server->baseUrl().toUtf8() + "/Vexmusic/controllers/DesktopUploadMedia?fileSize=99");
    EXPECT_EQ(check.rawHeader("Cookie"), "JSESSIONID=abc123; Path=/Vexmusic");
}

TEST_F(TransferRequestsTest, ADownloadCarriesThePasswordOrElseTheToken) {
    const QUrl address =
        TransferRequests::downloadAddress(client, context(nullptr), QStringLiteral("id 7/8"));
    EXPECT_EQ(address.toEncoded(),
              server->baseUrl().toUtf8() +
                  "/Vexmusic/rest/downloadController/redirectToCdnDownload/id%207%2F8/"
                  "?jsessionId=abc123");

    TransferRequests::Credentials sent{};
    QNetworkRequest request = TransferRequests::download(
        client, address, context(account(QStringLiteral("pw"), QStringLiteral("tok"))), true, 900,
        &sent);
    EXPECT_EQ(sent, TransferRequests::Credentials::Password);
    EXPECT_EQ(request.rawHeader("USERNAME"), "ada@example.com");
    EXPECT_EQ(request.rawHeader("PASSWORD"), "pw");
    EXPECT_FALSE(request.hasRawHeader("FACEBOOK_TOKEN"));

    request = TransferRequests::download(
        client, address, context(account({}, QStringLiteral("tok"))), true, 900, &sent);
    EXPECT_EQ(sent, TransferRequests::Credentials::FacebookToken);
    EXPECT_EQ(request.rawHeader("FACEBOOK_TOKEN"), "tok");
    EXPECT_FALSE(request.hasRawHeader("PASSWORD"));

    // A redirect's target gets nothing of the account.
    request =
        TransferRequests::download(client, QUrl(QStringLiteral("https://cdn.example/f")),
                                   context(account(QStringLiteral("pw"), {})), false, 900, &sent);
    EXPECT_EQ(sent, TransferRequests::Credentials::None);
    EXPECT_TRUE(request.rawHeaderList().isEmpty());
    EXPECT_EQ(request.attribute(QNetworkRequest::RedirectPolicyAttribute).toInt(),
              int(QNetworkRequest::ManualRedirectPolicy));
}

TEST_F(TransferRequestsTest, AnUploadsReplyNamesItsMediaOrSaysWhyNot) {
    TransferRequests::UploadReply reply =
        TransferRequests::readUploadReply(R"({"purchasedContent":[{"id":42},{"id":43}]})");
    EXPECT_TRUE(reply.parsed);
    EXPECT_EQ(reply.mediaID, QStringLiteral("42"));

    reply = TransferRequests::readUploadReply(R"({"purchasedContent":[]})");
    EXPECT_TRUE(reply.parsed);
    EXPECT_FALSE(reply.mediaID);

    reply = TransferRequests::readUploadReply("<html>busy</html>");
    EXPECT_FALSE(reply.parsed);
    EXPECT_FALSE(reply.parseError.isEmpty());
}
