#include "StoreFixture.h"
#include "store/StoreSchema.h"

#include <QSignalSpy>

namespace {
QString audioCount() {
    return QStringLiteral("SELECT count(*) FROM \"Audio\"");
}
} // namespace

TEST_F(StoreTest, AStoredChecksumTurnsLaterTracksIntoDuplicates) {
    auto first =
        track(QStringLiteral("aaaa"), QStringLiteral("/music/one.mp3"), QStringLiteral("One.mp3"));
    first->duration = 215;
    first->markedForDeletion = true;
    first->partiallyDownloaded = 1;
    first->artist = QStringLiteral("Artist");
    first->modDate = QDateTime::fromMSecsSinceEpoch(1'700'000'000'123, Qt::UTC);
    auto copy = track(QStringLiteral("aaaa"), QStringLiteral("/elsewhere/copy.mp3"),
                      QStringLiteral("Copy.mp3"));

    EXPECT_FALSE(dao.addTrackToDB(first, true));
    EXPECT_TRUE(dao.addTrackToDB(copy, true)) << "the second is a duplicate";

    EXPECT_EQ(peek(audioCount()), QStringList{QStringLiteral("1")});
    const AudioPtr stored = dao.getById(QStringLiteral("audioByCode"), QStringLiteral("aaaa"));
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->isStored());
    EXPECT_EQ(stored->fileURL, QStringLiteral("/music/one.mp3"));
    EXPECT_EQ(stored->name, QStringLiteral("One.mp3"));
    EXPECT_EQ(stored->artist, QStringLiteral("Artist"));
    EXPECT_EQ(stored->modDate, first->modDate);
    // Fields the catalogue does not copy stay behind.
    EXPECT_FALSE(stored->duration);
    EXPECT_FALSE(stored->markedForDeletion);
    EXPECT_FALSE(stored->partiallyDownloaded);
    // The caller's records stay detached.
    EXPECT_FALSE(first->isStored());
    EXPECT_FALSE(copy->isStored());
    EXPECT_EQ(StoreLog::count(QStringLiteral("=== Duplicates in the DB!")), 1);
    // A duplicate of a track that is not saved yet is one all the same.
    EXPECT_FALSE(dao.addTrackToDB(track(QStringLiteral("bbbb"), QStringLiteral("/b.mp3")), false));
    EXPECT_TRUE(dao.addTrackToDB(track(QStringLiteral("bbbb"), QStringLiteral("/c.mp3")), false));
    EXPECT_FALSE(dao.addTrackToDB(nullptr, true));
}

TEST_F(StoreTest, TracksWithoutANameAreStoredAsUnknown) {
    dao.addTrackToDB(track(QStringLiteral("a"), QStringLiteral("/a.mp3"), QString()), true);
    dao.addTrackToDB(track(QStringLiteral("b"), QStringLiteral("/b.mp3"), std::nullopt), true);
    EXPECT_EQ(dao.getById(QStringLiteral("audioByCode"), QStringLiteral("a"))->name,
              QStringLiteral("Unknown"));
    EXPECT_EQ(dao.getById(QStringLiteral("audioByCode"), QStringLiteral("b"))->name,
              QStringLiteral("Unknown"));
}

TEST_F(StoreTest, UnreadableFilesShareTheEmptyChecksum) {
    EXPECT_FALSE(dao.addTrackToDB(track(QString(), QStringLiteral("/x.mp3")), true));
    EXPECT_TRUE(dao.addTrackToDB(track(QStringLiteral(""), QStringLiteral("/y.mp3")), true));
    EXPECT_EQ(dao.getSize(QStringLiteral("Audio")), 1);
}

TEST_F(StoreTest, IsFileInDBComparesTheWholePathExactly) {
    dao.addTrackToDB(track(QStringLiteral("a"), QStringLiteral("/Music/Song.mp3")), true);
    dao.addTrackToDB(track(QStringLiteral("b"), QStringLiteral("/Music/Folder/")), true);
    EXPECT_TRUE(dao.isFileInDB(QStringLiteral("/Music/Song.mp3")));
    EXPECT_FALSE(dao.isFileInDB(QStringLiteral("/music/song.mp3")));
    EXPECT_FALSE(dao.isFileInDB(QStringLiteral("/Music/Song.mp3/")));
    EXPECT_FALSE(dao.isFileInDB(QStringLiteral("/Music/Song")));
    EXPECT_TRUE(dao.isFileInDB(QStringLiteral("/Music/Folder/")));
    EXPECT_FALSE(dao.isFileInDB(QStringLiteral("/Music/Folder")));
    EXPECT_FALSE(dao.isFileInDB(QString()));
}

TEST_F(StoreTest, OnePassReadsForLargeLibraries) {
    auto cloudTrack =
        track(QStringLiteral("c1"), QStringLiteral("/m/Cloud.mp3"), QStringLiteral("Cloud.mp3"));
    cloudTrack->userMediaID = QStringLiteral("4711");
    cloudTrack->downloadable = true;
    auto local =
        track(QStringLiteral("c2"), QStringLiteral("/m/Local.mp3"), QStringLiteral("Local.mp3"));
    local->userMediaID.reset();
    local->downloadable.reset();
    auto pathless = track(QStringLiteral("c3"), QString(), QStringLiteral("Pathless.mp3"));
    pathless->fileURL.reset();
    pathless->userMediaID = QStringLiteral("4712");
    for (const AudioPtr &t : {cloudTrack, local, pathless})
        dao.addTrackToDB(t, true);
    // Not saved yet: read all the same.
    dao.addTrackToDB(track(QStringLiteral("c4"), QStringLiteral("/m/Pending.mp3"),
                           QStringLiteral("Pending.mp3")),
                     false);

    EXPECT_EQ(dao.storedFilePaths(),
              (QSet<QString>{QStringLiteral("/m/Cloud.mp3"), QStringLiteral("/m/Local.mp3"),
                             QStringLiteral("/m/Pending.mp3")}));

    const GenericDAO::TrackIndex index = dao.storedTrackIndex();
    // The fixture's tracks carry the "-1" of a track not yet on the service.
    EXPECT_EQ(index.userMediaIDs, (QSet<QString>{QStringLiteral("4711"), QStringLiteral("4712"),
                                                 QStringLiteral("-1")}));
    ASSERT_EQ(index.byChecksum.size(), 4);
    for (const QString &checksum :
         {QStringLiteral("c1"), QStringLiteral("c2"), QStringLiteral("c3"), QStringLiteral("c4")}) {
        const AudioPtr stored = dao.getByObjectID(index.byChecksum.value(checksum));
        ASSERT_TRUE(stored) << checksum.toStdString();
        EXPECT_EQ(stored->checksum, checksum);
    }
    EXPECT_EQ(dao.getByObjectID(index.byChecksum.value(QStringLiteral("c1")))->fileURL,
              QStringLiteral("/m/Cloud.mp3"));
    EXPECT_EQ(dao.getByObjectID(0), nullptr);
    EXPECT_EQ(dao.getByObjectID(987654), nullptr);

    const auto names = [](const QList<AudioPtr> &tracks) {
        QStringList result;
        for (const AudioPtr &t : tracks)
            result << t->name.value_or(QStringLiteral("?"));
        return result;
    };
    // By name; "never answered" is a value of its own, not "no".
    EXPECT_EQ(names(dao.tracksByDownloadable(true)), QStringList{QStringLiteral("Cloud.mp3")});
    EXPECT_EQ(names(dao.tracksByDownloadable(false)),
              (QStringList{QStringLiteral("Pathless.mp3"), QStringLiteral("Pending.mp3")}));
    EXPECT_EQ(names(dao.tracksByDownloadable(std::nullopt)),
              QStringList{QStringLiteral("Local.mp3")});
}

TEST_F(StoreTest, OnePassReadsOfAnEmptyStore) {
    EXPECT_TRUE(dao.storedFilePaths().isEmpty());
    const GenericDAO::TrackIndex index = dao.storedTrackIndex();
    EXPECT_TRUE(index.userMediaIDs.isEmpty());
    EXPECT_TRUE(index.byChecksum.isEmpty());
    EXPECT_TRUE(dao.tracksByDownloadable(true).isEmpty());
    EXPECT_TRUE(dao.tracksByDownloadable(std::nullopt).isEmpty());
}

TEST_F(StoreTest, PendingChangesAreVisibleUntilSavedAndThenCommitted) {
    StoreContext *context = StoreSetup::instance().managedObjectContext();
    ASSERT_NE(context, nullptr);
    QSignalSpy saves(&StoreSetup::instance(), &StoreSetup::didSave);
    EXPECT_FALSE(context->hasChanges());

    dao.addTrackToDB(track(QStringLiteral("p"), QStringLiteral("/p.mp3")), false);
    EXPECT_TRUE(context->hasChanges());
    EXPECT_TRUE(dao.isFileInDB(QStringLiteral("/p.mp3")));
    EXPECT_EQ(dao.getSize(QStringLiteral("Audio")), 1);
    EXPECT_EQ(peek(audioCount()), QStringList{QStringLiteral("0")});
    EXPECT_EQ(saves.count(), 0);

    EXPECT_TRUE(context->save());
    EXPECT_FALSE(context->hasChanges());
    EXPECT_EQ(peek(audioCount()), QStringList{QStringLiteral("1")});
    EXPECT_EQ(saves.count(), 1);

    // Forgotten changes are gone for everyone.
    dao.addTrackToDB(track(QStringLiteral("q"), QStringLiteral("/q.mp3")), false);
    context->reset();
    EXPECT_FALSE(context->hasChanges());
    EXPECT_FALSE(dao.isFileInDB(QStringLiteral("/q.mp3")));
}

TEST_F(StoreTest, DeleteAllOfAnEmptyEntityStillSaves) {
    dao.addTrackToDB(track(QStringLiteral("p"), QStringLiteral("/p.mp3")), false);
    dao.deleteAll(QStringLiteral("User"));
    EXPECT_FALSE(StoreSetup::instance().managedObjectContext()->hasChanges());
    EXPECT_EQ(peek(audioCount()), QStringList{QStringLiteral("1")});
}

TEST_F(StoreTest, EmptyEntitiesYieldNothing) {
    EXPECT_EQ(dao.uniqueResult<User>(), nullptr);
    EXPECT_EQ(dao.uniqueResult<Audio>(), nullptr);
    EXPECT_EQ(dao.getById(QStringLiteral("audioByCode"), QStringLiteral("none")), nullptr);
    EXPECT_TRUE(dao.getAll<Audio>().isEmpty());
    EXPECT_EQ(dao.getUserFromDB(), nullptr);
    EXPECT_TRUE(StoreLog::contains(QStringLiteral("ERROR ")));
}

TEST_F(StoreTest, SaveInsertsOnceThenUpdatesTheSameRecord) {
    auto user = std::make_shared<User>();
    user->id = QStringLiteral("1");
    user->username = QStringLiteral("b@example.com");
    user->firstName = QStringLiteral("Ann");
    dao.save(user);
    ASSERT_TRUE(user->isStored());

    user->firstName = QStringLiteral("Anna");
    dao.save(user);
    EXPECT_EQ(dao.getSize(QStringLiteral("User")), 1);
    const UserPtr loaded = dao.getUserFromDB();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(*loaded, *user);
    EXPECT_EQ(peek(QStringLiteral("SELECT firstName FROM \"User\"")),
              QStringList{QStringLiteral("Anna")});

    auto other = std::make_shared<User>();
    other->username = QStringLiteral("a@example.com");
    dao.save(other);
    EXPECT_EQ(dao.getUserFromDB()->username, QStringLiteral("b@example.com"));

    // A record whose row is gone is inserted again.
    dao.delete_(user);
    EXPECT_EQ(dao.getSize(QStringLiteral("User")), 1);
    dao.save(user);
    EXPECT_EQ(dao.getSize(QStringLiteral("User")), 2);
}

TEST_F(StoreTest, EveryAudioFieldSurvivesTheStore) {
    auto audio = track(QStringLiteral("f"), QStringLiteral("/f.m4a"), QStringLiteral("F.m4a"));
    audio->duration = 1;
    audio->durationTime = QStringLiteral("0:01");
    audio->encrypted = false;
    audio->fileExtension = QStringLiteral("m4a");
    audio->markedForDeletion = true;
    audio->partiallyDownloaded = 0;
    audio->retries = 0;
    audio->sequence = 7;
    audio->songName = QStringLiteral("Ünïcode — song");
    audio->artist = QString();
    audio->album = QStringLiteral("Album");
    audio->releaseYear = QStringLiteral("1999");
    audio->downloadable = true;
    audio->modDate = QDateTime::fromMSecsSinceEpoch(86'400'000, Qt::UTC);
    dao.save(audio);
    const AudioPtr stored = dao.getById(QStringLiteral("audioByCode"), QStringLiteral("f"));
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, *audio);
}

TEST_F(StoreTest, NamedQueriesSearchesAndCounts) {
    const QStringList names{QStringLiteral("beta"), QStringLiteral("Alpha"), QStringLiteral("Ébc"),
                            QStringLiteral("Gamma"), QStringLiteral("éaa")};
    for (int i = 0; i < names.size(); ++i) {
        auto audio = track(QStringLiteral("c%1").arg(i), QStringLiteral("/%1").arg(i), names[i]);
        if (i >= 3)
            audio->userMediaID.reset();
        else
            audio->userMediaID = QStringLiteral("%1").arg(100 + i);
        dao.addTrackToDB(audio, true);
    }
    EXPECT_EQ(dao.getById(QStringLiteral("audioByUserMediaID"), QStringLiteral("101"),
                          QStringLiteral("userMediaID"),
                          StoreSetup::instance().managedObjectContext())
                  ->name,
              QStringLiteral("Alpha"));
    // Unsynchronised tracks: no identifier yet.
    EXPECT_EQ(dao.getSizeUsingFetchRequest(QStringLiteral("audioByUserMediaID")), 2);

    const auto byName = dao.search(QStringLiteral("audioByCode"),
                                   {{QStringLiteral("checksum"), QStringLiteral("c0")}});
    ASSERT_EQ(byName.size(), 1);
    QStringList sorted;
    for (const AudioPtr &audio : dao.getAll<Audio>())
        sorted << *audio->name;
    // Case-insensitive beyond ASCII: "éaa" before "Ébc".
    EXPECT_EQ(sorted,
              (QStringList{QStringLiteral("Alpha"), QStringLiteral("beta"), QStringLiteral("Gamma"),
                           QStringLiteral("éaa"), QStringLiteral("Ébc")}));
    const auto limited = dao.search(QStringLiteral("audioByUserMediaID"), {}, 1);
    ASSERT_EQ(limited.size(), 1);
    EXPECT_EQ(limited.first()->name, QStringLiteral("Gamma"));

    auto model = std::make_shared<Audio>();
    model->userMediaID = QStringLiteral("c2");
    const auto viaModel = dao.search(QStringLiteral("audioByCode"), model);
    ASSERT_EQ(viaModel.size(), 1);
    EXPECT_EQ(viaModel.first()->name, QStringLiteral("Ébc"));
}

TEST_F(StoreTest, StoreFailuresBecomeEmptyResultsAndReports) {
    EXPECT_EQ(dao.getById(QStringLiteral("noSuchTemplate"), QStringLiteral("x")), nullptr);
    EXPECT_TRUE(StoreLog::contains(QStringLiteral("Error on GenericDAO.getById:checksum")));
    EXPECT_EQ(dao.getSize(QStringLiteral("Playlist")), 0);
    EXPECT_TRUE(StoreLog::contains(QStringLiteral("Error on GenericDAO.getSize:")));
    EXPECT_TRUE(dao.search(QStringLiteral("nope")).isEmpty());
    EXPECT_TRUE(StoreLog::contains(QStringLiteral("Error on GenericDAO.search:params:limit")));
    dao.deleteAll(QStringLiteral("Nope"));
    EXPECT_TRUE(StoreLog::contains(QStringLiteral("Error on GenericDAO.deleteAll:")));
    // The store is still usable afterwards.
    dao.addTrackToDB(track(QStringLiteral("a"), QStringLiteral("/a")), true);
    EXPECT_EQ(dao.getSize(QStringLiteral("Audio")), 1);
}

TEST_F(StoreTest, DeletingByQueryAndByRecord) {
    dao.addTrackToDB(track(QStringLiteral("a"), QStringLiteral("/a")), true);
    dao.addTrackToDB(track(QStringLiteral("b"), QStringLiteral("/b")), true);
    dao.deleteEntity(QStringLiteral("Audio"), QStringLiteral("checksum"), QStringLiteral("a"),
                     QStringLiteral("audioByCode"));
    // Not saved by itself.
    EXPECT_TRUE(StoreSetup::instance().managedObjectContext()->hasChanges());
    EXPECT_FALSE(dao.isFileInDB(QStringLiteral("/a")));
    dao.delete_(dao.getById(QStringLiteral("audioByCode"), QStringLiteral("b")));
    EXPECT_FALSE(StoreSetup::instance().managedObjectContext()->hasChanges());
    EXPECT_EQ(peek(audioCount()), QStringList{QStringLiteral("0")});
}

TEST_F(StoreTest, ResettingTracksKeepsTheAccount) {
    auto user = std::make_shared<User>();
    user->username = QStringLiteral("u");
    dao.save(user);
    dao.addTrackToDB(track(QStringLiteral("a"), QStringLiteral("/a")), true);
    dao.resetAllTracksInDB();
    EXPECT_TRUE(StoreLog::contains(QStringLiteral("--- RESETTING ALL TRACKS IN DB ---")));
    EXPECT_EQ(peek(audioCount()), QStringList{QStringLiteral("0")});
    EXPECT_EQ(dao.getSize(QStringLiteral("User")), 1);
}

TEST_F(StoreTest, ResetDBStartsAnEmptyStoreAtTheSameFile) {
    auto user = std::make_shared<User>();
    user->username = QStringLiteral("u");
    dao.save(user);
    dao.addTrackToDB(track(QStringLiteral("a"), QStringLiteral("/a")), true);
    dao.addTrackToDB(track(QStringLiteral("b"), QStringLiteral("/b")), false);

    dao.resetDB();
    EXPECT_TRUE(StoreLog::contains(QStringLiteral("[resetDB] @class:GenericDAO")));
    EXPECT_TRUE(StoreLog::contains(QStringLiteral("New database created successfully!")));
    EXPECT_TRUE(StoreLog::contains(QStringLiteral("coordinator: ") + storeFile()));
    EXPECT_EQ(dao.getSize(QStringLiteral("Audio")), 0);
    EXPECT_EQ(dao.getSize(QStringLiteral("User")), 0);
    EXPECT_FALSE(StoreSetup::instance().managedObjectContext()->hasChanges());
    EXPECT_EQ(peek(QStringLiteral("PRAGMA user_version")),
              QStringList{QString::number(StoreSchema::Version)});

    dao.addTrackToDB(track(QStringLiteral("a"), QStringLiteral("/a")), true);
    EXPECT_EQ(peek(audioCount()), QStringList{QStringLiteral("1")});
}

TEST_F(StoreTest, FingerprintIdentifiersAndTheTrackDump) {
    dao.addTrackToDB(track(QStringLiteral("a"), QStringLiteral("/a"), QStringLiteral("A.mp3")),
                     true);
    dao.addTrackToDB(track(QStringLiteral("b"), QStringLiteral("/b"), QStringLiteral("B.mp3")),
                     true);
    dao.addEchoNestID(QStringLiteral("a"), QStringLiteral("TR123"));
    EXPECT_TRUE(StoreLog::contains(QStringLiteral("Adding EchoNest ID: TR123 for Audio ID: a")));
    EXPECT_EQ(peek(QStringLiteral("SELECT fingerPrintID FROM \"Audio\" WHERE checksum='a'")),
              QStringList{QStringLiteral("TR123")});

    const auto before = StoreLog::lines().size();
    dao.showTracksInDB();
    const QStringList lines = StoreLog::lines().mid(before);
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[0], QStringLiteral("========="));
    EXPECT_EQ(lines[1], QStringLiteral("Tracks Amount in DB: 2"));
    EXPECT_EQ(lines[2], QStringLiteral("Track: B.mp3 | MD5: b | FP: -1 | MediaID: -1"));
    EXPECT_EQ(lines[3], QStringLiteral("Track: A.mp3 | MD5: a | FP: TR123 | MediaID: -1"));
    EXPECT_EQ(lines[4], QStringLiteral("========="));
}

TEST_F(StoreTest, MediaRecordsGetTheirDefaultsAndKeepTransientsOut) {
    auto media = std::make_shared<Media>();
    media->name = QStringLiteral("M");
    media->previousSyncStatus = 3;
    dao.save(media);
    EXPECT_EQ(media->downloaded, 0);
    EXPECT_EQ(media->retries, 0);
    EXPECT_FALSE(media->previousSyncStatus);
    const auto stored = dao.getAll<Media>();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored.first()->downloadBlocked, 0);
    EXPECT_EQ(stored.first()->name, QStringLiteral("M"));
    EXPECT_EQ(dao.getSize(QStringLiteral("Media")), 1);
}
