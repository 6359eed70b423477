// The cloud library listing as one service call: what it sends for a
// context, and what it answers for each kind of reply.
#include "GatewayFixture.h"

#include "service/LibraryListing.h"

using scripted::Reply;
using scripted::Request;

namespace {

class LibraryListingTest : public GatewayFixture {
protected:
    static RunContext context(const QString &session) {
        auto account = std::make_shared<User>();
        account->username = QStringLiteral("ada@example.com");
        return {account, session, QStringLiteral("DEVICE-1")};
    }
    void answer(const QByteArray &body) {
        server->setHandler([body](const Request &) { return Reply::json(body); });
    }
};

} // namespace

TEST_F(LibraryListingTest, AListingIsFetchedWithTheContextsSessionFromAPosition) {
    answer(R"({"responseStatus":"OK","milliseconds":120,"updatedUserMedias":[
        {"mediaType":"AUDIO","deleted":0,"name":"a.mp3","id":5,"downloadable":1},
        {"mediaType":"AUDIO","deleted":0,"name":"b.mp3","id":6,"downloadable":0}]})");
    const LibraryListing::Result result =
        LibraryListing::fetch(client, context(QStringLiteral("JSESSIONID=run")), 99);

    ASSERT_TRUE(result.listing);
    EXPECT_EQ(result.listing->milliseconds, 120);
    ASSERT_EQ(result.listing->tracks.size(), 2);
    EXPECT_EQ(result.listing->tracks[0]->userMediaID, QStringLiteral("5"));
    EXPECT_EQ(result.listing->tracks[1]->userMediaID, QStringLiteral("6"));
    EXPECT_EQ(result.status, QStringLiteral("OK"));
    EXPECT_FALSE(result.refused);
    EXPECT_TRUE(result.whyNot.isEmpty());

    const QList<Request> requests = serviceRequests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].target, "/Vexmusic/rest/medias/sync");
    EXPECT_EQ(requests[0].body, R"({"milliseconds":99,"version":"1.0"})");
    EXPECT_EQ(requests[0].header("Cookie"), "JSESSIONID=run");
}

TEST_F(LibraryListingTest, EveryFailureSaysWhyAndOnlyARefusalLosesTheSession) {
    answer(R"({"responseStatus":"FAILED","updatedUserMedias":[]})");
    LibraryListing::Result result = LibraryListing::fetch(client, context(QStringLiteral("s")), 0);
    EXPECT_FALSE(result.listing);
    EXPECT_TRUE(result.refused);
    EXPECT_EQ(result.status, QStringLiteral("FAILED"));
    EXPECT_EQ(result.whyNot,
              QStringLiteral("Missing login session, please logout and log back in."));

    answer(R"({"responseStatus":""})");
    result = LibraryListing::fetch(client, context(QStringLiteral("s")), 0);
    EXPECT_FALSE(result.listing);
    EXPECT_FALSE(result.refused);
    EXPECT_TRUE(result.status) << "a reply came: its status replaces the session's";
    EXPECT_EQ(result.whyNot,
              QStringLiteral("the service answered the cloud library listing without a status"));

    useGateway(QStringLiteral("http://127.0.0.1:%1").arg(scripted::closedPort()));
    result = LibraryListing::fetch(client, context(QStringLiteral("s")), 0);
    EXPECT_FALSE(result.listing);
    EXPECT_FALSE(result.refused);
    EXPECT_FALSE(result.status) << "no reply, no status to keep";
    EXPECT_TRUE(result.whyNot.startsWith(QStringLiteral("the cloud library could not be fetched")))
        << result.whyNot.toStdString();
}
