#include "GatewayFixture.h"

#include "service/CommonRequest.h"
#include "service/RequestGate.h"

using scripted::Reply;
using scripted::Request;

namespace {

class RequestGateTest : public GatewayFixture {
protected:
    RunContext preview() const {
        RunContext context;
        context.dryRun = true;
        return context;
    }
};

TEST_F(RequestGateTest, ADryRunSendsOnlySignInAndTheListing) {
    server->setHandler([](const Request &) { return Reply::json(R"({"responseStatus":"OK"})"); });
    for (const char *reading : {"userLoginProcess", "getTokenProcess", "getUserContentProcess"}) {
        SCOPED_TRACE(reading);
        CommonRequest request(client);
        EXPECT_TRUE(request.connect(preview(), QByteArray("{}"), QString::fromLatin1(reading)));
    }
    EXPECT_EQ(server->requests().size(), 3);

    server->clearRequests();
    // Among them a name nobody has declared yet: held back until someone has
    // said it only reads.
    for (const char *changing :
         {"createUserMediaFromCatalog", "sendStatusProcess", "setUserGNHandle",
          "createMediaProcess", "userLogOutProcess", "signUpUserProcess", "someFutureProcess"}) {
        SCOPED_TRACE(changing);
        CommonRequest request(client);
        EXPECT_FALSE(request.connect(preview(), QByteArray("{}"), QString::fromLatin1(changing)));
        EXPECT_TRUE(request.error());
    }
    EXPECT_TRUE(server->requests().isEmpty());
    // The transfers ask the gate under their own names.
    EXPECT_FALSE(RequestGate::allows(preview(), QStringLiteral("upload")));
    EXPECT_FALSE(RequestGate::allows(preview(), QStringLiteral("download")));
}

} // namespace
