#include "GatewayFixture.h"

#include "TestEnvironment.h"
#include "service/CommonRequest.h"
#include "service/ServiceClient.h"
#include "settings/DeploymentConfig.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

using scripted::Reply;
using scripted::Request;

namespace {

const QByteArray kSuccess = R"({"responseStatus":"SUCCESS"})";

class ServiceClientTest : public GatewayFixture {
protected:
    // A configuration of the gateway at `baseUrl`, as a deployment file makes
    // it (it becomes the process's current one too).
    DeploymentConfig configFor(const QString &baseUrl) {
        useGateway(baseUrl);
        return DeploymentConfig::current();
    }
    void pointTheProcessNowhere() {
        useGateway(QStringLiteral("http://127.0.0.1:%1").arg(scripted::closedPort()));
    }

    struct Outcome {
        std::optional<QByteArray> reply;
        bool error = true;
        qint64 elapsedMs = 0;
    };
    static Outcome statusReport(const ServiceClient &through) {
        QElapsedTimer clock;
        clock.start();
        CommonRequest request(through);
        Outcome outcome;
        outcome.reply = request.connect({}, QByteArray("{}"), QStringLiteral("sendStatusProcess"));
        outcome.error = request.error();
        outcome.elapsedMs = clock.elapsed();
        return outcome;
    }
};

} // namespace

TEST_F(ServiceClientTest, TwoClientsSideBySideKeepTheirOwnGatewayAndTimeOut) {
    server->setHandler([](const Request &) {
        Reply reply;
        reply.mode = Reply::Mode::NeverAnswer;
        return reply;
    });
    // Answers, but only after longer than the other client waits.
    scripted::Server slow([](const Request &) {
        QThread::msleep(800);
        return Reply::json(kSuccess);
    });
    ServiceClient impatient(configFor(server->baseUrl()));
    impatient.setTimeout(300);
    ServiceClient patient(configFor(slow.baseUrl()));
    patient.setTimeout(5000);
    // Neither follows what the process loads later.
    pointTheProcessNowhere();

    QFuture<Outcome> stalled = QtConcurrent::run([&] { return statusReport(impatient); });
    QFuture<Outcome> answered = QtConcurrent::run([&] { return statusReport(patient); });
    EXPECT_TRUE(TestEnvironment::waitUntil(
        [&] { return stalled.isFinished() && answered.isFinished(); }, 10000));
    // The clients must outlive the requests, however long those take.
    stalled.waitForFinished();
    answered.waitForFinished();

    EXPECT_TRUE(stalled.result().error);
    EXPECT_FALSE(stalled.result().reply);
    EXPECT_GE(stalled.result().elapsedMs, 250);
    EXPECT_LT(stalled.result().elapsedMs, 3000) << "gave up after its own time-out";
    EXPECT_FALSE(answered.result().error);
    EXPECT_EQ(answered.result().reply, kSuccess);
    ASSERT_EQ(server->requests().size(), 1);
    ASSERT_EQ(slow.requests().size(), 1);
    EXPECT_EQ(slow.requests().first().target, "/Vexmusic/userJson");
}

TEST_F(ServiceClientTest, ReplyLimitsBelongToEachClientAndItsCopies) {
    const QByteArray large = "[\"" + QByteArray(100 * 1024, 'x') + "\"]";
    server->setHandler([&](const Request &) { return Reply::json(large); });
    ServiceClient strict(configFor(server->baseUrl()));
    strict.setTimeout(5000);
    strict.setMaximumReplySize(64 * 1024);
    ServiceClient lenient(strict);
    lenient.setMaximumReplySize(ServiceClient::DefaultMaximumReplySize);
    pointTheProcessNowhere();

    // Each call answers on the pool so that the main thread keeps serving.
    Outcome fromStrict, fromLenient;
    ASSERT_TRUE(runInBackground([&] {
        fromStrict = statusReport(strict);
        fromLenient = statusReport(lenient);
    }));
    EXPECT_TRUE(fromStrict.error);
    EXPECT_FALSE(fromLenient.error);
    EXPECT_EQ(fromLenient.reply, large);
    EXPECT_EQ(strict.maximumReplySize(), 64 * 1024);
    EXPECT_EQ(server->requests().size(), 2) << "the copy kept the original's gateway";
}

TEST_F(ServiceClientTest, AShorterTimeOutForOneRequestLeavesTheClientAlone) {
    server->setHandler([](const Request &) {
        QThread::msleep(800);
        return Reply::json(kSuccess);
    });
    ServiceClient engine;
    engine.setTimeout(5000);
    const ServiceClient once = engine.withTimeout(300);
    EXPECT_EQ(once.timeout(), 300);
    EXPECT_EQ(engine.timeout(), 5000);

    Outcome hurried, unhurried;
    ASSERT_TRUE(runInBackground([&] {
        hurried = statusReport(once);
        unhurried = statusReport(engine);
    }));
    EXPECT_TRUE(hurried.error);
    EXPECT_FALSE(unhurried.error);
    EXPECT_EQ(unhurried.reply, kSuccess);
}

TEST_F(ServiceClientTest, WithoutAConfigurationOfItsOwnTheClientFollowsTheProcesss) {
    ServiceClient following;
    const ServiceClient fixed(DeploymentConfig::current());
    const QString first = server->baseUrl();
    EXPECT_EQ(following.gatewayBaseUrl(), first);

    scripted::Server other([](const Request &) { return Reply::json(kSuccess); });
    useGateway(other.baseUrl());
    EXPECT_EQ(following.gatewayBaseUrl(), other.baseUrl());
    EXPECT_EQ(following.withTimeout(1).gatewayBaseUrl(), other.baseUrl());
    EXPECT_EQ(fixed.gatewayBaseUrl(), first);
}
