// The decisions a changed collection leads to, over the findings of a scan
// and a store described in memory.
#include "sync/CollectionChanges.h"

#include <gtest/gtest.h>

#include <QHash>
#include <QSet>

namespace {

using namespace CollectionChanges;

StoredFile stored(qint64 id, const QString &path, const QString &checksum, qint64 inode,
                  const QString &recognised = QStringLiteral("-1")) {
    StoredFile file;
    file.objectID = id;
    file.path = path;
    file.checksum = checksum;
    file.userMediaID = QString::number(id * 100);
    file.fingerPrintID = recognised;
    file.stamp = FileStamp{1000, 5, 1, inode};
    return file;
}

AudioPtr found(const QString &path, const QString &checksum, qint64 inode, qint64 previous = 0) {
    auto track = std::make_shared<Audio>();
    track->fileURL = path;
    track->checksum = checksum;
    setStamp(*track, FileStamp{2000, 9, 1, inode});
    track->previousObjectID = previous;
    return track;
}

struct World {
    QList<StoredFile> store;
    QSet<QString> onDisk;

    Lookup lookup() const {
        Lookup l;
        l.byChecksum = [this](const QString &checksum) -> std::optional<StoredFile> {
            for (const StoredFile &file : store)
                if (file.checksum == checksum)
                    return file;
            return std::nullopt;
        };
        l.checksumOf = [](const QString &) { return QString(); };
        l.exists = [this](const QString &path) { return onDisk.contains(path); };
        return l;
    }
};

QStringList paths(const QList<AudioPtr> &tracks) {
    QStringList list;
    for (const AudioPtr &t : tracks)
        list << t->fileURL.value_or(QString());
    return list;
}

TEST(CollectionChangesTest, TheSameBytesElsewhereAreAMoveWhenTheOldPathWentElseACopy) {
    World world;
    world.store = {stored(1, "/m/A/moved.mp3", "aaa", 11), stored(2, "/m/A/kept.mp3", "bbb", 12),
                   stored(3, "/m/A/touched.mp3", "ccc", 13)};
    world.onDisk = {"/m/A/kept.mp3", "/m/A/touched.mp3"};
    const QList<StoredFile> gone = {world.store.at(0)};

    const Decisions d =
        decide({found("/m/B/moved.mp3", "aaa", 21), found("/m/B/copy.mp3", "bbb", 22),
                found("/m/A/touched.mp3", "ccc", 13, 3), found("/m/B/new.mp3", "ddd", 24)},
               gone, world.lookup());

    ASSERT_EQ(d.moves.size(), 1);
    EXPECT_EQ(d.moves.first().first.objectID, 1);
    EXPECT_EQ(d.moves.first().second->fileURL, QStringLiteral("/m/B/moved.mp3"));
    EXPECT_EQ(paths(d.copies), QStringList{"/m/B/copy.mp3"});
    // Read again after a touch: the same bytes, only a new stamp.
    ASSERT_TRUE(d.restamped.contains(3));
    EXPECT_EQ(d.restamped.value(3).size, 2000);
    EXPECT_EQ(paths(d.toIdentify), QStringList{"/m/B/new.mp3"});
    EXPECT_TRUE(d.gone.isEmpty()) << "the moved track is accounted for";

    // A second copy of a track that moved in the same scan is a copy.
    const Decisions twice =
        decide({found("/m/B/moved.mp3", "aaa", 21), found("/m/C/moved.mp3", "aaa", 31)}, gone,
               world.lookup());
    EXPECT_EQ(twice.moves.size(), 1);
    EXPECT_EQ(paths(twice.copies), QStringList{"/m/C/moved.mp3"});
}

TEST(CollectionChangesTest, NewVersionsAreKnownByPathByInodeOrByTheRecognisedTrack) {
    World world;
    world.store = {stored(1, "/m/retagged.mp3", "old1", 11),
                   stored(2, "/m/renamed.mp3", "old2", 12),
                   stored(3, "/m/rewritten.mp3", "old3", 13, "GN-3"),
                   stored(4, "/m/deleted.mp3", "old4", 14, "GN-4")};
    const QList<StoredFile> gone = {world.store.at(1), world.store.at(2), world.store.at(3)};

    const Decisions d = decide({found("/m/retagged.mp3", "new1", 11, 1),
                                found("/m/renamed and edited.mp3", "new2", 12),
                                found("/m/Artist - Title.mp3", "new3", 99)},
                               gone, world.lookup());
    ASSERT_EQ(d.toIdentify.size(), 3);
    EXPECT_EQ(d.toIdentify.at(0)->previousObjectID, 1);
    EXPECT_EQ(d.toIdentify.at(1)->previousObjectID, 2) << "the same inode, renamed";
    EXPECT_EQ(d.toIdentify.at(2)->previousObjectID, 0) << "a new inode: not yet known";
    QList<StoredFile> left = d.gone;
    ASSERT_EQ(left.size(), 2);

    // Once recognised, the tagger's new file is the rewritten track's new
    // version; the deleted one stays unaccounted for.
    Audio unknown = *d.toIdentify.at(2);
    unknown.fingerPrintID = QStringLiteral("-1");
    EXPECT_FALSE(linkByRecognition(unknown, left));
    Audio recognised = *d.toIdentify.at(2);
    recognised.fingerPrintID = QStringLiteral("GN-3");
    EXPECT_TRUE(linkByRecognition(recognised, left));
    EXPECT_EQ(recognised.previousObjectID, 3);
    ASSERT_EQ(left.size(), 1);
    EXPECT_EQ(left.first().objectID, 4);
    Audio again = *d.toIdentify.at(2);
    again.fingerPrintID = QStringLiteral("GN-3");
    EXPECT_FALSE(linkByRecognition(again, left)) << "a gone track is replaced once";
}

TEST(CollectionChangesTest, ACloudItemIsAnIdentifierAboveZero) {
    EXPECT_TRUE(isCloudItem(QStringLiteral("42")));
    EXPECT_FALSE(isCloudItem(QStringLiteral("-1")));
    EXPECT_FALSE(isCloudItem(QStringLiteral("0")));
    EXPECT_FALSE(isCloudItem(QString()));
    EXPECT_FALSE(isCloudItem(std::nullopt));
}

} // namespace
