// Times the sync of a large unchanged collection at several sizes in one run.
// Every file is in the store as an earlier sync left it, and the cloud
// library holds every track. The first sync of the process lists the whole
// cloud library, as at a program start, and matches it against the store; the
// hourly re-syncs after it scan the folders again and list the changes since
// (none): first with every folder looked at, as a program without the folder
// watcher does, then as the programs run, with the watcher, which tells the
// scan that nothing changed. Nothing is fingerprinted, downloaded or
// uploaded. Each size runs in
// a child process of its own, so that its peak memory (VmHWM) is its own.
// Usage: sync_scale_bench [--sizes 10000,100000] [--runs 3] [--idle S] [--dir DIR]
// --idle waits S seconds before each re-sync, as a running program does
// between its hourly syncs, so that the cache holds what it then would.
// DIR keeps the generated libraries between runs (sparse files, a few KiB
// each on disk).
#include "BenchSupport.h"
#include "BenchWorld.h"
#include "SparseLibrary.h"
#include "TestEnvironment.h"
#include "engine/Sonarbox.h"
#include "engine/SyncEngine.h"
#include "store/GenericDAO.h"
#include "store/StoreContext.h"
#include "store/StoreSetup.h"
#include "sync/FolderWatcher.h"
#include "sync/ScanForLocalMedia.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString checksumOf(int i) {
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArray::number(i), QCryptographicHash::Md5).toHex());
}

QString mediaIdOf(int i) {
    return QString::number(1000000 + i);
}

// The server's database as an account whose library holds every track of
// the collection leaves it (written before the server starts). The files
// themselves are not needed: nothing is downloaded.
bool fillCloud(const CloudProcess &cloud, int count) {
    const QString connection = QStringLiteral("bench-cloud");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(QDir(cloud.dataDir()).filePath(QStringLiteral("cloud.sqlite")));
        ok = db.open() && db.transaction();
        QSqlQuery user(db);
        ok = ok && user.prepare(QStringLiteral("SELECT id FROM users WHERE email = ?"));
        user.bindValue(0, bench::Email);
        ok = ok && user.exec() && user.next();
        const qint64 userId = ok ? user.value(0).toLongLong() : 0;
        QSqlQuery file(db);
        QSqlQuery media(db);
        ok =
            ok &&
            file.prepare(QStringLiteral(
                "INSERT INTO files(rel_path, size, md5, created_ms) VALUES(?, ?, ?, ?)")) &&
            media.prepare(QStringLiteral(
                "INSERT INTO user_media(id, user_id, file_id, name, song_name, album_name, "
                "artist_name, checksum, sequence, position) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const qint64 firstPosition = now - count;
        for (int i = 0; ok && i < count; ++i) {
            const QString checksum = checksumOf(i);
            file.bindValue(0, QStringLiteral("bench%1").arg(i));
            file.bindValue(1, 5 << 20);
            file.bindValue(2, checksum);
            file.bindValue(3, now);
            ok = file.exec();
            media.bindValue(0, mediaIdOf(i).toLongLong());
            media.bindValue(1, userId);
            media.bindValue(2, file.lastInsertId());
            media.bindValue(3, SparseLibrary::title(i) + QStringLiteral(".mp3"));
            media.bindValue(4, SparseLibrary::title(i));
            media.bindValue(5, SparseLibrary::album(i));
            media.bindValue(6, SparseLibrary::artist(i));
            media.bindValue(7, checksum);
            media.bindValue(8, SparseLibrary::trackNumber(i));
            media.bindValue(9, firstPosition + i);
            ok = ok && media.exec();
        }
        QSqlQuery position(db);
        ok = ok && position.prepare(QStringLiteral(
                       "INSERT OR REPLACE INTO meta(key, value) VALUES('position', ?)"));
        position.bindValue(0, firstPosition + count - 1);
        ok = ok && position.exec() && db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}

// The store as a completed earlier sync leaves it: every file known, with
// its tags, its checksum and the cloud library's identifier.
void fillStore(const SparseLibrary &library) {
    for (int i = 0; i < int(library.files.size()); ++i) {
        auto track = std::make_shared<Audio>();
        track->fileURL = library.files.at(i);
        track->name = SparseLibrary::title(i) + QStringLiteral(".mp3");
        track->songName = SparseLibrary::title(i);
        track->artist = SparseLibrary::artist(i);
        track->album = SparseLibrary::album(i);
        track->sequence = SparseLibrary::trackNumber(i);
        track->fileExtension = QStringLiteral("mp3");
        track->checksum = checksumOf(i);
        track->userMediaID = mediaIdOf(i);
        track->fingerPrintID = QStringLiteral("-1");
        track->downloadable = true;
        track->synced = 1;
        track->downloaded = 0;
        track->encrypted = false;
        track->retries = 0;
        bench::stampFromDisk(*track);
        GenericDAO::instance().addTrackToDB(track, false);
    }
    StoreSetup::instance().managedObjectContext()->save();
}

// Reads what the scan reads of each file (its start, where the tags are, and
// its end), so that the first sync meets the cache the re-syncs after it do.
// This machine's memory reclaim drops pages left alone for a minute, so the
// warm-up comes last before the sync. No records are made: the process's
// memory stays as a program start leaves it.
void warmCache(const QStringList &files) {
    std::vector<char> buffer(16384);
    for (const QString &path : files) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat attributes {};
        if (::fstat(fd, &attributes) == 0 && attributes.st_size > qint64(buffer.size())) {
            (void)!::pread(fd, buffer.data(), buffer.size(), 0);
            (void)!::pread(fd, buffer.data(), 4096, attributes.st_size - 4096);
        }
        ::close(fd);
    }
}

void printStages(const char *prefix, const bench::StageTimes::PerStage &values) {
    for (size_t s = 0; s < values.size(); ++s)
        std::printf("%s_%zu %.1f\n", prefix, s, values[s]);
}

double largest(const bench::StageTimes::PerStage &values) {
    return *std::max_element(values.begin(), values.end());
}

// One size, in this process: prints its figures as "key value" lines.
int measure(const QString &folder, int count, int runs, int idleSeconds, const QString &home) {
    SparseLibrary library;
    if (!SparseLibrary::make(folder, count, library)) {
        std::fprintf(stderr, "could not make the library in %s\n", qPrintable(folder));
        return 1;
    }
    CloudProcess cloud;
    if (!cloud.addUser(bench::Email, bench::Password) || !fillCloud(cloud, count) ||
        !cloud.start() || !bench::configure(home, cloud, QString())) {
        std::fprintf(stderr, "could not set up sonarbox-cloud\n");
        return 1;
    }
    Sonarbox &sonarbox = Sonarbox::instance();
    bench::StageTimes stages(true);
    sonarbox.setStatusMenu(&stages);
    SyncEngine engine;
    engine.install(sonarbox);
    if (!bench::signIn()) {
        std::fprintf(stderr, "could not sign in\n");
        return 1;
    }
    fillStore(library);
    sonarbox.setUserPickedMediaLibrary(LibraryChoice::ChosenFolders);
    sonarbox.setUserMediaFoldersToScan({QUrl::fromLocalFile(folder)});
    const QString downloads = QDir(home).filePath(QStringLiteral("downloads"));
    sonarbox.setUserDownloadDirectory(downloads);

    warmCache(library.files);
    // The bench's own list of paths is not the client's memory.
    library.files = QStringList();
    std::printf("rss_before %.1f\n", bench::residentMiB());
    QString outcome;
    std::printf("first_ms %.1f\n", bench::timeMs([&] { outcome = bench::syncToTheEnd(); }));
    printStages("first_stage", stages.last());
    printStages("first_stage_peak", stages.lastPeaks());
    double peak = largest(stages.lastPeaks());
    const SyncRunPtr firstRun = sonarbox.chainRun();
    std::printf("listed %lld\n",
                static_cast<long long>(firstRun ? firstRun->cloudLibraryTracks().size() : -1));
    std::printf("first_peak %.1f\n", peak);
    bool completed = outcome == QLatin1String("Sync Completed");
    const SyncProgress::State first = sonarbox.syncProgress().state();
    const bool nothingMoved = first.tracksFound == count && first.tracksMatched == 0 &&
                              first.tracksDownloaded == 0 && first.tracksUploaded == 0 &&
                              first.tracksFailed == 0;

    const auto resyncs = [&](const char *key) {
        std::vector<double> resync;
        std::array<std::vector<double>, bench::StageTimes::StageCount> resyncStages;
        for (int i = 0; i < runs && completed; ++i) {
            if (idleSeconds > 0)
                TestEnvironment::waitUntil([] { return false; }, idleSeconds * 1000);
            resync.push_back(bench::timeMs([&] { outcome = bench::syncToTheEnd(); }));
            completed = outcome == QLatin1String("Sync Completed");
            const auto ms = stages.last();
            for (size_t s = 0; s < ms.size(); ++s)
                resyncStages[s].push_back(ms[s]);
            peak = std::max(peak, largest(stages.lastPeaks()));
        }
        std::printf("%s_ms %.1f\n", key, bench::median(resync));
        for (size_t s = 0; s < resyncStages.size(); ++s)
            std::printf("%s_stage_%zu %.1f\n", key, s, bench::median(resyncStages[s]));
    };
    resyncs("resync");
    {
        // As the programs run: the folder watcher over the library, whose
        // journal the scan reads. Its first scan walks (the watching began
        // after the last one), the ones after it need not.
        FolderWatcher watcher;
        bool watching = false;
        QObject::connect(&watcher, &FolderWatcher::watching, &watcher,
                         [&](int, bool complete) { watching = complete; });
        std::printf("watch_ms %.1f\n", bench::timeMs([&] {
                        watcher.watch({folder});
                        TestEnvironment::waitUntil([&] { return watching; }, 600000);
                    }));
        engine.scanner().setChangeJournal(watcher.journal());
        completed =
            completed && watching && bench::syncToTheEnd() == QLatin1String("Sync Completed");
        resyncs("watched");
        engine.scanner().setChangeJournal({});
    }
    const int stored = GenericDAO::instance().getSize(QStringLiteral("Audio"));
    std::printf("stored %d\n", stored);
    std::printf("peak %.1f\n", std::max(peak, bench::peakResidentMiB()));
    std::fflush(stdout);
    sonarbox.setStatusMenu(nullptr);
    if (!completed || !nothingMoved || stored != count) {
        std::fprintf(stderr,
                     "%d tracks: outcome \"%s\", %d stored; the first sync found %lld files and "
                     "matched, downloaded, uploaded or failed %lld tracks\n",
                     count, qPrintable(outcome), stored, static_cast<long long>(first.tracksFound),
                     static_cast<long long>(first.tracksMatched + first.tracksDownloaded +
                                            first.tracksUploaded + first.tracksFailed));
        return 1;
    }
    return 0;
}

using Figures = QMap<QString, double>;

bool runChild(const QStringList &arguments, Figures &out) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    if (!child.waitForFinished(-1))
        return false;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2)
            out.insert(QString::fromLatin1(parts.at(0)), parts.at(1).toDouble());
    }
    return child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
}

void row(const char *label, const QList<Figures> &figures, const QString &key,
         const char *format = "%14.0f") {
    std::printf("%-38s", label);
    for (const Figures &f : figures)
        std::printf(format, f.value(key));
    std::printf("\n");
}

} // namespace

int main(int argc, char **argv) {
    QTemporaryDir home;
    TestEnvironment::isolate(home.path());
    QCoreApplication app(argc, argv);
    bench::quietClient();
    QCommandLineParser parser;
    parser.addOptions(
        {{QStringLiteral("sizes"), QStringLiteral("Library sizes, comma-separated."),
          QStringLiteral("n,n"), QStringLiteral("10000,100000")},
         {QStringLiteral("runs"), QStringLiteral("Timed re-syncs per size."), QStringLiteral("n"),
          QStringLiteral("3")},
         {QStringLiteral("dir"), QStringLiteral("Libraries folder (kept)."), QStringLiteral("dir"),
          QStringLiteral("/tmp/sonarbox-bench-sparse")},
         {QStringLiteral("idle"), QStringLiteral("Seconds without a sync before each re-sync."),
          QStringLiteral("s"), QStringLiteral("0")},
         {QStringLiteral("child"), QStringLiteral("Measure one size in this process."),
          QStringLiteral("n")}});
    parser.process(app);
    const QString dir = parser.value(QStringLiteral("dir"));
    const int runs = std::max(1, parser.value(QStringLiteral("runs")).toInt());
    const int idle = std::max(0, parser.value(QStringLiteral("idle")).toInt());
    const auto folderOf = [&](int count) { return QStringLiteral("%1/%2").arg(dir).arg(count); };
    if (parser.isSet(QStringLiteral("child"))) {
        const int count = parser.value(QStringLiteral("child")).toInt();
        return measure(folderOf(count), count, runs, idle, home.path());
    }

    QList<int> sizes;
    for (const QString &size : parser.value(QStringLiteral("sizes")).split(QLatin1Char(','))) {
        if (size.toInt() > 0)
            sizes << size.toInt();
    }
    // Made before anything is timed.
    for (const int count : std::as_const(sizes)) {
        SparseLibrary library;
        if (!SparseLibrary::make(folderOf(count), count, library)) {
            std::fprintf(stderr, "could not make the library in %s\n", qPrintable(folderOf(count)));
            return 1;
        }
    }
    QList<Figures> figures;
    bool ok = true;
    for (const int count : std::as_const(sizes)) {
        Figures f;
        ok = runChild({QStringLiteral("--child"), QString::number(count), QStringLiteral("--runs"),
                       QString::number(runs), QStringLiteral("--idle"), QString::number(idle),
                       QStringLiteral("--dir"), dir},
                      f) &&
             ok;
        f.insert(QStringLiteral("tracks"), count);
        figures << f;
    }

    std::printf("unchanged collection, every track stored and in the cloud library; %s\n",
                idle > 0 ? qPrintable(QStringLiteral("each re-sync after %1 s idle").arg(idle))
                         : "warm cache");
    row("tracks", figures, QStringLiteral("tracks"));
    row("first sync of the process, ms", figures, QStringLiteral("first_ms"));
    for (int s = 0; s < bench::StageTimes::StageCount; ++s)
        row(qPrintable(QStringLiteral("  ") +
                       QLatin1String(bench::StageTimes::name(bench::StageTimes::Stage(s)))),
            figures, QStringLiteral("first_stage_%1").arg(s));
    row("  cloud songs listed", figures, QStringLiteral("listed"));
    for (const char *key : {"watched", "resync"}) {
        const QString label = key == QLatin1String("watched")
                                  ? QStringLiteral("hourly re-sync, watched, median of %1, ms")
                                  : QStringLiteral("  the same unwatched, median of %1, ms");
        row(qPrintable(label.arg(runs)), figures, QStringLiteral("%1_ms").arg(QLatin1String(key)));
        for (int s = 0; s < bench::StageTimes::StageCount; ++s)
            row(qPrintable(QStringLiteral("  ") +
                           QLatin1String(bench::StageTimes::name(bench::StageTimes::Stage(s)))),
                figures, QStringLiteral("%1_stage_%2").arg(QLatin1String(key)).arg(s));
    }
    row("watching every folder took, ms", figures, QStringLiteral("watch_ms"));
    row("resident before the first sync, MiB", figures, QStringLiteral("rss_before"));
    row("peak over the first sync (VmHWM), MiB", figures, QStringLiteral("first_peak"));
    for (int s = 0; s < bench::StageTimes::StageCount; ++s)
        row(qPrintable(QStringLiteral("  ") +
                       QLatin1String(bench::StageTimes::name(bench::StageTimes::Stage(s)))),
            figures, QStringLiteral("first_stage_peak_%1").arg(s));
    row("peak over all syncs (VmHWM), MiB", figures, QStringLiteral("peak"));
    if (figures.size() >= 2) {
        const Figures &small = figures.first();
        const Figures &large = figures.last();
        const auto ratio = [&](const char *key) {
            return large.value(QLatin1String(key)) / small.value(QLatin1String(key));
        };
        std::printf("re-sync %d / %d tracks, watched: %.2f x the time (target at most 3); every "
                    "folder looked at: %.2f x\n",
                    int(large.value(QStringLiteral("tracks"))),
                    int(small.value(QStringLiteral("tracks"))), ratio("watched_ms"),
                    ratio("resync_ms"));
    }
    return ok ? 0 : 1;
}
