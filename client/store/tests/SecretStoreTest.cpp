#include "StoreFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

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

// Runs inside its own session bus (see the test below): the bus must outlive
// this process, since the bus library ends a process whose bus goes away.
TEST_F(SecretsTest, DISABLED_KeychainRoundTripInOwnSession) {
    const QByteArray bus = qgetenv("SONARBOX_TEST_SESSION_BUS");
    if (bus.isEmpty())
        GTEST_SKIP() << "started only by ASecretServiceKeepsThemWhenOneAnswers";
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus);

    QProcess daemon;
    daemon.start(QStringLiteral("gnome-keyring-daemon"),
                 {QStringLiteral("--foreground"), QStringLiteral("--unlock"),
                  QStringLiteral("--components=secrets")});
    if (!daemon.waitForStarted(5000))
        GTEST_SKIP() << "cannot start gnome-keyring-daemon";
    daemon.write("test-keyring-password");
    daemon.closeWriteChannel();
    // The daemon is ready once it has created the login keyring it was given
    // the password for and owns the service name. Until it owns the name, a
    // request would make the bus start a second, locked daemon.
    const QString loginKeyring =
        qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/keyrings/login.keyring");
    const auto ownsName = [] {
        QProcess ask;
        ask.start(QStringLiteral("dbus-send"),
                  {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                   QStringLiteral("--dest=org.freedesktop.DBus"),
                   QStringLiteral("/org/freedesktop/DBus"),
                   QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                   QStringLiteral("string:org.freedesktop.secrets")});
        return ask.waitForFinished(5000) && ask.readAllStandardOutput().contains("boolean true");
    };
    if (!TestEnvironment::waitUntil([&] { return QFile::exists(loginKeyring) && ownsName(); },
                                    10000))
        GTEST_SKIP() << "the secret service did not come up";

    // The keyring serves its collection a moment after creating the file.
    const bool answers = TestEnvironment::waitUntil(
        [] {
            SecretStore::instance().reset();
            return SecretStore::instance().backend() == SecretStore::Backend::Keychain;
        },
        10000);
    ASSERT_TRUE(answers);
    roundTrip();
    EXPECT_FALSE(QFile::exists(SecretStore::fallbackFilePath()));
    EXPECT_TRUE(StoreLog::contains(QStringLiteral("kept in the desktop keychain")));
    daemon.kill();
    daemon.waitForFinished();
}

TEST_F(SecretsTest, ASecretServiceKeepsThemWhenOneAnswers) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "starts a process, and ThreadSanitizer does not support fork in a threaded "
                    "program";
#endif
    const QString session = QStandardPaths::findExecutable(QStringLiteral("dbus-run-session"));
    const QString keyring = QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon"));
    if (session.isEmpty() || keyring.isEmpty())
        GTEST_SKIP() << "dbus-run-session or gnome-keyring-daemon is not installed";

    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(
        session,
        {QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
         QStringLiteral(
             "SONARBOX_TEST_SESSION_BUS=\"$DBUS_SESSION_BUS_ADDRESS\" exec \"$0\" \"$@\""),
         QCoreApplication::applicationFilePath(), QStringLiteral("--gtest_also_run_disabled_tests"),
         QStringLiteral("--gtest_filter=SecretsTest.DISABLED_KeychainRoundTripInOwnSession")});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QString output = QString::fromLocal8Bit(child.readAll());
    if (output.contains(QLatin1String("[  SKIPPED ]")))
        GTEST_SKIP() << "no secret service here: " << output.toStdString();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QLatin1String("[  PASSED  ] 1 test"))) << output.toStdString();
}
