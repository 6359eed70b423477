#pragma once

#include "LogCapture.h"
#include "ScriptedServer.h"
#include "service/ServiceClient.h"

#include <QMutex>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

// Answers token requests with "token-1", "token-2", ... (a JSON string
// literal) and hands every other request to `rest`.
scripted::Server::Handler withTokens(scripted::Server::Handler rest,
                                     std::shared_ptr<std::atomic<int>> issued = {});

// A scripted gateway on 127.0.0.1, a deployment configuration pointing at
// it, a client of the service that follows that configuration (its limits as
// at start, the time-out shorter), and the offline flag as at start.
// The service layer's tests use it as it is; the layers above add a fresh
// coordinator (ServiceFixture).
class GatewayFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Points the client at another gateway address (trusting the CA
    // certificates of `caFile` when one is named).
    void useGateway(const QString &baseUrl, const QString &caFile = QString());
    // Requests that reached the server, minus token requests.
    QList<scripted::Request> serviceRequests() const;

    std::unique_ptr<scripted::Server> server;
    QTemporaryDir configDir;
    ServiceClient client;
};

// Runs `work` on the background pool while the main thread keeps processing
// events; answers whether it finished within `ms`.
bool runInBackground(const std::function<void()> &work, int ms = 10000);
