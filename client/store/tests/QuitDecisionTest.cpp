#include "StoreFixture.h"

#include <QCoreApplication>
#include <QHash>
#include <QTranslator>

#include <csignal>

#include <sys/resource.h>

namespace {

using Reply = StoreSetup::TerminateReply;

// While alive, every write to a regular file fails as on a full disk (the
// file size limit of the process is one byte), so saving the store fails.
class FullDisk {
public:
    FullDisk() {
        std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limit = m_saved;
        limit.rlim_cur = 1;
        m_active = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FullDisk() { release(); }
    bool active() const { return m_active; }
    void release() {
        if (m_active)
            ::setrlimit(RLIMIT_FSIZE, &m_saved);
        m_active = false;
    }

private:
    rlimit m_saved{};
    bool m_active = false;
};

struct Hooks {
    int alerts = 0;
    int presentations = 0;
    QuitAlertTexts shown;
    StoreUiHooks make(bool resolve, bool quitAnyway) {
        StoreUiHooks hooks;
        hooks.presentError = [this, resolve](const AppError &) {
            ++presentations;
            return resolve;
        };
        hooks.askQuitAnyway = [this, quitAnyway](const QuitAlertTexts &texts) {
            ++alerts;
            shown = texts;
            return quitAnyway;
        };
        return hooks;
    }
};

} // namespace

TEST_F(StoreTest, QuittingWithoutAStoreDoesNotCreateOne) {
    Hooks hooks;
    EXPECT_EQ(StoreSetup::instance().applicationShouldTerminate(hooks.make(false, false)),
              Reply::TerminateNow);
    EXPECT_FALSE(QFile::exists(storeFile()));
    EXPECT_EQ(hooks.alerts + hooks.presentations, 0);
}

TEST_F(StoreTest, QuittingWithNothingToSaveNeverAsks) {
    dao.addTrackToDB(track(QStringLiteral("a"), QStringLiteral("/a")), true);
    Hooks hooks;
    EXPECT_EQ(StoreSetup::instance().applicationShouldTerminate(hooks.make(false, false)),
              Reply::TerminateNow);
    EXPECT_EQ(hooks.alerts + hooks.presentations, 0);
}

TEST_F(StoreTest, QuittingSavesPendingChanges) {
    dao.addTrackToDB(track(QStringLiteral("a"), QStringLiteral("/a")), false);
    Hooks hooks;
    EXPECT_EQ(StoreSetup::instance().applicationShouldTerminate(hooks.make(false, false)),
              Reply::TerminateNow);
    EXPECT_EQ(peek(QStringLiteral("SELECT count(*) FROM \"Audio\"")),
              QStringList{QStringLiteral("1")});
    EXPECT_EQ(hooks.alerts, 0);
}

TEST_F(StoreTest, QuittingIsCancelledWhenOpenEditsCannotBeCommitted) {
    dao.addTrackToDB(track(QStringLiteral("a"), QStringLiteral("/a")), false);
    Hooks hooks;
    StoreUiHooks ui = hooks.make(false, true);
    ui.commitEditing = [] { return false; };
    EXPECT_EQ(StoreSetup::instance().applicationShouldTerminate(ui), Reply::TerminateCancel);
    EXPECT_TRUE(StoreLog::contains(QStringLiteral("unable to commit editing to terminate")));
    EXPECT_TRUE(StoreSetup::instance().managedObjectContext()->hasChanges());
}

class FailingQuitTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        dao.addTrackToDB(track(QStringLiteral("a"), QStringLiteral("/a")), true);
        dao.addTrackToDB(track(QStringLiteral("b"), QStringLiteral("/b")), false);
        disk = std::make_unique<FullDisk>();
        ASSERT_TRUE(disk->active());
    }
    void TearDown() override {
        disk.reset();
        StoreTest::TearDown();
    }
    // After the disk has room again the store works on.
    void expectStoreStillWorks() {
        disk->release();
        dao.addTrackToDB(track(QStringLiteral("c"), QStringLiteral("/c")), true);
        EXPECT_EQ(peek(QStringLiteral("SELECT count(*) FROM \"Audio\" WHERE checksum='c'")),
                  QStringList{QStringLiteral("1")});
        EXPECT_FALSE(StoreSetup::instance().managedObjectContext()->hasChanges());
    }
    std::unique_ptr<FullDisk> disk;
    Hooks hooks;
};

TEST_F(FailingQuitTest, AResolvedErrorCancelsWithoutAsking) {
    EXPECT_EQ(StoreSetup::instance().applicationShouldTerminate(hooks.make(true, true)),
              Reply::TerminateCancel);
    EXPECT_EQ(hooks.presentations, 1);
    EXPECT_EQ(hooks.alerts, 0);
    expectStoreStillWorks();
}

TEST_F(FailingQuitTest, QuitAnywayQuits) {
    EXPECT_EQ(StoreSetup::instance().applicationShouldTerminate(hooks.make(false, true)),
              Reply::TerminateNow);
    EXPECT_EQ(hooks.presentations, 1);
    EXPECT_EQ(hooks.alerts, 1);
    EXPECT_EQ(hooks.shown.message,
              QStringLiteral("Could not save changes while quitting. Quit anyway?"));
    EXPECT_EQ(hooks.shown.informativeText,
              QStringLiteral("Quitting now will lose any changes you have made since the last "
                             "successful save"));
    EXPECT_EQ(hooks.shown.quitButton, QStringLiteral("Quit anyway"));
    EXPECT_EQ(hooks.shown.cancelButton, QStringLiteral("Cancel"));
}

// A deployment's translation of the alert, installed as the application's.
class GermanAlert : public QTranslator {
public:
    QString translate(const char *, const char *source, const char *, int) const override {
        static const QHash<QByteArray, QString> texts = {
            {"Could not save changes while quitting. Quit anyway?",
             QStringLiteral("Änderungen konnten nicht gesichert werden. Trotzdem beenden?")},
            {"Quitting now will lose any changes you have made since the last successful save",
             QStringLiteral("Alle Änderungen seit dem letzten Sichern gehen verloren")},
            {"Quit anyway", QStringLiteral("Trotzdem beenden")},
            {"Cancel", QStringLiteral("Abbrechen")}};
        return texts.value(source);
    }
    bool isEmpty() const override { return false; }
};

TEST_F(FailingQuitTest, TheAlertSpeaksTheInstalledLanguage) {
    GermanAlert german;
    QCoreApplication::installTranslator(&german);
    const Reply reply = StoreSetup::instance().applicationShouldTerminate(hooks.make(false, false));
    QCoreApplication::removeTranslator(&german);
    EXPECT_EQ(reply, Reply::TerminateCancel);
    EXPECT_EQ(hooks.shown.message,
              QStringLiteral("Änderungen konnten nicht gesichert werden. Trotzdem beenden?"));
    EXPECT_EQ(hooks.shown.informativeText,
              QStringLiteral("Alle Änderungen seit dem letzten Sichern gehen verloren"));
    EXPECT_EQ(hooks.shown.quitButton, QStringLiteral("Trotzdem beenden"));
    EXPECT_EQ(hooks.shown.cancelButton, QStringLiteral("Abbrechen"));
}

TEST_F(FailingQuitTest, CancelKeepsTheApplicationRunning) {
    EXPECT_EQ(StoreSetup::instance().applicationShouldTerminate(hooks.make(false, false)),
              Reply::TerminateCancel);
    EXPECT_EQ(hooks.alerts, 1);
    // The saved track is still there; the failed save could not keep its own.
    EXPECT_TRUE(dao.isFileInDB(QStringLiteral("/a")));
    expectStoreStillWorks();
}

TEST_F(FailingQuitTest, TheSaveCommandPresentsItsFailure) {
    StoreUiHooks ui = hooks.make(false, false);
    StoreSetup::instance().saveAction(ui);
    EXPECT_EQ(hooks.presentations, 1);
    expectStoreStillWorks();
    dao.addTrackToDB(track(QStringLiteral("d"), QStringLiteral("/d")), false);
    StoreSetup::instance().saveAction(ui);
    EXPECT_EQ(hooks.presentations, 1);
    EXPECT_FALSE(StoreSetup::instance().managedObjectContext()->hasChanges());
}
