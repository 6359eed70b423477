// Two stores side by side in one process, each in a folder of its own, next
// to the default store the fixture sets up.

#include "StoreFixture.h"

#include <QFileInfo>
#include <QSignalSpy>

#include <memory>

namespace {

const QString Account = QStringLiteral("ann@example.com");
const QString PasswordA = QStringLiteral("first-Pässword-31c");
const QString PasswordB = QStringLiteral("second-Pässword-84d");

// The password of the account the DAO's store holds; nothing without one.
std::optional<QString> passwordIn(GenericDAO &dao) {
    const UserPtr user = dao.getUserFromDB();
    return user ? user->password : std::nullopt;
}

UserPtr account(const QString &password) {
    auto user = std::make_shared<User>();
    user->id = QStringLiteral("1");
    user->username = Account;
    user->password = password;
    return user;
}

} // namespace

class TwoStores : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        a = std::make_unique<StoreSetup>(m_dir.path() + QStringLiteral("/A"));
        b = std::make_unique<StoreSetup>(m_dir.path() + QStringLiteral("/B"));
        daoA = std::make_unique<GenericDAO>(*a);
        daoB = std::make_unique<GenericDAO>(*b);
    }
    void TearDown() override {
        daoA.reset();
        daoB.reset();
        a.reset();
        b.reset();
        StoreTest::TearDown();
    }

    QString secretsFileOf(const QString &store) const {
        return m_dir.path() + QLatin1Char('/') + store + QStringLiteral("/secrets.json");
    }

    std::unique_ptr<StoreSetup> a;
    std::unique_ptr<StoreSetup> b;
    std::unique_ptr<GenericDAO> daoA;
    std::unique_ptr<GenericDAO> daoB;
};

TEST_F(TwoStores, RecordsStayInTheStoreTheyWereSavedTo) {
    EXPECT_EQ(&daoA->setup(), a.get());
    EXPECT_FALSE(daoA->addTrackToDB(track(QStringLiteral("aaaa"), QStringLiteral("/a.mp3")), true));
    EXPECT_FALSE(daoB->addTrackToDB(track(QStringLiteral("bbbb"), QStringLiteral("/b.mp3")), true));
    // The same checksum is new to the other store.
    EXPECT_FALSE(daoB->addTrackToDB(track(QStringLiteral("aaaa"), QStringLiteral("/c.mp3")), true));

    EXPECT_EQ(daoA->getSize(QStringLiteral("Audio")), 1);
    EXPECT_EQ(daoB->getSize(QStringLiteral("Audio")), 2);
    EXPECT_EQ(dao.getSize(QStringLiteral("Audio")), 0) << "the default store saw none of them";
    EXPECT_TRUE(daoA->isFileInDB(QStringLiteral("/a.mp3")));
    EXPECT_FALSE(daoA->isFileInDB(QStringLiteral("/b.mp3")));
    EXPECT_EQ(peek(QStringLiteral("SELECT count(*) FROM \"Audio\"")),
              QStringList{QStringLiteral("0")});

    // Deleting everything in one leaves the other's records.
    daoB->deleteAll(QStringLiteral("Audio"));
    EXPECT_EQ(daoB->getSize(QStringLiteral("Audio")), 0);
    EXPECT_EQ(daoA->getSize(QStringLiteral("Audio")), 1);
}

TEST_F(TwoStores, ADaoRefusesAnotherStoresContext) {
    daoA->addTrackToDB(track(QStringLiteral("aaaa"), QStringLiteral("/a.mp3")), true);
    StoreContext *contextOfA = a->managedObjectContext();
    ASSERT_TRUE(contextOfA);
    EXPECT_EQ(&contextOfA->setup(), a.get());
    EXPECT_TRUE(daoA->getById(QStringLiteral("audioByCode"), QStringLiteral("aaaa"), contextOfA));
    EXPECT_FALSE(daoB->getById(QStringLiteral("audioByCode"), QStringLiteral("aaaa"), contextOfA));

    daoB->save(track(QStringLiteral("bbbb"), QStringLiteral("/b.mp3")), contextOfA);
    EXPECT_EQ(daoA->getSize(QStringLiteral("Audio")), 1);
    EXPECT_EQ(daoB->getSize(QStringLiteral("Audio")), 0);
}

TEST_F(TwoStores, ASavedPasswordGoesToItsOwnStoresSecrets) {
    ASSERT_EQ(a->secrets().backend(), SecretStore::Backend::File);
    daoA->save(account(PasswordA));

    const QFileInfo fileA(secretsFileOf(QStringLiteral("A")));
    EXPECT_EQ(a->secrets().filePath(), fileA.filePath());
    ASSERT_TRUE(fileA.exists());
    EXPECT_EQ(fileA.permissions() & ~(QFile::ReadUser | QFile::WriteUser),
              QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_TRUE(bytesOf(fileA.filePath()).contains(PasswordA.toUtf8()));
    EXPECT_FALSE(QFileInfo::exists(secretsFileOf(QStringLiteral("B"))));
    EXPECT_FALSE(QFileInfo::exists(SecretStore::fallbackFilePath()));
    EXPECT_EQ(b->secrets().read(Account), AccountSecrets{});
    EXPECT_EQ(SecretStore::instance().read(Account), AccountSecrets{});
    EXPECT_FALSE(daoB->getUserFromDB());

    // The same account name in the other store keeps a password of its own,
    // in its own file and its own memory.
    daoB->save(account(PasswordB));
    EXPECT_EQ(passwordIn(*daoA), PasswordA);
    EXPECT_EQ(passwordIn(*daoB), PasswordB);
    EXPECT_FALSE(bytesOf(secretsFileOf(QStringLiteral("B"))).contains(PasswordA.toUtf8()));
    EXPECT_FALSE(bytesOf(fileA.filePath()).contains(PasswordB.toUtf8()));

    // Read back from the files as a new process would.
    a->close();
    a->secrets().reset();
    b->secrets().reset();
    EXPECT_EQ(passwordIn(*daoA), PasswordA);
    const UserPtr fromB = daoB->uniqueResult<User>();
    ASSERT_TRUE(fromB);
    EXPECT_EQ(fromB->password, PasswordB);

    // Signing out of one removes its secrets alone.
    daoB->deleteAll(QStringLiteral("User"));
    EXPECT_EQ(b->secrets().read(Account), AccountSecrets{});
    EXPECT_FALSE(bytesOf(secretsFileOf(QStringLiteral("B"))).contains(PasswordB.toUtf8()));
    a->secrets().reset();
    EXPECT_EQ(a->secrets().read(Account).password, PasswordA);
}

TEST_F(TwoStores, AResetDatabaseForgetsOnlyItsOwnSecrets) {
    daoA->save(account(PasswordA));
    daoB->save(account(PasswordB));
    daoA->resetDB();
    EXPECT_FALSE(daoA->getUserFromDB());
    EXPECT_FALSE(bytesOf(secretsFileOf(QStringLiteral("A"))).contains(PasswordA.toUtf8()));
    b->secrets().reset();
    EXPECT_EQ(passwordIn(*daoB), PasswordB);
}

TEST_F(TwoStores, EachStoreAnnouncesOnlyItsOwnSaves) {
    QSignalSpy savesA(a.get(), &StoreSetup::didSave);
    QSignalSpy savesB(b.get(), &StoreSetup::didSave);
    QSignalSpy savesDefault(&StoreSetup::instance(), &StoreSetup::didSave);

    daoA->addTrackToDB(track(QStringLiteral("aaaa"), QStringLiteral("/a.mp3")), true);
    EXPECT_EQ(savesA.count(), 1);
    EXPECT_EQ(savesB.count(), 0);
    EXPECT_EQ(savesDefault.count(), 0);

    daoB->addTrackToDB(track(QStringLiteral("bbbb"), QStringLiteral("/b.mp3")), true);
    dao.addTrackToDB(track(QStringLiteral("cccc"), QStringLiteral("/c.mp3")), true);
    EXPECT_EQ(savesA.count(), 1);
    EXPECT_EQ(savesB.count(), 1);
    EXPECT_EQ(savesDefault.count(), 1);
}

TEST_F(TwoStores, ClosingOneStoreLeavesTheOtherWorking) {
    daoA->addTrackToDB(track(QStringLiteral("aaaa"), QStringLiteral("/a.mp3")), true);
    daoB->addTrackToDB(track(QStringLiteral("bbbb"), QStringLiteral("/b.mp3")), true);
    StoreContext *contextOfB = b->managedObjectContext();

    a->close();
    EXPECT_FALSE(a->hasContext());
    ASSERT_TRUE(b->hasContext());
    EXPECT_EQ(b->managedObjectContext(), contextOfB);
    daoB->addTrackToDB(track(QStringLiteral("cccc"), QStringLiteral("/c.mp3")), true);
    EXPECT_EQ(daoB->getSize(QStringLiteral("Audio")), 2);
    // The closed one opens again on the next request, with what it saved.
    EXPECT_EQ(daoA->getSize(QStringLiteral("Audio")), 1);

    // A store that goes away takes only its own connection with it.
    daoA.reset();
    a.reset();
    EXPECT_EQ(b->managedObjectContext(), contextOfB);
    EXPECT_EQ(daoB->getSize(QStringLiteral("Audio")), 2);
    dao.addTrackToDB(track(QStringLiteral("dddd"), QStringLiteral("/d.mp3")), true);
    EXPECT_EQ(dao.getSize(QStringLiteral("Audio")), 1);
}

TEST_F(TwoStores, TheDefaultStoreKeepsItsFolderAndItsDao) {
    EXPECT_EQ(&GenericDAO::instance().setup(), &StoreSetup::instance());
    EXPECT_EQ(&SecretStore::instance(), &StoreSetup::instance().secrets());
    EXPECT_EQ(StoreSetup::instance().applicationFilesDirectory(), folder());
    daoA->addTrackToDB(track(QStringLiteral("aaaa"), QStringLiteral("/a.mp3")), true);
    dao.addTrackToDB(track(QStringLiteral("bbbb"), QStringLiteral("/b.mp3")), true);
    EXPECT_EQ(peek(QStringLiteral("SELECT checksum FROM \"Audio\"")),
              QStringList{QStringLiteral("bbbb")});

    // Moving the default store closes it alone; the others keep their folders.
    const QString elsewhere = m_dir.path() + QStringLiteral("/Elsewhere");
    StoreSetup::setStoreFolder(elsewhere);
    EXPECT_FALSE(StoreSetup::instance().hasContext());
    EXPECT_TRUE(a->hasContext());
    EXPECT_EQ(a->applicationFilesDirectory(), m_dir.path() + QStringLiteral("/A"));
    EXPECT_EQ(dao.getSize(QStringLiteral("Audio")), 0);
    EXPECT_EQ(daoA->getSize(QStringLiteral("Audio")), 1);
}
