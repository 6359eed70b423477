// sonarbox-headless run as a person runs it: a process with a home of its
// own, against a real sonarbox-cloud on 127.0.0.1.
#include "ChildProcess.h"
#include "CloudProcess.h"
#include "TestEnvironment.h"
#include "TestSongs.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kEmail = QStringLiteral("ada@example.com");
const QString kPassword = QStringLiteral("correct-horse-battery");
const QString kWrongPassword = QStringLiteral("wrong-staple-4711");
const QString kStatus = QStringLiteral("--status");

QString md5Of(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(
        QCryptographicHash::hash(file.readAll(), QCryptographicHash::Md5).toHex());
}

struct Result {
    int exitCode = -1; // -1: crashed or hung
    QString out;
    QString err;
    QString all() const { return out + err; }
};

// A home folder (HOME and XDG) of its own and a configuration that points
// at `gateway`.
class Home {
public:
    explicit Home(const QString &gateway) {
        const QString home = m_dir.path();
        m_environment = {QStringLiteral("HOME=") + home,
                         QStringLiteral("XDG_CONFIG_HOME=") + home + QStringLiteral("/.config"),
                         QStringLiteral("XDG_DATA_HOME=") + home + QStringLiteral("/.local/share"),
                         QStringLiteral("XDG_CACHE_HOME=") + home + QStringLiteral("/.cache"),
                         QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                         QStringLiteral("SONARBOX_CONFIG")};
        pointAt(gateway);
    }

    void pointAt(const QString &gateway) {
        QFile ini(configFile());
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write(QStringLiteral("[service]\ngatewayBaseUrl=%1\nwebSiteUrl=%1\n"
                                 "reachabilityHost=127.0.0.1\n")
                      .arg(gateway)
                      .toUtf8());
    }

    void addToConfig(const QString &lines) {
        QFile ini(configFile());
        ASSERT_TRUE(ini.open(QIODevice::Append));
        ini.write(lines.toUtf8());
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString configFile() const { return path(QStringLiteral("sonarbox.ini")); }
    QString folder(const QString &name) const {
        QDir().mkpath(path(name));
        return path(name);
    }
    // The preferences as the program left them.
    QVariant preference(const QString &key) const {
        QSettings prefs(path(QStringLiteral(".config/Sonarbox/Sonarbox.conf")),
                        QSettings::NativeFormat);
        return prefs.value(key);
    }

    // An engine that goes on running: its standard output captured, its
    // standard error kept in a file of the home.
    bool start(ChildProcess &p, const QStringList &args) const {
        return p.start(QStringLiteral(SONARBOX_HEADLESS_EXE), arguments(args),
                       options(path(QStringLiteral("engine-errors.txt"))));
    }

    Result run(const QStringList &args, const QString &input = QString()) const {
        const QString errors = path(QStringLiteral("errors.txt"));
        QFile::remove(errors);
        const ChildProcess::Result done =
            ChildProcess::run(QStringLiteral(SONARBOX_HEADLESS_EXE), arguments(args),
                              input.toUtf8(), 120000, options(errors));
        Result r;
        r.exitCode = done.exitCode;
        r.out = QString::fromUtf8(done.output);
        QFile said(errors);
        if (said.open(QIODevice::ReadOnly))
            r.err = QString::fromUtf8(said.readAll());
        return r;
    }

    Result status() const { return run({kStatus}); }

    // The program's log file (the XDG state folder, by default under HOME).
    QString log() const {
        QFile file(path(QStringLiteral(".local/state/Sonarbox/sonarbox.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    QStringList arguments(const QStringList &args) const {
        return QStringList{QStringLiteral("--config"), configFile()} + args;
    }
    ChildProcess::Options options(const QString &errorFile) const {
        ChildProcess::Options o = ChildProcess::captured();
        o.environment = m_environment;
        o.errorFile = errorFile;
        return o;
    }

    QTemporaryDir m_dir;
    QStringList m_environment;
};

class HeadlessTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        cloud = new CloudProcess;
        ASSERT_TRUE(cloud->addUser(kEmail, kPassword));
        // Every test is an installation of its own on the one account: more
        // than the five devices an account may have by default.
        ASSERT_TRUE(cloud->start({QStringLiteral("--device-limit"), QStringLiteral("100")}));
    }
    static void TearDownTestSuite() {
        delete cloud;
        cloud = nullptr;
    }

    // Signs in and chooses an empty music folder and a download folder.
    void signInWithEmptyLibrary(const Home &home) {
        ASSERT_EQ(
            home.run({QStringLiteral("--login"), kEmail}, kPassword + QLatin1Char('\n')).exitCode,
            0);
        // Without --once (or --status) the program would go on syncing hourly.
        const Result chosen =
            home.run({QStringLiteral("--library"), home.folder("music"),
                      QStringLiteral("--download-dir"), home.folder("downloads"), kStatus});
        ASSERT_EQ(chosen.exitCode, 0) << chosen.all().toStdString();
    }

    static CloudProcess *cloud;
};

CloudProcess *HeadlessTest::cloud = nullptr;

TEST_F(HeadlessTest, LoginWithAWrongThenTheRightPasswordNeverShowsEither) {
    Home home(cloud->baseUrl());
    EXPECT_TRUE(home.status().out.contains(QStringLiteral("Account: not signed in")));

    const Result wrong =
        home.run({QStringLiteral("--login"), kEmail}, kWrongPassword + QLatin1Char('\n'));
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_TRUE(wrong.err.contains(QStringLiteral(
        "Sign-in failed: The e-mail address or password is not correct. Please try again.")))
        << wrong.err.toStdString();
    EXPECT_FALSE(wrong.all().contains(kWrongPassword));
    EXPECT_TRUE(home.status().out.contains(QStringLiteral("Account: not signed in")));

    const Result right =
        home.run({QStringLiteral("--login"), kEmail}, kPassword + QStringLiteral("\r\n"));
    EXPECT_EQ(right.exitCode, 0) << right.all().toStdString();
    EXPECT_TRUE(right.out.contains(QStringLiteral("Signed in as ada@example.com.")));
    EXPECT_FALSE(right.all().contains(kPassword));

    const Result after = home.status();
    EXPECT_EQ(after.exitCode, 0);
    EXPECT_TRUE(after.out.contains(QStringLiteral("Account: ada@example.com")))
        << after.out.toStdString();
    EXPECT_TRUE(after.out.contains(QStringLiteral("Library: not chosen yet")));
    EXPECT_TRUE(after.out.contains(QStringLiteral("Last sync: never")));

    // Nothing typed: refused before anything is sent.
    const Result empty = home.run({QStringLiteral("--login"), kEmail}, QStringLiteral("\n"));
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_TRUE(home.status().out.contains(QStringLiteral("Account: ada@example.com")));
}

TEST_F(HeadlessTest, LibraryAndDownloadFolderAreCheckedThenRecordedAsThePickerDoes) {
    Home home(cloud->baseUrl());
    const QString music = home.folder("my music");
    const QString more = home.folder("more");
    const QString missing = home.path("missing");

    const Result refused =
        home.run({QStringLiteral("--library"), music + QLatin1Char(',') + missing});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.err.contains(missing)) << refused.err.toStdString();
    // A file is no download folder, even a writable one.
    const QString file = home.path("notes.txt");
    QFile(file).open(QIODevice::WriteOnly);
    EXPECT_EQ(home.run({QStringLiteral("--library"), music, QStringLiteral("--download-dir"), file})
                  .exitCode,
              2);
    EXPECT_FALSE(home.preference(QStringLiteral("userMediaFoldersToScan")).isValid());
    EXPECT_FALSE(home.preference(QStringLiteral("UserDownloadDirectory")).isValid());
    EXPECT_TRUE(home.status().out.contains(QStringLiteral("Library: not chosen yet")));

    const QString downloads = home.folder("downloads");
    ASSERT_EQ(home.run({QStringLiteral("--library"), music + QLatin1Char(',') + more,
                        QStringLiteral("--download-dir"), downloads, kStatus})
                  .exitCode,
              0);
    EXPECT_EQ(home.preference(QStringLiteral("userPickedMediaLibrary")).toInt(), 3);
    EXPECT_EQ(home.preference(QStringLiteral("didUserPickedMediaLibrary")).toString(),
              QStringLiteral("YES"));
    const QVariantList folders = home.preference(QStringLiteral("userMediaFoldersToScan")).toList();
    ASSERT_EQ(folders.size(), 2);
    // File URLs as the folder chooser hands them over: escaped, ending in "/".
    EXPECT_EQ(folders.at(0).toString(), "file://" + home.path("my%20music/"));
    EXPECT_EQ(folders.at(1).toString(), "file://" + home.path("more/"));
    EXPECT_EQ(home.preference(QStringLiteral("UserDownloadDirectory")).toString(), downloads);

    const QString status = home.status().out;
    EXPECT_TRUE(
        status.contains(QStringLiteral("Library: these folders\n  %1/\n  %2/\n").arg(music, more)))
        << status.toStdString();
    EXPECT_TRUE(status.contains(QStringLiteral("Download folder: %1\n").arg(downloads)));

    ASSERT_EQ(home.run({QStringLiteral("--library"), QStringLiteral("music"), kStatus}).exitCode,
              0);
    EXPECT_EQ(home.preference(QStringLiteral("userPickedMediaLibrary")).toInt(), 2);
    EXPECT_TRUE(home.status().out.contains(QStringLiteral("Library: the Music folder")));
}

TEST_F(HeadlessTest, StatusCountsTheStoredTracksByWhatTheServiceSaidOfThem) {
    Home home(cloud->baseUrl());
    ASSERT_EQ(home.status().exitCode, 0); // makes the store
    // Two the service could not supply (to upload), one it could, one it never answered.
    ASSERT_EQ(ChildProcess::run(QStringLiteral("sqlite3"),
                                {home.path(QStringLiteral(".local/share/Sonarbox/Sonarbox.sqlite")),
                                 QStringLiteral("INSERT INTO Audio (checksum, downloadable) VALUES "
                                                "('a', 0), ('b', 0), ('c', 1), ('d', NULL)")})
                  .exitCode,
              0);

    const QString status = home.status().out;
    EXPECT_TRUE(status.contains(QStringLiteral("Tracks stored: 4\n"
                                               "Waiting for upload: 2\n"
                                               "Not answered by the service yet: 1\n")))
        << status.toStdString();
}

TEST_F(HeadlessTest, TracksListsEveryStoredTrackWithItsStateAndFailedOnlyTheFailures) {
    Home home(cloud->baseUrl());
    ASSERT_EQ(home.status().exitCode, 0); // makes the store
    const ChildProcess::Result sqlite = ChildProcess::run(
        QStringLiteral("sqlite3"),
        {home.path(QStringLiteral(".local/share/Sonarbox/Sonarbox.sqlite")),
         QStringLiteral(
             "INSERT INTO Audio (checksum, songName, artist, fileURL, downloadable, uploaded, "
             "failureReason, downloaded) VALUES "
             "('a', 'Anchor', 'Tide', '/m/a.mp3', 1, NULL, NULL, 0), "
             "('b', 'Buoy', 'Tide', '/m/b.mp3', 1, 1, NULL, 0), "
             "('c', 'Cove', 'Tide', '/m/c.mp3', 1, NULL, NULL, 1), "
             "('d', 'Dune', 'Tide', '/m/d.mp3', 0, NULL, NULL, 0), "
             "('e', 'Eddy', 'Tide', '/m/e.mp3', NULL, NULL, NULL, 0), "
             "('f', NULL, 'Tide', '/m/Fjord.mp3', 0, NULL, 'HTTP status 413', 0)")});
    ASSERT_EQ(sqlite.exitCode, 0) << sqlite.output.toStdString();

    const Result all = home.run({QStringLiteral("--tracks")});
    EXPECT_EQ(all.exitCode, 0) << all.all().toStdString();
    // A track without a title tag goes by its file's name, and first.
    EXPECT_EQ(all.out, QStringLiteral("failed: HTTP status 413  Tide — Fjord.mp3  (/m/Fjord.mp3)\n"
                                      "matched from the catalogue  Tide — Anchor  (/m/a.mp3)\n"
                                      "uploaded  Tide — Buoy  (/m/b.mp3)\n"
                                      "downloaded  Tide — Cove  (/m/c.mp3)\n"
                                      "waiting for upload  Tide — Dune  (/m/d.mp3)\n"
                                      "not answered yet  Tide — Eddy  (/m/e.mp3)\n"
                                      "6 tracks\n"));

    const Result failed = home.run({QStringLiteral("--tracks"), QStringLiteral("--failed")});
    EXPECT_EQ(failed.out,
              QStringLiteral("failed: HTTP status 413  Tide — Fjord.mp3  (/m/Fjord.mp3)\n"
                             "1 failed\n"));
    EXPECT_EQ(home.run({QStringLiteral("--failed")}).exitCode, 2);
}

// A limit given for the run replaces its direction's saved one (here the
// deployment's default) and leaves the other.
TEST_F(HeadlessTest, LimitsOfTheCommandLineHoldForTheRun) {
    Home home(cloud->baseUrl());
    home.addToConfig(QStringLiteral("[transfers]\ndownloadLimitKiBps=700\n"));
    const Result run =
        home.run({QStringLiteral("--once"), QStringLiteral("--limit-up"), QStringLiteral("300")});
    EXPECT_TRUE(run.out.contains(QStringLiteral("Limits: upload 300 KiB/s, download 700 KiB/s")))
        << run.all().toStdString();
    const Result lifted =
        home.run({QStringLiteral("--once"), QStringLiteral("--limit-down"), QStringLiteral("0")});
    EXPECT_TRUE(lifted.out.contains(QStringLiteral("Limits: upload no limit, download no limit")))
        << lifted.all().toStdString();

    const Result bad = home.run({QStringLiteral("--limit-down"), QStringLiteral("fast")});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(bad.err.contains(QStringLiteral(
        "--limit-down: give a whole number of KiB/s from 0 (no limit) to 1000000, not 'fast'")))
        << bad.err.toStdString();
}

TEST_F(HeadlessTest, ShareUsageSetsThePreferenceTheSettingsViewShows) {
    Home home(cloud->baseUrl());
    const Result off = home.run({QStringLiteral("--share-usage"), QStringLiteral("off")});
    EXPECT_EQ(off.exitCode, 0) << off.all().toStdString();
    EXPECT_TRUE(off.out.contains(QStringLiteral("Share anonymous usage statistics: off")));
    EXPECT_EQ(home.preference(QStringLiteral("shareUsageStatistics")).toBool(), false);
    EXPECT_FALSE(off.out.contains(QStringLiteral("Sync started")));
    EXPECT_EQ(home.run({QStringLiteral("--share-usage"), QStringLiteral("on")}).exitCode, 0);
    EXPECT_EQ(home.preference(QStringLiteral("shareUsageStatistics")).toBool(), true);
    const Result bad = home.run({QStringLiteral("--share-usage"), QStringLiteral("maybe")});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(bad.err.contains(QStringLiteral("--share-usage: give 'on' or 'off', not 'maybe'")))
        << bad.err.toStdString();
}

TEST_F(HeadlessTest, OnceRefusesToRunWithoutAnAccountALibraryOrTheService) {
    Home home(cloud->baseUrl());
    const Result unsigned_ = home.run({QStringLiteral("--once")});
    EXPECT_EQ(unsigned_.exitCode, 1);
    EXPECT_TRUE(unsigned_.err.contains(QStringLiteral("Not signed in")))
        << unsigned_.err.toStdString();

    ASSERT_EQ(home.run({QStringLiteral("--login"), kEmail}, kPassword).exitCode, 0);
    const Result noLibrary = home.run({QStringLiteral("--once")});
    EXPECT_EQ(noLibrary.exitCode, 1);
    EXPECT_TRUE(noLibrary.err.contains(QStringLiteral("No library chosen")));

    // The service goes away: the stored account cannot be signed in again.
    ASSERT_EQ(home.run({QStringLiteral("--library"), home.folder("music"), kStatus}).exitCode, 0);
    const TestEnvironment::RefusingPort nobody;
    home.pointAt(nobody.url());
    const Result unreachable = home.run({QStringLiteral("--once")});
    EXPECT_EQ(unreachable.exitCode, 1) << unreachable.all().toStdString();
    EXPECT_TRUE(
        home.log().contains(QStringLiteral(" W sonarbox.accounts: Existing user failed to login")))
        << home.log().toStdString();
    EXPECT_TRUE(unreachable.err.contains(
        QStringLiteral("We could not sign you in. Please check your connection and try again.")))
        << unreachable.err.toStdString();
    EXPECT_FALSE(unreachable.out.contains(QStringLiteral("Sync started")));
    EXPECT_TRUE(home.status().out.contains(QStringLiteral("Account: ada@example.com")));
}

TEST_F(HeadlessTest, OnceSyncsAnEmptyLibraryAndTheStatusKeepsTheOutcome) {
    Home home(cloud->baseUrl());
    signInWithEmptyLibrary(home);

    const Result once = home.run({QStringLiteral("--once")});
    EXPECT_EQ(once.exitCode, 0) << once.all().toStdString();
    // The log's lines go to its file, not to the person's terminal.
    EXPECT_TRUE(home.log().contains(QStringLiteral("Existing user successfully logged in")));
    EXPECT_FALSE(once.all().contains(QStringLiteral("Existing user successfully logged in")))
        << once.all().toStdString();
    EXPECT_TRUE(once.out.contains(QStringLiteral("Sync Completed in "))) << once.out.toStdString();
    EXPECT_TRUE(once.out.contains(
        QStringLiteral(": 0 found, 0 matched without upload, 0 uploaded, 0 downloaded, 0 failed")));

    const QString status = home.status().out;
    EXPECT_TRUE(status.contains(QStringLiteral("Tracks stored: 0")));
    EXPECT_TRUE(status.contains(QStringLiteral(", Sync Completed"))) << status.toStdString();
}

// A sync whose uploads the service refuses went through every stage, but
// says what failed and why, and --once tells a script so.
TEST_F(HeadlessTest, OnceExitsWithThreeAndSaysWhyWhenTheServiceRefusesTheUploads) {
    CloudProcess full;
    ASSERT_TRUE(full.addUser(kEmail, kPassword));
    ASSERT_TRUE(full.start({QStringLiteral("--quota-mib"), QStringLiteral("0"),
                            QStringLiteral("--max-upload-mib"), QStringLiteral("1")}));
    Home home(full.baseUrl());
    signInWithEmptyLibrary(home);
    // Eight seconds are well over the 100 KiB a file needs; the third is
    // over the server's limit as well.
    for (int i = 1; i <= 2; ++i)
        ASSERT_TRUE(
            TestSongs::make(home.folder("music") + QStringLiteral("/own %1.mp3").arg(i), i, 8.0));
    ASSERT_TRUE(TestSongs::make(home.folder("music") + QStringLiteral("/long.wav"), 3, 12.0));

    // The service answers before it has read the file and closes the
    // connection on the rest; the program asks it why again, so the reasons
    // are the service's own.
    const Result once = home.run({QStringLiteral("--once")});
    EXPECT_EQ(once.exitCode, 3) << once.all().toStdString();
    EXPECT_TRUE(once.out.contains(QStringLiteral("Sync Completed: ")) &&
                once.out.contains(QStringLiteral("0 uploaded, 0 downloaded, 3 failed")))
        << once.out.toStdString();
    EXPECT_TRUE(once.out.contains(QStringLiteral("2 uploads refused (quota full)")))
        << once.out.toStdString();
    EXPECT_TRUE(once.out.contains(
        QStringLiteral("failed: the server refused a file of 2.1 MiB: its limit is 1 MiB")))
        << once.out.toStdString();
    EXPECT_TRUE(home.status().out.contains(QStringLiteral("Sync Completed: ")));
}

// A single sync waits for a file written just before it, but leaves one
// that a program holds open for writing (a copy that stalls) and one that
// keeps changing, says which, and takes them at the next sync once they rest.
TEST_F(HeadlessTest, OnceLeavesFilesStillBeingWrittenSaysWhichAndTakesThemLater) {
    Home home(cloud->baseUrl());
    home.addToConfig(QStringLiteral("[sync]\nfileSettleMs=1500\n"));
    signInWithEmptyLibrary(home);
    const QString music = home.folder("music");
    const QString copying = music + QStringLiteral("/copying.mp3");
    const QString rewritten = music + QStringLiteral("/rewritten.mp3");
    const QString fresh = music + QStringLiteral("/fresh.mp3");
    ASSERT_TRUE(TestSongs::make(copying, 21, 8.0));
    ASSERT_TRUE(TestSongs::make(rewritten, 22, 8.0));
    // Opened for each line and closed again: rarely open when looked at.
    ChildProcess rewriter;
    ASSERT_TRUE(
        rewriter.start(QStringLiteral("sh"),
                       {QStringLiteral("-c"),
                        QStringLiteral("while :; do echo >> \"$0\"; sleep 0.2; done"), rewritten}));
    const int writer =
        ::open(QFile::encodeName(copying).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_TRUE(TestSongs::make(fresh, 23, 8.0));
    const auto uploaded = [&](const QString &path) {
        return cloud
                   ->query(QStringLiteral("SELECT count(*) FROM files WHERE md5 = '%1'")
                               .arg(md5Of(path)))
                   .value(0) == QLatin1String("1");
    };

    const Result first = home.run({QStringLiteral("--once")});
    EXPECT_EQ(first.exitCode, 0) << first.all().toStdString();
    EXPECT_TRUE(first.out.contains(
        QStringLiteral("2 files are still being written and wait for the next sync:\n")))
        << first.out.toStdString();
    EXPECT_TRUE(first.out.contains(QStringLiteral("\n  %1\n").arg(copying)));
    EXPECT_TRUE(first.out.contains(QStringLiteral("\n  %1\n").arg(rewritten)));
    EXPECT_TRUE(first.out.contains(QStringLiteral(" 1 uploaded, 0 downloaded, 0 failed")));
    EXPECT_TRUE(uploaded(fresh));
    EXPECT_FALSE(uploaded(copying));

    rewriter.stop();
    ::close(writer);
    const Result second = home.run({QStringLiteral("--once")});
    EXPECT_EQ(second.exitCode, 0) << second.all().toStdString();
    EXPECT_FALSE(second.out.contains(QStringLiteral("still being written")))
        << second.out.toStdString();
    EXPECT_TRUE(second.out.contains(QStringLiteral(" 2 uploaded, 0 downloaded, 0 failed")))
        << second.out.toStdString();
    EXPECT_TRUE(uploaded(copying));
    EXPECT_TRUE(uploaded(rewritten));
}

TEST_F(HeadlessTest, StartsAtLoginOnlyWhenAskedAndAsTheProgramThatWasStarted) {
    Home home(cloud->baseUrl());
    const QString entry = home.path(QStringLiteral(".config/autostart/sonarbox-headless.desktop"));
    // Signing in, choosing a library and syncing register nothing.
    signInWithEmptyLibrary(home);
    EXPECT_EQ(home.run({QStringLiteral("--once")}).exitCode, 0);
    EXPECT_FALSE(QFileInfo::exists(home.path(QStringLiteral(".config/autostart"))));

    const Result wrong = home.run({QStringLiteral("--autostart"), QStringLiteral("yes")});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_TRUE(wrong.err.contains(QStringLiteral("--autostart: give 'on' or 'off', not 'yes'")))
        << wrong.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(entry));

    const Result on = home.run({QStringLiteral("--autostart"), QStringLiteral("on")});
    EXPECT_EQ(on.exitCode, 0) << on.all().toStdString();
    EXPECT_TRUE(on.out.contains(QStringLiteral("Start at login: on (") + entry + ")"))
        << on.out.toStdString();
    // --autostart alone does not go on to sync.
    EXPECT_FALSE(on.out.contains(QStringLiteral("Sync Completed")));
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    const QString program = QFileInfo(QStringLiteral(SONARBOX_HEADLESS_EXE)).canonicalFilePath();
    EXPECT_TRUE(text.contains(
        QStringLiteral("\nExec=\"%1\" \"--config\" \"%2\"\n").arg(program, home.configFile())))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\nTryExec=%1\n").arg(program)));

    const Result off = home.run({QStringLiteral("--autostart"), QStringLiteral("off")});
    EXPECT_EQ(off.exitCode, 0) << off.all().toStdString();
    EXPECT_TRUE(off.out.contains(QStringLiteral("Start at login: off")));
    EXPECT_FALSE(QFileInfo::exists(entry));
    EXPECT_EQ(home.preference(QStringLiteral("loadAppOnOSBoot")).toString(), QStringLiteral("NO"));
}

TEST_F(HeadlessTest, LogoutForgetsTheAccountHereAndEndsTheSessionThere) {
    Home home(cloud->baseUrl());
    signInWithEmptyLibrary(home);
    // Other tests sign the same account in from other homes: count this one's.
    const auto sessions = [] {
        return cloud->query(QStringLiteral("SELECT count(*) FROM sessions")).value(0).toInt();
    };
    const int before = sessions();

    const Result out = home.run({QStringLiteral("--logout")});
    EXPECT_EQ(out.exitCode, 0) << out.all().toStdString();
    EXPECT_TRUE(out.out.contains(QStringLiteral("Signed out.")));
    EXPECT_EQ(sessions(), before - 1);
    const QString status = home.status().out;
    EXPECT_TRUE(status.contains(QStringLiteral("Account: not signed in")));
    EXPECT_TRUE(status.contains(QStringLiteral("Library: not chosen yet")));
    EXPECT_EQ(home.run({QStringLiteral("--once")}).exitCode, 1);
}

TEST_F(HeadlessTest, SigtermInTheHourlyModeStopsCleanlyAndKeepsTheStore) {
    Home home(cloud->baseUrl());
    signInWithEmptyLibrary(home);

    ChildProcess p;
    ASSERT_TRUE(home.start(p, {}));
    QByteArray seen;
    const bool synced = TestEnvironment::waitUntil(
        [&] {
            seen = p.output(20);
            return seen.contains("Next sync in about an hour.") || !p.isRunning();
        },
        120000);
    ASSERT_TRUE(synced && p.isRunning()) << seen.toStdString();

    p.signal(SIGTERM);
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0); // -1 when a signal ended it

    const QString status = home.status().out;
    EXPECT_TRUE(status.contains(QStringLiteral("Account: ada@example.com")))
        << status.toStdString();
    EXPECT_TRUE(status.contains(QStringLiteral(", Sync Completed")));
    EXPECT_EQ(home.run({QStringLiteral("--once")}).exitCode, 0);
}

// One engine per store: a second sync is refused with the holder named and
// its own exit code, the status still answers beside the engine, and an
// engine that died does not keep the store for ever.
TEST_F(HeadlessTest, ASecondEngineOnTheStoreIsRefusedAndTheStatusStillAnswers) {
    Home home(cloud->baseUrl());
    signInWithEmptyLibrary(home);

    ChildProcess engine;
    ASSERT_TRUE(home.start(engine, {}));
    QByteArray seen;
    ASSERT_TRUE(TestEnvironment::waitUntil(
        [&] {
            seen = engine.output(20);
            return seen.contains("Next sync in about an hour.") || !engine.isRunning();
        },
        120000))
        << seen.toStdString();
    ASSERT_TRUE(engine.isRunning()) << seen.toStdString();

    const Result second = home.run({QStringLiteral("--once")});
    EXPECT_EQ(second.exitCode, 4) << second.all().toStdString();
    EXPECT_TRUE(second.err.contains(
        QStringLiteral("is in use by sonarbox-headless (process %1)").arg(engine.pid())))
        << second.err.toStdString();
    EXPECT_TRUE(second.err.contains(QStringLiteral("Not syncing.")));
    EXPECT_FALSE(second.out.contains(QStringLiteral("Sync started")));

    const Result status = home.status();
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_TRUE(status.out.contains(QStringLiteral("Account: ada@example.com")))
        << status.all().toStdString();

    // Killed outright, the engine leaves its lock file behind; a lock whose
    // process is gone is taken over.
    engine.signal(SIGKILL);
    ASSERT_TRUE(engine.waitForFinished(10000));
    const Result after = home.run({QStringLiteral("--once")});
    EXPECT_EQ(after.exitCode, 0) << after.all().toStdString();
}

TEST_F(HeadlessTest, ReportsItsStartAndFirstRunOnlyWhereTheDeploymentAllows) {
    CloudProcess collector;
    ASSERT_TRUE(collector.start({QStringLiteral("--analytics-readback")}));
    const auto actions = [&](qsizetype atLeast) {
        QStringList seen;
        TestEnvironment::waitUntil(
            [&] {
                seen.clear();
                for (const QJsonObject &event : collector.collectedEvents())
                    seen << event.value(QStringLiteral("ea")).toString();
                return seen.size() >= atLeast;
            },
            atLeast > 0 ? 8000 : 500);
        return seen;
    };
    Home home(cloud->baseUrl());
    home.addToConfig(QStringLiteral("[analytics]\ncollectorUrl=%1/collect\n"
                                    "[app]\nTrackWithGoogleAnalytics=true\n")
                         .arg(collector.baseUrl()));
    EXPECT_EQ(home.status().exitCode, 0); // a status query is not a use
    EXPECT_TRUE(actions(0).isEmpty());
    EXPECT_EQ(home.run({QStringLiteral("--once")}).exitCode, 1); // not signed in
    EXPECT_EQ(home.run({QStringLiteral("--once")}).exitCode, 1);
    // The first run counts once (the version is kept), each start every time.
    EXPECT_EQ(actions(3), (QStringList{"appLoads", "FirstRun", "appLoads"}));

    home.pointAt(cloud->baseUrl()); // the default: analytics off
    EXPECT_EQ(home.run({QStringLiteral("--once")}).exitCode, 1);
    EXPECT_EQ(actions(4).size(), 3);
}

} // namespace

// Pausing and resuming reach the engine that runs, over its channel; the
// pause outlasts the engine, so the next one waits for the resume before it
// asks the service anything.
TEST_F(HeadlessTest, PauseAndResumeReachTheRunningEngineAndThePauseOutlastsIt) {
    Home home(cloud->baseUrl());
    signInWithEmptyLibrary(home);
    const QString pause = QStringLiteral("--pause");
    const QString resume = QStringLiteral("--resume");

    const Result nobody = home.run({pause});
    EXPECT_EQ(nobody.exitCode, 1);
    EXPECT_TRUE(nobody.err.contains(QStringLiteral("no Sonarbox engine is running for the store")))
        << nobody.all().toStdString();
    EXPECT_FALSE(home.preference(QStringLiteral("syncPaused")).isValid());

    // Waits until the engine has printed `text` `times` times.
    const auto waitFor = [](ChildProcess &engine, QByteArray &seen, const char *text,
                            int times = 1) {
        return TestEnvironment::waitUntil(
                   [&] {
                       seen = engine.output(20);
                       return seen.count(text) >= times || !engine.isRunning();
                   },
                   120000) &&
               engine.isRunning();
    };
    const char *const synced = "Next sync in about an hour.";
    const char *const waiting = "Paused: waiting until syncing may go on.";

    ChildProcess engine;
    ASSERT_TRUE(home.start(engine, {}));
    QByteArray seen;
    ASSERT_TRUE(waitFor(engine, seen, synced)) << seen.toStdString();

    const Result paused = home.run({pause});
    EXPECT_EQ(paused.exitCode, 0) << paused.all().toStdString();
    EXPECT_TRUE(paused.out.contains(QStringLiteral("Syncing paused.")))
        << paused.all().toStdString();
    EXPECT_TRUE(home.preference(QStringLiteral("syncPaused")).toBool());
    EXPECT_TRUE(home.status().out.contains(QStringLiteral("Syncing: paused")));
    ASSERT_TRUE(waitFor(engine, seen, waiting)) << seen.toStdString();

    const Result resumed = home.run({resume});
    EXPECT_EQ(resumed.exitCode, 0) << resumed.all().toStdString();
    EXPECT_TRUE(resumed.out.contains(QStringLiteral("Syncing resumed.")));
    EXPECT_FALSE(home.preference(QStringLiteral("syncPaused")).toBool());
    EXPECT_FALSE(home.status().out.contains(QStringLiteral("Syncing: paused")));
    // A sync of its own soon after.
    ASSERT_TRUE(waitFor(engine, seen, synced, 2)) << seen.toStdString();

    ASSERT_EQ(home.run({pause}).exitCode, 0);
    engine.signal(SIGTERM);
    ASSERT_TRUE(engine.waitForFinished(30000));

    // Paused from the start: no sign-in, no sync, and --once says why.
    const Result once = home.run({QStringLiteral("--once")});
    EXPECT_EQ(once.exitCode, 1);
    EXPECT_TRUE(once.err.contains(QStringLiteral("Paused: not syncing")))
        << once.all().toStdString();
    EXPECT_FALSE(once.out.contains(QStringLiteral("Signing in")));
    ChildProcess again;
    ASSERT_TRUE(home.start(again, {}));
    QByteArray seenAgain;
    ASSERT_TRUE(waitFor(again, seenAgain, waiting)) << seenAgain.toStdString();
    EXPECT_FALSE(seenAgain.contains("Signing in"));
    ASSERT_EQ(home.run({resume}).exitCode, 0);
    ASSERT_TRUE(waitFor(again, seenAgain, synced)) << seenAgain.toStdString();
    again.signal(SIGTERM);
    ASSERT_TRUE(again.waitForFinished(30000));
}
