#include "settings/Reachability.h"
#include "service/CommonRequest.h"
#include "settings/DeploymentConfig.h"
#include "settings/NotificationCenter.h"

#include "TestEnvironment.h"
#include <QCoreApplication>

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <mutex>

namespace {

// A listener on 127.0.0.1 that the test closes and opens again on the same port.
struct Listener {
    QTcpServer server;
    quint16 port = 0;
    bool open() {
        if (!server.listen(QHostAddress::LocalHost, port))
            return false;
        port = server.serverPort();
        return true;
    }
    void close() { server.close(); }
};

// Stops a started monitor however the test ends: its blocks hold references
// to the test's locals.
struct StopOnExit {
    Reachability::Ptr monitor;
    ~StopOnExit() {
        if (monitor)
            monitor->stopNotifier();
    }
};

// What the change notification reported, as the main thread saw it.
struct Seen {
    QObject *object;
    bool reachable;
    bool onMainThread;
};

class ReachabilityTest : public ::testing::Test {
protected:
    void SetUp() override {
        Reachability::setProbeInterval(150);
        Reachability::setProbeTimeout(1000);
        ASSERT_TRUE(listener.open());
        token = NotificationCenter::defaultCenter().addObserver(
            "kReachabilityChangedNotification", [this](QObject *object) {
                auto *monitor = qobject_cast<Reachability *>(object);
                seen.push_back({object, monitor && monitor->isReachable(),
                                QThread::currentThread() == qApp->thread()});
            });
    }
    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(token);
        Reachability::setProbeInterval(5000);
        Reachability::setProbeTimeout(2000);
    }
    bool seenState(bool reachable, size_t from = 0) {
        return TestEnvironment::waitUntil([&] {
            for (size_t i = from; i < seen.size(); ++i)
                if (seen[i].reachable == reachable)
                    return true;
            return false;
        });
    }

    Listener listener;
    std::vector<Seen> seen;
    int token = 0;
};

TEST_F(ReachabilityTest, FollowsAListenerThatClosesAndOpensAgain) {
    Reachability::Ptr monitor = Reachability::reachabilityWithHostname("127.0.0.1", listener.port);
    ASSERT_TRUE(monitor);
    std::mutex lock;
    QList<QThread *> blockThreads;
    QStringList blocks;
    monitor->setReachableBlock([&](Reachability *) {
        std::lock_guard g(lock);
        blocks << "up";
        blockThreads << QThread::currentThread();
    });
    monitor->setUnreachableBlock([&](Reachability *) {
        std::lock_guard g(lock);
        blocks << "down";
        blockThreads << QThread::currentThread();
    });
    EXPECT_FALSE(monitor->isReachable()); // nothing read yet
    StopOnExit stop{monitor};
    ASSERT_TRUE(monitor->startNotifier());

    ASSERT_TRUE(seenState(true));
    EXPECT_EQ(monitor->currentReachabilityStatus(), Reachability::ReachableViaWiFi);
    EXPECT_EQ(monitor->currentReachabilityString(), "WiFi");
    EXPECT_EQ(monitor->currentReachabilityFlags(), "XR -------");

    listener.close();
    const size_t afterUp = seen.size();
    ASSERT_TRUE(seenState(false, afterUp));
    EXPECT_EQ(monitor->currentReachabilityStatus(), Reachability::NotReachable);
    EXPECT_EQ(monitor->currentReachabilityString(), "No Connection");
    EXPECT_EQ(monitor->currentReachabilityFlags(), "X- -------");

    ASSERT_TRUE(listener.open());
    const size_t afterDown = seen.size();
    ASSERT_TRUE(seenState(true, afterDown));
    // Several rounds with no change report nothing more.
    QThread::msleep(500);
    QCoreApplication::processEvents();
    EXPECT_EQ(seen.size(), 3u);
    monitor->stopNotifier();

    for (const Seen &s : seen) {
        EXPECT_EQ(s.object, monitor.get());
        EXPECT_TRUE(s.onMainThread);
    }
    std::lock_guard g(lock);
    EXPECT_EQ(blocks, QStringList({"up", "down", "up"}));
    for (QThread *t : blockThreads) {
        EXPECT_NE(t, qApp->thread());
        EXPECT_EQ(t, blockThreads.first()); // one serial thread
    }
}

TEST_F(ReachabilityTest, StartedMonitorOutlivesItsOwnerUntilStopped) {
    std::weak_ptr<Reachability> weak;
    {
        Reachability::Ptr monitor =
            Reachability::reachabilityWithHostName("127.0.0.1", listener.port);
        ASSERT_TRUE(monitor->startNotifier());
        weak = monitor;
    }
    ASSERT_TRUE(seenState(true));
    listener.close();
    ASSERT_TRUE(seenState(false));
    ASSERT_FALSE(weak.expired());
    EXPECT_EQ(seen.back().object, weak.lock().get());

    weak.lock()->stopNotifier();
    TestEnvironment::waitUntil([&] { return weak.expired(); }, 1000);
    EXPECT_TRUE(weak.expired());
}

TEST_F(ReachabilityTest, FailedRequestMakesRunningMonitorsProbeAtOnce) {
    Reachability::setProbeInterval(60 * 1000);
    QTemporaryDir dir;
    const QString path = dir.filePath("deploy.ini");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("[service]\ngatewayBaseUrl=http://127.0.0.1:%1\n")
                   .arg(listener.port)
                   .toUtf8());
    file.close();
    ASSERT_TRUE(DeploymentConfig::load(path));

    Reachability::Ptr monitor = Reachability::reachabilityWithHostname("127.0.0.1", listener.port);
    StopOnExit stop{monitor};
    ASSERT_TRUE(monitor->startNotifier());
    ASSERT_TRUE(seenState(true));
    listener.close();

    QElapsedTimer clock;
    clock.start();
    CommonRequest request{ServiceClient()};
    request.connect(RunContext{}, QByteArray("{}"), "getTokenProcess");
    EXPECT_TRUE(request.error());
    EXPECT_TRUE(seenState(false));
    EXPECT_LT(clock.elapsed(), 3000);
    monitor->stopNotifier();
    DeploymentConfig::resetToDefault();
}

TEST(ReachabilityFlags, InterpretationAndText) {
    Reachability::Ptr monitor = Reachability::reachabilityWithHostname("127.0.0.1", 1);
    ASSERT_TRUE(monitor);
    EXPECT_FALSE(monitor->isReachableWithFlags(0x2 | 0x1 | 0x4));
    EXPECT_TRUE(monitor->isReachableWithFlags(0x2 | 0x4));
    EXPECT_TRUE(monitor->isReachableWithFlags(0x2 | 0x1));
    EXPECT_FALSE(monitor->isReachableWithFlags(0x1 | 0x4 | 0x8 | 0x20));
    EXPECT_EQ(Reachability::flagsText(0x2), "XR -------");
    EXPECT_EQ(Reachability::flagsText(0x3003f), "XR ctiCDld");
    EXPECT_EQ(Reachability::flagsText(0x10004), "X- c----l-");

    // Never started: the flags are unreadable and every query says no.
    EXPECT_EQ(monitor->reachabilityFlags(), 0u);
    EXPECT_FALSE(monitor->isReachableViaWiFi());
    EXPECT_TRUE(QRegularExpression("^<Reachability: 0x[0-9a-f]+>$")
                    .match(monitor->description())
                    .hasMatch())
        << monitor->description().toStdString();

    EXPECT_FALSE(Reachability::reachabilityWithHostname("", 80));
    EXPECT_FALSE(Reachability::reachabilityWithHostname("127.0.0.1", 0));
}

} // namespace
