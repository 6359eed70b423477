#include "StoreFixture.h"
#include "store/StoreSchema.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Sets or clears the immutable flag of a folder (what chattr +i does):
// permissions do not bind root, this flag does.
bool setImmutable(const QString &path, bool immutable) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

bool hasCode(const QList<AppError> &errors, int code) {
    return std::any_of(errors.begin(), errors.end(),
                       [code](const AppError &error) { return error.code == code; });
}

} // namespace

TEST_F(StoreTest, FirstUseCreatesTheFolderWithItsParentsAndAnEmptyStore) {
    const QString nested = m_dir.path() + QStringLiteral("/deep/er/Sonarbox");
    StoreSetup::setStoreFolder(nested);
    ASSERT_NE(StoreSetup::instance().managedObjectContext(), nullptr);
    EXPECT_TRUE(presented().isEmpty());
    EXPECT_TRUE(QFile::exists(nested + QStringLiteral("/Sonarbox.sqlite")));
    EXPECT_EQ(dao.getSize(QStringLiteral("Audio")), 0);
}

TEST_F(StoreTest, TheStoreHasEveryFieldAVersionAndAWriteAheadLog) {
    ASSERT_NE(StoreSetup::instance().managedObjectContext(), nullptr);
    EXPECT_EQ(peek(QStringLiteral("PRAGMA user_version")),
              QStringList{QString::number(StoreSchema::Version)});
    EXPECT_EQ(peek(QStringLiteral("PRAGMA journal_mode")), QStringList{QStringLiteral("wal")});
    // Stores written by other versions are read by these names.
    const auto columns = [&](const char *table) {
        QStringList names = peek(
            QStringLiteral("SELECT name FROM pragma_table_info('%1')").arg(QLatin1String(table)));
        names.sort();
        return names;
    };
    const auto sorted = [](QStringList names) {
        names.sort();
        return names;
    };
    EXPECT_EQ(columns("Audio"), sorted({"objectID",      "checksum",
                                        "downloaded",    "duration",
                                        "durationTime",  "encrypted",
                                        "fileURL",       "fileExtension",
                                        "fingerPrintID", "markedForDeletion",
                                        "name",          "partiallyDownloaded",
                                        "retries",       "sequence",
                                        "songName",      "synced",
                                        "userMediaID",   "artist",
                                        "album",         "releaseYear",
                                        "downloadable",  "modDate",
                                        "uploaded",      "failureReason",
                                        "fileSize",      "fileModified",
                                        "fileDevice",    "fileInode",
                                        "replaces"}));
    EXPECT_EQ(columns("User"),
              sorted({"objectID", "id", "username", "password", "deviceId", "facebookToken",
                      "firstName", "lastName", "gracenoteUser", "audioEncrypted", "authenticated",
                      "firstLogin", "lastRequest", "encryptionKey"}));
    EXPECT_EQ(columns("Media"), sorted({"objectID", "userMediaID", "name", "duration", "synced",
                                        "downloaded", "downloadBlocked", "partiallyDownloaded",
                                        "retries", "plays", "encrypted", "durationTime"}));
}

TEST_F(StoreTest, AfterCloseTheStoreFileAloneHoldsEverything) {
    ASSERT_NE(StoreSetup::instance().managedObjectContext(), nullptr);
    // Another process keeps the store open, so closing is not the last
    // connection (which SQLite would checkpoint by itself).
    const QString other = QStringLiteral("other-process");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), other);
        db.setDatabaseName(storeFile());
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        ASSERT_TRUE(query.exec(QStringLiteral("SELECT count(*) FROM \"Audio\"")));
    }
    for (int i = 0; i < 20; ++i)
        dao.addTrackToDB(track(QStringLiteral("sum%1").arg(i), QStringLiteral("/m/%1.mp3").arg(i)),
                         true);
    StoreSetup::instance().close();

    // The store file copied alone, as a backup or a move would take it.
    QTemporaryDir copyDir;
    const QString copy = copyDir.filePath(QStringLiteral("Sonarbox.sqlite"));
    ASSERT_TRUE(QFile::copy(storeFile(), copy));
    QSqlDatabase::removeDatabase(other);
    QStringList counted;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("copy"));
        db.setDatabaseName(copy);
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        if (query.exec(QStringLiteral("SELECT count(*) FROM \"Audio\"")) && query.next())
            counted << query.value(0).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("copy"));
    EXPECT_EQ(counted, QStringList{QStringLiteral("20")});
}

TEST_F(StoreTest, WithoutSharedMemoryTheStoreUsesARollbackJournal) {
    // A store kept by an earlier start in a write-ahead log ...
    dao.addTrackToDB(track(QStringLiteral("a"), QStringLiteral("/a.mp3")), true);
    StoreSetup::instance().close();
    // ... on a file system where the log's shared memory cannot be created.
    ASSERT_TRUE(QDir().mkpath(storeFile() + QStringLiteral("-shm")));

    ASSERT_NE(StoreSetup::instance().managedObjectContext(), nullptr);
    EXPECT_TRUE(presented().isEmpty());
    EXPECT_EQ(StoreLog::count(QStringLiteral("it uses a rollback journal instead")), 1);
    EXPECT_TRUE(
        StoreLog::contains(QStringLiteral("(rollback journal, synced to disk at each save)")));
    EXPECT_TRUE(dao.isFileInDB(QStringLiteral("/a.mp3")));
    dao.addTrackToDB(track(QStringLiteral("b"), QStringLiteral("/b.mp3")), true);
    EXPECT_EQ(peek(QStringLiteral("SELECT count(*) FROM \"Audio\"")),
              QStringList{QStringLiteral("2")});
    EXPECT_EQ(peek(QStringLiteral("PRAGMA journal_mode")), QStringList{QStringLiteral("delete")});

    // The next start opens it the same way, with everything kept.
    StoreSetup::instance().close();
    ASSERT_NE(StoreSetup::instance().managedObjectContext(), nullptr);
    EXPECT_TRUE(dao.isFileInDB(QStringLiteral("/b.mp3")));
    EXPECT_EQ(dao.getSize(QStringLiteral("Audio")), 2);
    EXPECT_TRUE(presented().isEmpty());
}

TEST_F(StoreTest, LookupsUseIndexesNotScans) {
    ASSERT_NE(StoreSetup::instance().managedObjectContext(), nullptr);
    const auto plan = [&](const QString &where) {
        return peek(QStringLiteral("EXPLAIN QUERY PLAN SELECT * FROM \"Audio\" WHERE ") + where, 3)
            .join(QLatin1Char(' '));
    };
    EXPECT_TRUE(
        plan(QStringLiteral("\"checksum\" IS 'x'")).contains(QLatin1String("Audio_checksum")));
    EXPECT_TRUE(plan(QStringLiteral("\"fileURL\" = 'x'")).contains(QLatin1String("Audio_fileURL")));
    EXPECT_TRUE(plan(QStringLiteral("\"userMediaID\" IS 'x'"))
                    .contains(QLatin1String("Audio_userMediaID")));
    EXPECT_TRUE(plan(QStringLiteral("\"downloadable\" IS NULL"))
                    .contains(QLatin1String("Audio_downloadable")));
    EXPECT_TRUE(
        plan(QStringLiteral("\"downloadable\" = 0")).contains(QLatin1String("Audio_downloadable")));
    EXPECT_TRUE(plan(QStringLiteral("\"replaces\" IS NOT NULL AND \"replaces\" <> ''"))
                    .contains(QLatin1String("Audio_replaces")));
}

TEST_F(StoreTest, AFileWhereTheFolderShouldBeIsReportedAndRetriedLater) {
    QFile blocker(folder());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.write("not a folder");
    blocker.close();

    EXPECT_EQ(StoreSetup::instance().managedObjectContext(), nullptr);
    const auto errors = presented();
    ASSERT_EQ(errors.size(), 2);
    EXPECT_EQ(errors[0].domain, QStringLiteral("YOUR_ERROR_DOMAIN"));
    EXPECT_EQ(errors[0].code, 101);
    EXPECT_EQ(errors[0].description,
              QStringLiteral("Expected a folder to store application data, found a file (%1).")
                  .arg(folder()));
    EXPECT_EQ(errors[1].code, 9999);
    EXPECT_EQ(errors[1].description, QStringLiteral("Failed to initialize the store"));
    EXPECT_EQ(errors[1].failureReason,
              QStringLiteral("There was an error building up the data file."));

    // Without a store every operation yields nothing and nothing breaks.
    EXPECT_FALSE(dao.isFileInDB(QStringLiteral("/a.mp3")));
    dao.addTrackToDB(track(QStringLiteral("c"), QStringLiteral("/a.mp3")), true);
    EXPECT_EQ(dao.getSize(QStringLiteral("Audio")), 0);
    EXPECT_EQ(bytesOf(folder()), QByteArray("not a folder"));

    // Once the file is gone the next request opens the store.
    ASSERT_TRUE(QFile::remove(folder()));
    EXPECT_NE(StoreSetup::instance().managedObjectContext(), nullptr);
    dao.addTrackToDB(track(QStringLiteral("c"), QStringLiteral("/a.mp3")), true);
    EXPECT_TRUE(dao.isFileInDB(QStringLiteral("/a.mp3")));
}

class DamagedStoreTest : public StoreTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(DamagedStoreTest, IsPresentedLoggedAndNeverTouched) {
    QByteArray damaged;
    if (QByteArray(GetParam()) == "garbage") {
        damaged = QByteArray("this is no database, but it is somebody's data\n").repeated(200);
    } else {
        // A real store with enough rows to span many pages, cut in half.
        for (int i = 0; i < 300; ++i)
            dao.addTrackToDB(
                track(QStringLiteral("sum%1").arg(i), QStringLiteral("/m/%1.mp3").arg(i)), false);
        StoreSetup::instance().managedObjectContext()->save();
        StoreSetup::instance().close();
        damaged = bytesOf(storeFile());
        ASSERT_GT(damaged.size(), 8192);
        damaged.truncate(damaged.size() / 2);
    }
    QDir().mkpath(folder());
    {
        QFile file(storeFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(damaged);
    }

    EXPECT_EQ(StoreSetup::instance().managedObjectContext(), nullptr);
    auto errors = presented();
    ASSERT_EQ(errors.size(), 2);
    EXPECT_EQ(errors[0].code, StoreSetup::StoreOpenFailed);
    EXPECT_TRUE(errors[0].description.contains(storeFile()));
    EXPECT_FALSE(errors[0].failureReason.isEmpty());
    EXPECT_EQ(errors[1].code, 9999);
    EXPECT_TRUE(StoreLog::contains(QStringLiteral("Store set-up failed")));

    // Every later request tries again, and the file stays exactly as it was.
    dao.addTrackToDB(track(QStringLiteral("new"), QStringLiteral("/new.mp3")), true);
    EXPECT_FALSE(dao.isFileInDB(QStringLiteral("/new.mp3")));
    EXPECT_GE(presented().size(), 4);
    EXPECT_EQ(bytesOf(storeFile()), damaged);
    for (const char *suffix : {"-journal", "-wal", "-shm"})
        EXPECT_FALSE(QFile::exists(storeFile() + QLatin1String(suffix))) << suffix;
}

INSTANTIATE_TEST_SUITE_P(Store, DamagedStoreTest, ::testing::Values("garbage", "truncated"));

TEST_F(StoreTest, AReadOnlyStoreFolderIsReportedAndTheStoreKept) {
    dao.addTrackToDB(track(QStringLiteral("c"), QStringLiteral("/a.mp3")), true);
    StoreSetup::instance().close();
    const QByteArray before = bytesOf(storeFile());

    const bool root = ::geteuid() == 0;
    const auto makeReadOnly = [&](bool readOnly) {
        if (root)
            return setImmutable(folder(), readOnly);
        return QFile::setPermissions(folder(), readOnly ? QFile::ReadOwner | QFile::ExeOwner
                                                        : QFile::ReadOwner | QFile::WriteOwner |
                                                              QFile::ExeOwner);
    };
    if (!makeReadOnly(true))
        GTEST_SKIP() << "cannot make a folder read-only here (root, and the file system has no "
                        "immutable flag)";

    EXPECT_EQ(StoreSetup::instance().managedObjectContext(), nullptr);
    const auto errors = presented();
    EXPECT_TRUE(hasCode(errors, StoreSetup::StoreOpenFailed));
    EXPECT_TRUE(hasCode(errors, 9999));

    ASSERT_TRUE(makeReadOnly(false));
    EXPECT_EQ(bytesOf(storeFile()), before);
    EXPECT_TRUE(dao.isFileInDB(QStringLiteral("/a.mp3")));
}
