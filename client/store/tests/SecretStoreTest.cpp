#include "StoreFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <memory>

#include "ChildProcess.h"
#include "TestEnvironment.h"

namespace {

const QString Password = QStringLiteral("pa55-Wörd-7f3a9c");
const QString Token = QStringLiteral("EAAGtoken-91b2c7d4e5");

UserPtr account(const QString &username) {
    auto user = std::make_shared<User>();
    user->id = QStringLiteral("1");
    user->username = username;
    user->password = Password;
    user->facebookToken = Token;
    user->firstName = QStringLiteral("Ann");
    return user;
}

} // namespace

class SecretsTest : public StoreTest {
protected:
    // The store file and its journal never hold a secret.
    void expectNoSecretsInStoreFiles() {
        for (const QString &file : {storeFile(), storeFile() + QStringLiteral("-journal")}) {
            const QByteArray bytes = bytesOf(file);
            EXPECT_FALSE(bytes.contains(Password.toUtf8())) << file.toStdString();
            EXPECT_FALSE(bytes.contains(Token.toUtf8())) << file.toStdString();
        }
        EXPECT_EQ(peek(QStringLiteral("SELECT count(*) FROM \"User\" WHERE password IS NOT NULL "
                                      "OR facebookToken IS NOT NULL")),
                  QStringList{QStringLiteral("0")});
    }

    // Saves, reloads through a fresh store and checks every caller still
    // reads the secrets from the record.
    void roundTrip() {
        const UserPtr user = account(QStringLiteral("ann@example.com"));
        dao.save(user);
        expectNoSecretsInStoreFiles();
        StoreSetup::instance().close();
        SecretStore::instance().reset();

        const UserPtr loaded = dao.getUserFromDB();
        ASSERT_TRUE(loaded);
        EXPECT_EQ(loaded->password, Password);
        EXPECT_EQ(loaded->facebookToken, Token);
        EXPECT_EQ(dao.uniqueResult<User>()->password, Password);

        // A new user name moves the secrets with the account.
        loaded->username = QStringLiteral("ann@example.org");
        loaded->facebookToken.reset();
        dao.save(loaded);
        EXPECT_EQ(SecretStore::instance().read(QStringLiteral("ann@example.com")),
                  AccountSecrets{});
        EXPECT_EQ(SecretStore::instance().read(QStringLiteral("ann@example.org")).password,
                  Password);
        EXPECT_FALSE(dao.getUserFromDB()->facebookToken);

        // Logging out removes them.
        dao.deleteAll(QStringLiteral("User"));
        EXPECT_EQ(SecretStore::instance().read(QStringLiteral("ann@example.org")),
                  AccountSecrets{});
        for (const QString &line : StoreLog::lines()) {
            EXPECT_FALSE(line.contains(Password)) << line.toStdString();
            EXPECT_FALSE(line.contains(Token)) << line.toStdString();
        }
    }
};

TEST_F(SecretsTest, WithoutAKeychainSecretsGoToAPrivateFile) {
    ASSERT_EQ(SecretStore::instance().backend(), SecretStore::Backend::File);
    dao.save(account(QStringLiteral("ann@example.com")));
    const QFileInfo file(SecretStore::fallbackFilePath());
    ASSERT_TRUE(file.exists());
    EXPECT_EQ(file.permissions() & ~(QFile::ReadUser | QFile::WriteUser),
              QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_TRUE(bytesOf(file.filePath()).contains(Password.toUtf8()));
    dao.deleteAll(QStringLiteral("User"));

    roundTrip();
    EXPECT_EQ(StoreLog::count(QStringLiteral("readable only by this user")), 2);
}

// ---- keyring <-> file: phases that run one after another, each in a process
// of its own (the keyring library keeps its connection to a daemon for the
// life of a process), on one session bus and over one store and keyring folder.

namespace {

const QString NewPassword = QStringLiteral("n3w-Pässword-2");

bool dbusSend(const QStringList &arguments, QByteArray *output = nullptr) {
    const ChildProcess::Result send = ChildProcess::run(
        QStringLiteral("dbus-send"),
        QStringList{QStringLiteral("--session"), QStringLiteral("--print-reply")} + arguments, {},
        5000);
    if (output)
        *output = send.output;
    return send.exitCode == 0;
}

bool secretServiceRuns() {
    QByteArray reply;
    return dbusSend({QStringLiteral("--dest=org.freedesktop.DBus"),
                     QStringLiteral("/org/freedesktop/DBus"),
                     QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                     QStringLiteral("string:org.freedesktop.secrets")},
                    &reply) &&
           reply.contains("boolean true");
}

// A gnome-keyring-daemon on the phase's session bus, keeping its keyrings in
// the shared folder.
class KeyringDaemon {
public:
    explicit KeyringDaemon(const QString &dataFolder) {
        m_options.environment = {QStringLiteral("XDG_DATA_HOME=") + dataFolder};
        m_options.output = ChildProcess::Output::Discard;
        m_loginKeyring = dataFolder + QStringLiteral("/keyrings/login.keyring");
    }
    ~KeyringDaemon() { stop(); }

    // Unlocked: the login keyring is opened (created when missing) with the
    // test's password. Locked: it stays as the person would find it.
    bool start(bool unlocked) {
        QStringList arguments{QStringLiteral("--foreground"),
                              QStringLiteral("--components=secrets")};
        if (unlocked)
            arguments << QStringLiteral("--unlock");
        if (!m_daemon.start(QStringLiteral("gnome-keyring-daemon"), arguments, m_options))
            return false;
        if (unlocked)
            m_daemon.write("test-keyring-password");
        m_daemon.closeInput();
        // Until the daemon owns the service name, a request would make the bus
        // start a second daemon; until it has its login keyring, it has no
        // default collection.
        return TestEnvironment::waitUntil(
            [&] {
                QByteArray alias;
                return QFile::exists(m_loginKeyring) && secretServiceRuns() &&
                       dbusSend({QStringLiteral("--dest=org.freedesktop.secrets"),
                                 QStringLiteral("/org/freedesktop/secrets"),
                                 QStringLiteral("org.freedesktop.Secret.Service.ReadAlias"),
                                 QStringLiteral("string:default")},
                                &alias) &&
                       alias.contains("collection/login");
            },
            10000);
    }
    // Locks the login keyring, as the desktop does after a while.
    bool lock() {
        return dbusSend(
            {QStringLiteral("--dest=org.freedesktop.secrets"),
             QStringLiteral("/org/freedesktop/secrets"),
             QStringLiteral("org.freedesktop.Secret.Service.Lock"),
             QStringLiteral("array:objpath:/org/freedesktop/secrets/collection/login")});
    }
    void stop() {
        if (!m_daemon.isRunning())
            return;
        m_daemon.signal(SIGKILL);
        m_daemon.waitForFinished(30000);
        TestEnvironment::waitUntil([] { return !secretServiceRuns(); }, 5000);
    }

private:
    ChildProcess::Options m_options;
    ChildProcess m_daemon;
    QString m_loginKeyring;
};

} // namespace

class KeyringSwitch : public SecretsTest {
protected:
    void SetUp() override {
        SecretsTest::SetUp();
        m_shared = qEnvironmentVariable("SONARBOX_TEST_KEYRING_DIR");
        if (m_shared.isEmpty())
            GTEST_SKIP() << "started only by SecretsSurviveKeyringAndFileSwitches";
        StoreSetup::setStoreFolder(m_shared + QStringLiteral("/store"));
        SecretStore::instance().reset();
        SecretStore::setKeyringTimeout(std::chrono::seconds(5));
    }
    void TearDown() override {
        StoreSetup::instance().close();
        SecretStore::setLockedNotice({});
        SecretStore::setKeyringTimeout(std::chrono::seconds(10));
        SecretStore::setSilentKeyringRetry(std::chrono::seconds(60));
        SecretsTest::TearDown();
    }
    // Joins the session bus and starts a keyring daemon there.
    bool startKeyring(bool unlocked) {
        qputenv("DBUS_SESSION_BUS_ADDRESS", qgetenv("SONARBOX_TEST_SESSION_BUS"));
        m_daemon = std::make_unique<KeyringDaemon>(m_shared + QStringLiteral("/data"));
        return m_daemon->start(unlocked);
    }
    // The daemon serves its collection a moment after creating it.
    bool keyringAnswers() {
        return TestEnvironment::waitUntil(
            [] {
                SecretStore::instance().reset();
                return SecretStore::instance().backend() == SecretStore::Backend::Keychain;
            },
            10000);
    }
    QByteArray secretsFile() const { return bytesOf(SecretStore::fallbackFilePath()); }

    QString m_shared;
    std::unique_ptr<KeyringDaemon> m_daemon;
};

TEST_F(KeyringSwitch, DISABLED_A_WithoutAKeyringTheFileTakesThem) {
    ASSERT_EQ(SecretStore::instance().backend(), SecretStore::Backend::File);
    dao.save(account(QStringLiteral("ann@example.com")));
    EXPECT_TRUE(secretsFile().contains(Password.toUtf8()));
}

TEST_F(KeyringSwitch, DISABLED_B_AnAnsweringKeyringTakesThemOverFromTheFile) {
    if (!startKeyring(true))
        GTEST_SKIP() << "the secret service did not come up";
    ASSERT_TRUE(keyringAnswers());
    const UserPtr ann = dao.getUserFromDB();
    ASSERT_TRUE(ann);
    EXPECT_EQ(ann->password, Password);
    EXPECT_EQ(ann->facebookToken, Token);
    EXPECT_FALSE(secretsFile().contains(Password.toUtf8()));
    EXPECT_TRUE(StoreLog::contains(QStringLiteral("moved from the secrets file")));
    // Now the keyring alone has them.
    SecretStore::instance().reset();
    EXPECT_EQ(SecretStore::instance().read(QStringLiteral("ann@example.com")).password, Password);
}

TEST_F(KeyringSwitch, DISABLED_C_AKeyringLockedWhileRunningKeepsWhatItHolds) {
    using namespace std::chrono_literals;
    if (!startKeyring(true))
        GTEST_SKIP() << "the secret service did not come up";
    ASSERT_TRUE(keyringAnswers());

    // A keyring too slow to answer (prompting, say): the secrets are unknown,
    // and saving the record meanwhile keeps them, even once it answers again.
    SecretStore::setKeyringTimeout(0ms);
    SecretStore::setSilentKeyringRetry(0ms);
    SecretStore::instance().reset();
    const UserPtr slow = dao.getUserFromDB();
    ASSERT_TRUE(slow);
    EXPECT_FALSE(slow->password);
    SecretStore::setKeyringTimeout(5s);
    dao.save(slow);
    SecretStore::setSilentKeyringRetry(60s);
    SecretStore::instance().reset();
    EXPECT_EQ(SecretStore::instance().read(QStringLiteral("ann@example.com")).password, Password);
    const int warned = StoreLog::count(QStringLiteral("The desktop keyring is locked"));

    // Now locked while running, after the keyring answered at first.
    SecretStore::instance().reset();
    ASSERT_EQ(SecretStore::instance().backend(), SecretStore::Backend::Keychain);
    int notices = 0;
    SecretStore::setLockedNotice([&](const QString &, const QString &) { ++notices; });
    ASSERT_TRUE(m_daemon->lock());

    // The keyring answers "not found" for the locked entry: unknown, not absent.
    const UserPtr ann = dao.getUserFromDB();
    ASSERT_TRUE(ann);
    EXPECT_FALSE(ann->password);
    EXPECT_FALSE(SecretStore::instance().isKnown(QStringLiteral("ann@example.com")));
    ann->firstName = QStringLiteral("Annie");
    dao.save(ann);

    // A secret saved meanwhile waits in the private file.
    EXPECT_TRUE(SecretStore::instance().write(QStringLiteral("bob@example.com"),
                                              AccountSecrets{NewPassword, std::nullopt}));
    EXPECT_TRUE(secretsFile().contains(NewPassword.toUtf8()));
    EXPECT_EQ(QFileInfo(SecretStore::fallbackFilePath()).permissions() &
                  ~(QFile::ReadUser | QFile::WriteUser),
              QFile::ReadOwner | QFile::WriteOwner);

    dao.getUserFromDB();
    EXPECT_EQ(StoreLog::count(QStringLiteral("The desktop keyring is locked")) - warned, 1);
    EXPECT_EQ(notices, 1);
}

TEST_F(KeyringSwitch, DISABLED_D_AKeyringLockedAtStartKeepsWhatItHolds) {
    if (!startKeyring(false))
        GTEST_SKIP() << "the secret service did not come up";
    int notices = 0;
    SecretStore::setLockedNotice([&](const QString &, const QString &) { ++notices; });
    const UserPtr ann = dao.getUserFromDB();
    ASSERT_TRUE(ann);
    EXPECT_FALSE(ann->password);
    EXPECT_EQ(ann->firstName, QStringLiteral("Annie"));
    dao.save(ann);
    // Still waiting in the file: nothing could take it over.
    EXPECT_EQ(SecretStore::instance().read(QStringLiteral("bob@example.com")).password,
              NewPassword);
    EXPECT_EQ(StoreLog::count(QStringLiteral("The desktop keyring is locked")), 1);
    EXPECT_EQ(notices, 1);
}

TEST_F(KeyringSwitch, DISABLED_E_UnlockedAgainEverySecretIsThere) {
    if (!startKeyring(true))
        GTEST_SKIP() << "the secret service did not come up";
    ASSERT_TRUE(keyringAnswers());
    const UserPtr ann = dao.getUserFromDB();
    ASSERT_TRUE(ann);
    EXPECT_EQ(ann->password, Password);
    EXPECT_EQ(ann->facebookToken, Token);
    EXPECT_EQ(SecretStore::instance().read(QStringLiteral("bob@example.com")).password,
              NewPassword);
    EXPECT_FALSE(secretsFile().contains(NewPassword.toUtf8()));
    EXPECT_FALSE(StoreLog::contains(QStringLiteral("The desktop keyring is locked")));
    dao.deleteAll(QStringLiteral("User"));

    // The whole life of an account's secrets, in this test's own store.
    StoreSetup::setStoreFolder(folder());
    roundTrip();
    EXPECT_FALSE(secretsFile().contains(Password.toUtf8()));
}

TEST_F(SecretsTest, SecretsSurviveKeyringAndFileSwitches) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the keyring library and libdbus hand their connection between threads "
                    "inside themselves, where ThreadSanitizer cannot see it, and it reports "
                    "races and a lock-order inversion there";
#endif
    const QString session = QStandardPaths::findExecutable(QStringLiteral("dbus-run-session"));
    const QString keyring = QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon"));
    if (session.isEmpty() || keyring.isEmpty())
        GTEST_SKIP() << "dbus-run-session or gnome-keyring-daemon is not installed";

    QTemporaryDir shared;
    ChildProcess::Options options = ChildProcess::captured();
    options.environment = {QStringLiteral("SONARBOX_TEST_KEYRING_DIR=") + shared.path()};
    const ChildProcess::Result child = ChildProcess::run(
        session,
        {QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
         QStringLiteral("export SONARBOX_TEST_SESSION_BUS=\"$DBUS_SESSION_BUS_ADDRESS\"; "
                        "for phase in A B C D E; do \"$0\" "
                        "--gtest_also_run_disabled_tests "
                        "--gtest_filter=\"KeyringSwitch.DISABLED_${phase}_*\" || exit 1; "
                        "done"),
         QCoreApplication::applicationFilePath()},
        {}, 180000, options);
    const QString output = QString::fromLocal8Bit(child.output);
    if (output.contains(QLatin1String("[  SKIPPED ]")))
        GTEST_SKIP() << "no secret service here: " << output.toStdString();
    EXPECT_EQ(child.exitCode, 0) << output.toStdString();
    EXPECT_EQ(output.count(QLatin1String("[  PASSED  ] 1 test")), 5) << output.toStdString();
}
