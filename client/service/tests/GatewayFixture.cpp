#include "GatewayFixture.h"

#include "TestEnvironment.h"
#include "settings/DeploymentConfig.h"
#include "settings/NetworkState.h"

#include <QFile>
#include <QtConcurrent/QtConcurrentRun>

scripted::Server::Handler withTokens(scripted::Server::Handler rest,
                                     std::shared_ptr<std::atomic<int>> issued) {
    if (!issued)
        issued = std::make_shared<std::atomic<int>>(0);
    return [rest = std::move(rest), issued](const scripted::Request &request) {
        if (request.body.contains("\"getToken\""))
            return scripted::Reply::json("\"token-" + QByteArray::number(++*issued) + "\"");
        return rest ? rest(request) : scripted::Reply::json("{}", 404);
    };
}

void GatewayFixture::SetUp() {
    NetworkState::offline() = false;
    client = ServiceClient();
    client.setTimeout(5000);
    server = std::make_unique<scripted::Server>();
    useGateway(server->baseUrl());
}

void GatewayFixture::TearDown() {
    server.reset();
    DeploymentConfig::resetToDefault();
    NetworkState::offline() = false;
}

void GatewayFixture::useGateway(const QString &baseUrl, const QString &caFile) {
    // A new file each time: the settings reader caches files by path.
    static int generation = 0;
    const QString path = configDir.filePath(QStringLiteral("sonarbox-%1.ini").arg(++generation));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[service]\ngatewayBaseUrl=" + baseUrl.toUtf8() +
               "\nwebSiteUrl=" + baseUrl.toUtf8() + "\ncaFile=" + caFile.toUtf8() +
               "\n[recognition]\nclientId=1000001\nclientTag=0123456789ABCDEF0123456789ABCDEF\n"
               "[facebook]\nappId=100000000000001\n");
    file.close();
    ASSERT_TRUE(DeploymentConfig::load(path));
}

QList<scripted::Request> GatewayFixture::serviceRequests() const {
    QList<scripted::Request> result;
    for (const scripted::Request &request : server->requests()) {
        if (!request.body.contains("\"getToken\""))
            result << request;
    }
    return result;
}

bool runInBackground(const std::function<void()> &work, int ms) {
    QFuture<void> future = QtConcurrent::run(work);
    const bool done = TestEnvironment::waitUntil([&] { return future.isFinished(); }, ms);
    if (!done)
        future.waitForFinished();
    return done;
}
