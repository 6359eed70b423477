#include "StoreFixture.h"
#include "store/StoreSchema.h"

#include <QSqlQuery>

namespace {

SettledFolder settledWith(qint64 inode, qint64 tracks) {
    return {{1, inode, 100, 200}, tracks};
}

} // namespace

TEST_F(StoreTest, ATrackLeavingTheStoreOrItsFileUnsettlesOnlyItsFolder) {
    for (const char *path :
         {"/m/A/1.mp3", "/m/A/2.mp3", "/m/B/1.mp3", "/m/C/1.mp3", "/m/C/D/1.mp3"})
        dao.addTrackToDB(track(QString::fromLatin1(path), QString::fromLatin1(path)), true);
    dao.recordScannedFolders({{QStringLiteral("/m/A/"), settledWith(1, 2)},
                              {QStringLiteral("/m/B/"), settledWith(2, 1)},
                              {QStringLiteral("/m/C/"), settledWith(3, 1)},
                              {QStringLiteral("/m/C/D/"), settledWith(4, 1)},
                              {QStringLiteral("/m/E/"), settledWith(5, 0)}},
                             {});
    const QHash<QString, SettledFolder> read = dao.settledFolders();
    ASSERT_EQ(read.size(), 5);
    EXPECT_EQ(read.value(QStringLiteral("/m/B/")).stamp, (FolderStamp{1, 2, 100, 200}));
    EXPECT_EQ(read.value(QStringLiteral("/m/A/")).tracks, 2);

    // Deleted: its folder only, not the folder inside it or beside it.
    dao.delete_(dao.getById(QStringLiteral("audioByCode"), QStringLiteral("/m/C/1.mp3")));
    // Moved (a hand-off to the music player): the folder it left.
    AudioPtr moved = dao.getById(QStringLiteral("audioByCode"), QStringLiteral("/m/B/1.mp3"));
    moved->fileURL = QStringLiteral("/player/Sonarbox/1.mp3");
    dao.save(moved);
    // Written without a change of file: nothing.
    AudioPtr touched = dao.getById(QStringLiteral("audioByCode"), QStringLiteral("/m/A/1.mp3"));
    touched->synced = 1;
    dao.save(touched);
    QStringList keys = dao.settledFolders().keys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{"/m/A/", "/m/C/D/", "/m/E/"}));

    // A scan's own forgetting, and a folder settled anew.
    dao.recordScannedFolders({{QStringLiteral("/m/B/"), settledWith(9, 0)}},
                             {QStringLiteral("/m/E/")});
    keys = dao.settledFolders().keys();
    keys.sort();
    EXPECT_EQ(keys, (QStringList{"/m/A/", "/m/B/", "/m/C/D/"}));

    // Every track gone (another account's sign-in): only a folder without
    // music stays settled.
    dao.resetAllTracksInDB();
    EXPECT_EQ(dao.settledFolders().keys(), QStringList{"/m/B/"});
}

TEST_F(StoreTest, StoredAmongAnswersTheSameForFewPathsAndForMany) {
    QList<QString> asked;
    for (int i = 0; i < 3000; ++i) {
        const QString path = QStringLiteral("/m/%1.mp3").arg(i);
        asked.append(path);
        if (i % 3 == 0)
            dao.addTrackToDB(track(QStringLiteral("sum%1").arg(i), path), i % 2 == 0);
    }
    const QSet<QString> many = dao.storedAmong(asked);
    EXPECT_EQ(many.size(), 1000);
    const QList<QString> few = asked.mid(0, 12);
    EXPECT_EQ(dao.storedAmong(few),
              (QSet<QString>{"/m/0.mp3", "/m/3.mp3", "/m/6.mp3", "/m/9.mp3"}));
    EXPECT_TRUE(many.contains(QStringLiteral("/m/2997.mp3")));
    EXPECT_FALSE(many.contains(QStringLiteral("/m/2998.mp3")));
}

TEST_F(StoreTest, AStoreOfTheFirstVersionGainsTheFolderTableAndKeepsItsTracks) {
    dao.addTrackToDB(track(QStringLiteral("c1"), QStringLiteral("/m/A/1.mp3")), true);
    StoreSetup::instance().close();
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("older"));
        db.setDatabaseName(storeFile());
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        for (const char *sql : {"DROP TRIGGER \"Audio_unsettles_on_delete\"",
                                "DROP TRIGGER \"Audio_unsettles_on_move\"",
                                "DROP TABLE \"ScannedFolder\"", "PRAGMA user_version = 1"})
            ASSERT_TRUE(query.exec(QString::fromLatin1(sql))) << sql;
    }
    QSqlDatabase::removeDatabase(QStringLiteral("older"));

    ASSERT_NE(StoreSetup::instance().managedObjectContext(), nullptr);
    EXPECT_EQ(peek(QStringLiteral("PRAGMA user_version")),
              QStringList{QString::number(StoreSchema::Version)});
    EXPECT_TRUE(dao.isFileInDB(QStringLiteral("/m/A/1.mp3")));
    dao.recordScannedFolders({{QStringLiteral("/m/A/"), settledWith(1, 1)}}, {});
    dao.resetAllTracksInDB();
    EXPECT_TRUE(dao.settledFolders().isEmpty());
}

TEST_F(StoreTest, AStoreOfTheSecondVersionGainsWhatTheClientDidWithATrack) {
    dao.addTrackToDB(track(QStringLiteral("c1"), QStringLiteral("/m/A/1.mp3")), true);
    StoreSetup::instance().close();
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("older"));
        db.setDatabaseName(storeFile());
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        for (const char *sql :
             {"ALTER TABLE \"Audio\" DROP COLUMN \"failureReason\"",
              "ALTER TABLE \"Audio\" DROP COLUMN \"uploaded\"", "PRAGMA user_version = 2"})
            ASSERT_TRUE(query.exec(QString::fromLatin1(sql))) << sql;
    }
    QSqlDatabase::removeDatabase(QStringLiteral("older"));

    ASSERT_NE(StoreSetup::instance().managedObjectContext(), nullptr);
    EXPECT_EQ(peek(QStringLiteral("PRAGMA user_version")),
              QStringList{QString::number(StoreSchema::Version)});
    AudioPtr kept = dao.getById(QStringLiteral("audioByCode"), QStringLiteral("c1"));
    ASSERT_TRUE(kept);
    EXPECT_FALSE(kept->failureReason);
    kept->failureReason = QStringLiteral("quota full");
    kept->uploaded = false;
    dao.save(kept);
    StoreSetup::instance().close();
    const AudioPtr reread = dao.getById(QStringLiteral("audioByCode"), QStringLiteral("c1"));
    ASSERT_TRUE(reread);
    EXPECT_EQ(reread->failureReason, QStringLiteral("quota full"));
    EXPECT_EQ(reread->uploaded, false);
}
