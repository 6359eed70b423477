// When the journal tells a scan that a tree is quiet, and when it must not.
#include "sync/ChangeJournal.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class ChangeJournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char *name : {"music", "music2", "nas"})
            ASSERT_TRUE(QDir().mkpath(dir.filePath(QLatin1String(name))));
    }
    QByteArray path(const char *name) const {
        return QFile::encodeName(dir.filePath(QLatin1String(name)));
    }
    QString tree(const char *name) const { return dir.filePath(QLatin1String(name)); }
    void complete(const char *name) {
        journal.complete(path(name), *ChangeJournal::identityOf(path(name)));
    }

    QTemporaryDir dir;
    ChangeJournal journal;
};

TEST_F(ChangeJournalTest, ATreeIsQuietOnlyWhenWatchedWholeBeforeTheMarkAndUnchangedSince) {
    journal.watching({path("music"), path("music2") + '/'});
    const ChangeJournal::Mark beforeComplete = journal.mark();
    complete("music");
    complete("music2");
    // What happened before the watching was complete is unknown.
    EXPECT_FALSE(journal.quietSince(tree("music"), beforeComplete));

    ChangeJournal::Mark mark = journal.mark();
    EXPECT_TRUE(journal.quietSince(tree("music"), mark));
    EXPECT_TRUE(journal.quietSince(tree("music") + '/', mark));
    EXPECT_TRUE(journal.quietSince(tree("music2"), mark));
    EXPECT_FALSE(journal.quietSince(tree("nas"), mark));

    // A change deep in one tree: that tree only, and not a tree whose name
    // merely starts the same.
    journal.changed(path("music2") + "/a/b");
    EXPECT_TRUE(journal.quietSince(tree("music"), mark));
    EXPECT_FALSE(journal.quietSince(tree("music2"), mark));
    // A change before the mark is what the scan that took the mark saw.
    mark = journal.mark();
    EXPECT_TRUE(journal.quietSince(tree("music2"), mark));
    journal.changed(path("music"));
    EXPECT_FALSE(journal.quietSince(tree("music"), mark));
}

TEST_F(ChangeJournalTest, AnUnwatchedFolderLostEventsOrAnotherFolderAtThePathMakeNoTreeQuiet) {
    journal.watching({path("music"), path("music2"), path("nas")});
    journal.unreported(path("nas") + '/');
    complete("music");
    complete("music2");
    complete("nas");
    ChangeJournal::Mark mark = journal.mark();
    EXPECT_TRUE(journal.quietSince(tree("music"), mark));
    EXPECT_FALSE(journal.quietSince(tree("nas"), mark));

    // A folder of one tree not watched: that tree is whole again only from
    // the moment every folder of it is.
    journal.incomplete(path("music2"));
    EXPECT_TRUE(journal.quietSince(tree("music"), journal.mark()));
    EXPECT_FALSE(journal.quietSince(tree("music2"), journal.mark()));
    complete("music2");
    EXPECT_FALSE(journal.quietSince(tree("music2"), mark));
    EXPECT_TRUE(journal.quietSince(tree("music2"), journal.mark()));

    // Events lost: nothing is quiet until the trees are watched again.
    journal.incomplete();
    EXPECT_FALSE(journal.quietSince(tree("music"), journal.mark()));
    complete("music");
    mark = journal.mark();
    EXPECT_TRUE(journal.quietSince(tree("music"), mark));

    // The folder at the path replaced behind the watcher's back: not the
    // tree that was watched; told of the new one, whole from then on.
    ASSERT_TRUE(QDir().rename(tree("music"), tree("music.old")));
    ASSERT_TRUE(QDir().mkpath(tree("music")));
    EXPECT_FALSE(journal.quietSince(tree("music"), journal.mark()));
    complete("music");
    EXPECT_FALSE(journal.quietSince(tree("music"), mark));
    EXPECT_TRUE(journal.quietSince(tree("music"), journal.mark()));
    ASSERT_TRUE(QDir(tree("music")).removeRecursively());
    EXPECT_FALSE(journal.quietSince(tree("music"), journal.mark()));

    // Other trees: none is whole before its watching is complete.
    journal.watching({path("music2")});
    EXPECT_FALSE(journal.quietSince(tree("music2"), journal.mark()));
}

} // namespace
