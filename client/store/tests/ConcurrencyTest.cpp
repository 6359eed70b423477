#include "StoreFixture.h"

#include <atomic>
#include <thread>

// The store is used from the main thread and the sync stages at once.
TEST_F(StoreTest, TwoThreadsShareTheStoreSafely) {
    constexpr int Tracks = 150;
    std::atomic<bool> writerDone{false};
    // A plain thread, as the stage queue's worker is to the store.
    std::thread writer([&] {
        for (int i = 0; i < Tracks; ++i) {
            dao.addTrackToDB(track(QStringLiteral("w%1").arg(i), QStringLiteral("/w/%1").arg(i)),
                             i % 3 == 0);
        }
        StoreSetup::instance().managedObjectContext()->save();
        writerDone = true;
    });
    int reads = 0;
    while (!writerDone) {
        dao.isFileInDB(QStringLiteral("/w/0"));
        dao.getById(QStringLiteral("audioByCode"), QStringLiteral("w1"));
        dao.getSize(QStringLiteral("Audio"));
        // Adding the same tracks from here: each checksum is stored once.
        dao.addTrackToDB(track(QStringLiteral("w%1").arg(reads % Tracks), QStringLiteral("/main")),
                         true);
        ++reads;
    }
    writer.join();

    EXPECT_GT(reads, 0);
    const int stored = dao.getSize(QStringLiteral("Audio"));
    EXPECT_EQ(stored, Tracks);
    for (int i = 0; i < Tracks; ++i)
        ASSERT_TRUE(dao.getById(QStringLiteral("audioByCode"), QStringLiteral("w%1").arg(i))) << i;
    EXPECT_EQ(peek(QStringLiteral("SELECT count(*) FROM \"Audio\"")),
              QStringList{QString::number(stored)});
    EXPECT_EQ(peek(QStringLiteral("SELECT count(*) - count(DISTINCT checksum) FROM \"Audio\"")),
              QStringList{QStringLiteral("0")});
}
