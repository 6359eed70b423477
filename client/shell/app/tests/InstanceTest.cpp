// The program `sonarbox` as a desktop runs it: one per user and store, a
// second start showing the first one's window, and a Quit that ends it (no
// tray here: the offscreen platform has none) even while a sign-in waits on
// a service that never answers.
#include "ChildProcess.h"
#include "TestEnvironment.h"
#include "engine/EngineInstance.h"
#include "store/GenericDAO.h"
#include "store/SecretStore.h"
#include "store/StoreSetup.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace {

class Instance : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.isValid());
        // Connections to it complete (the kernel accepts them) but nobody
        // ever reads or answers: a sign-in against it waits.
        ASSERT_TRUE(m_silent.listen(QHostAddress::LocalHost));
        writeConfig(QStringLiteral("http://127.0.0.1:%1").arg(m_silent.serverPort()));
    }

    void writeConfig(const QString &gateway) {
        QFile ini(m_root.filePath(QStringLiteral("sonarbox.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write(QStringLiteral("[service]\ngatewayBaseUrl=%1\nwebSiteUrl=%1\n"
                                 "reachabilityHost=127.0.0.1\n[app]\nLandingPageEnabled=true\n")
                      .arg(gateway)
                      .toUtf8());
        m_config = ini.fileName();
    }

    QString home() const { return m_root.filePath(QStringLiteral("home")); }
    QString storeFolder() const { return home() + QStringLiteral("/.local/share/Sonarbox"); }
    QString errors(int n) const { return m_root.filePath(QStringLiteral("stderr-%1.txt").arg(n)); }

    ChildProcess::Options options(int n) const {
        ChildProcess::Options o;
        o.output = ChildProcess::Output::Discard;
        o.errorFile = errors(n);
        o.environment = {
            QStringLiteral("HOME=%1").arg(home()),
            QStringLiteral("XDG_CONFIG_HOME=%1/.config").arg(home()),
            QStringLiteral("XDG_DATA_HOME=%1/.local/share").arg(home()),
            QStringLiteral("XDG_CACHE_HOME=%1/.cache").arg(home()),
            QStringLiteral("QT_QPA_PLATFORM=offscreen"),
            QStringLiteral("QT_MESSAGE_PATTERN=%{category}: %{message}"),
        };
        return o;
    }

    bool startFirst(ChildProcess &first) {
        // --verbose: the log lines on standard error too.
        if (!first.start(QStringLiteral(SONARBOX_EXE),
                         {QStringLiteral("--config"), m_config, QStringLiteral("--verbose")},
                         options(1)))
            return false;
        // Listening once it answers, even if only to say it does not know
        // the command.
        return TestEnvironment::waitUntil(
                   [&] {
                       return !first.isRunning() ||
                              EngineInstance::send(storeFolder(), QStringLiteral("hello"), 200);
                   },
                   30000) &&
               first.isRunning();
    }

    QString errorText(int n) const {
        QFile file(errors(n));
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll());
    }

    // The account a previous run left, written into the program's own store.
    void storeAccount() {
        StoreSetup::setStoreFolder(storeFolder());
        SecretStore::instance().reset();
        auto user = std::make_shared<User>();
        user->id = QStringLiteral("1");
        user->username = QStringLiteral("grace@example.com");
        user->password = QStringLiteral("pa55word");
        user->deviceId = QStringLiteral("device-1");
        GenericDAO::instance().save(user);
        StoreSetup::setStoreFolder({});
    }

    QString storedAccount() {
        StoreSetup::setStoreFolder(storeFolder());
        const UserPtr user = GenericDAO::instance().uniqueResult<User>();
        const QString name = user ? user->username.value_or(QString()) : QString();
        StoreSetup::setStoreFolder({});
        return name;
    }

    QTemporaryDir m_root;
    QTcpServer m_silent;
    QString m_config;
};

TEST_F(Instance, ASecondStartShowsTheFirstWindowAndEndsAndQuitEndsTheFirstWithoutATray) {
    ChildProcess first;
    ASSERT_TRUE(startFirst(first)) << errorText(1).toStdString();

    const ChildProcess::Result second =
        ChildProcess::run(QStringLiteral(SONARBOX_EXE), {QStringLiteral("--config"), m_config}, {},
                          30000, options(2));
    EXPECT_EQ(second.exitCode, 0) << errorText(2).toStdString();
    EXPECT_TRUE(errorText(2).contains(
        QStringLiteral("sonarbox: Sonarbox is already running; its window is shown.")))
        << errorText(2).toStdString();
    EXPECT_TRUE(first.isRunning());
    EXPECT_TRUE(TestEnvironment::waitUntil([&] {
        return errorText(1).contains(QStringLiteral("Instance command \"raise\": ok"));
    })) << errorText(1).toStdString();
    EXPECT_TRUE(errorText(1).contains(QStringLiteral("No system tray")));

    // The menu's Quit, asked through the same channel (`sonarbox --quit`).
    QElapsedTimer clock;
    clock.start();
    const ChildProcess::Result quit = ChildProcess::run(
        QStringLiteral(SONARBOX_EXE),
        {QStringLiteral("--config"), m_config, QStringLiteral("--quit")}, {}, 30000, options(3));
    EXPECT_EQ(quit.exitCode, 0) << errorText(3).toStdString();
    ASSERT_TRUE(first.waitForFinished(10000)) << errorText(1).toStdString();
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_LT(clock.elapsed(), 8000);
    EXPECT_TRUE(errorText(1).contains(QStringLiteral("[quitAction:] @class:AppDelegate")));

    // Gone with its lock: the next start is a first start again, and
    // --quit finds nobody.
    const ChildProcess::Result nobody = ChildProcess::run(
        QStringLiteral(SONARBOX_EXE),
        {QStringLiteral("--config"), m_config, QStringLiteral("--quit")}, {}, 30000, options(4));
    EXPECT_EQ(nobody.exitCode, 1);
    EXPECT_TRUE(errorText(4).contains(QStringLiteral("no Sonarbox is running")));
}

TEST_F(Instance, AnotherEngineOnTheStoreKeepsTheProgramFromStarting) {
    // The headless engine holds the lock; this process plays it.
    EngineInstance engine(storeFolder());
    ASSERT_TRUE(engine.acquire());
    const ChildProcess::Result second =
        ChildProcess::run(QStringLiteral(SONARBOX_EXE), {QStringLiteral("--config"), m_config}, {},
                          30000, options(2));
    EXPECT_EQ(second.exitCode, 4);
    const QString said = errorText(2);
    EXPECT_TRUE(said.contains(QStringLiteral("The store %1 is in use by ").arg(storeFolder())))
        << said.toStdString();
    EXPECT_TRUE(
        said.contains(QStringLiteral("(process %1)").arg(QCoreApplication::applicationPid())))
        << said.toStdString();
}

// The session ending (SIGTERM) or Quit while the start-up sign-in waits for
// a service that never answers: the program ends within seconds, not after
// the sign-in's minute, and keeps the account.
TEST_F(Instance, EndingDuringTheStartUpSignInTakesSecondsAndKeepsTheStore) {
    storeAccount();
    ChildProcess first;
    ASSERT_TRUE(startFirst(first)) << errorText(1).toStdString();
    ASSERT_TRUE(TestEnvironment::waitUntil([&] { return m_silent.hasPendingConnections(); }, 20000))
        << "the sign-in never reached the service";

    QElapsedTimer clock;
    clock.start();
    first.signal(SIGTERM);
    ASSERT_TRUE(first.waitForFinished(20000)) << errorText(1).toStdString();
    EXPECT_LT(clock.elapsed(), 8000);
    EXPECT_EQ(first.exitCode(), 0) << errorText(1).toStdString();
    EXPECT_FALSE(errorText(1).contains(QStringLiteral("could not be saved")));
    EXPECT_EQ(storedAccount(), QStringLiteral("grace@example.com"));
}

} // namespace

// `sonarbox-headless --pause` / `--resume` say these commands to whichever
// engine holds the store; the desktop program answers them and keeps the
// choice for its next start.
TEST_F(Instance, PauseAndResumeReachTheDesktopProgram) {
    ChildProcess first;
    ASSERT_TRUE(startFirst(first)) << errorText(1).toStdString();
    const QString prefs = home() + QStringLiteral("/.config/Sonarbox/Sonarbox.conf");
    const auto paused = [&] {
        return QSettings(prefs, QSettings::NativeFormat).value(QStringLiteral("syncPaused"));
    };

    EXPECT_EQ(EngineInstance::send(storeFolder(), QStringLiteral("pause")),
              std::optional<QString>(QStringLiteral("ok Syncing paused.")));
    EXPECT_TRUE(paused().toBool());
    EXPECT_EQ(EngineInstance::send(storeFolder(), QStringLiteral("resume")),
              std::optional<QString>(QStringLiteral("ok Syncing resumed.")));
    EXPECT_TRUE(paused().isValid());
    EXPECT_FALSE(paused().toBool());
    first.stop();
}
