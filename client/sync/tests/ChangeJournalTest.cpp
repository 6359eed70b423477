// When the journal tells a scan that a tree is quiet, and when it must not.
#include "sync/ChangeJournal.h"

#include <gtest/gtest.h>

namespace {

TEST(ChangeJournal, ATreeIsQuietOnlyWhenWatchedWholeBeforeTheMarkAndUnchangedSince) {
    ChangeJournal journal;
    journal.watching({"/music", "/music2/"});
    const ChangeJournal::Mark beforeComplete = journal.mark();
    journal.complete();
    // What happened before the watching was complete is unknown.
    EXPECT_FALSE(journal.quietSince(QStringLiteral("/music"), beforeComplete));

    ChangeJournal::Mark mark = journal.mark();
    EXPECT_TRUE(journal.quietSince(QStringLiteral("/music"), mark));
    EXPECT_TRUE(journal.quietSince(QStringLiteral("/music/"), mark));
    EXPECT_TRUE(journal.quietSince(QStringLiteral("/music2"), mark));
    EXPECT_FALSE(journal.quietSince(QStringLiteral("/other"), mark));

    // A change deep in one tree: that tree only, and not a tree whose name
    // merely starts the same.
    journal.changed("/music2/a/b");
    EXPECT_TRUE(journal.quietSince(QStringLiteral("/music"), mark));
    EXPECT_FALSE(journal.quietSince(QStringLiteral("/music2"), mark));
    // A change before the mark is what the scan that took the mark saw.
    mark = journal.mark();
    EXPECT_TRUE(journal.quietSince(QStringLiteral("/music2"), mark));
    journal.changed("/music");
    EXPECT_FALSE(journal.quietSince(QStringLiteral("/music"), mark));
}

TEST(ChangeJournal, LostEventsAnUnreportingFileSystemOrNewTreesMakeNoTreeQuiet) {
    ChangeJournal journal;
    journal.watching({"/music", "/nas"});
    journal.unreported("/nas/");
    journal.complete();
    ChangeJournal::Mark mark = journal.mark();
    EXPECT_TRUE(journal.quietSince(QStringLiteral("/music"), mark));
    EXPECT_FALSE(journal.quietSince(QStringLiteral("/nas"), mark));

    // Events lost: nothing is quiet until the trees are watched again, and
    // then only from that moment on.
    journal.incomplete();
    EXPECT_FALSE(journal.quietSince(QStringLiteral("/music"), journal.mark()));
    journal.complete();
    EXPECT_FALSE(journal.quietSince(QStringLiteral("/music"), mark));
    EXPECT_TRUE(journal.quietSince(QStringLiteral("/music"), journal.mark()));

    // Other trees: none is whole before its watching is complete.
    journal.watching({"/music"});
    EXPECT_FALSE(journal.quietSince(QStringLiteral("/music"), journal.mark()));
}

} // namespace
