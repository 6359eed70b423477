// Times the first sync of a library of which half the songs are in the
// service's catalogue, against what its two big parts cost on their own in
// the same run: libtonemill over the same files (one call per album of ten,
// as the sync calls it) and curl uploading the unmatched files to the same
// server. Then times downloads of songs only the cloud has against curl
// fetching the same items. Reports the sync's peak memory, and the sync's
// own work: its wall time less the time spent inside libtonemill's calls
// (each call timed) and less its upload transfers (the upload stage from
// its first file on), as a share of libtonemill's time over the same files.
// Usage: sync_first_bench [--tracks 200] [--seconds 60] [--downloads 20] [--dir DIR]
#include "BenchSupport.h"
#include "BenchWorld.h"
#include "TestEnvironment.h"
#include "TestSongs.h"
#include "engine/Sonarbox.h"
#include "engine/SyncEngine.h"
#include "settings/DeploymentConfig.h"
#include "settings/StandardStreams.h"
#include "settings/Utility.h"
#include "store/GenericDAO.h"
#include "sync/SyncProgress.h"

#include <tonemill/tonemill.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <atomic>
#include <cstdio>
#include <map>
#include <vector>

namespace {

struct Corpus {
    QStringList catalogued; // in the service's catalogue
    QStringList own;        // nobody has them
    QStringList elsewhere;  // only the cloud will have them
};

bool makeCorpus(const QString &dir, int tracks, int downloads, double seconds, Corpus &out) {
    const auto song = [&](const QString &group, int i, int seed, QStringList &list) {
        const QString path = QStringLiteral("%1/%2/Album %3/%4 Song %5.mp3")
                                 .arg(dir, group)
                                 .arg(i / 10)
                                 .arg(i % 10 + 1, 2, 10, QLatin1Char('0'))
                                 .arg(i);
        list << path;
        if (QFile::exists(path))
            return true;
        std::fprintf(stderr, "corpus: %s\n", qPrintable(path));
        return TestSongs::make(path, uint32_t(seed), seconds,
                               {QStringLiteral("Song %1").arg(i),
                                QStringLiteral("%1 Artist").arg(group),
                                QStringLiteral("%1 Album %2").arg(group).arg(i / 10), i % 10 + 1});
    };
    for (int i = 0; i < tracks; ++i) {
        if (!song(i % 2 ? QStringLiteral("own") : QStringLiteral("catalogued"), i, 1000 + i,
                  i % 2 ? out.own : out.catalogued))
            return false;
    }
    for (int i = 0; i < downloads; ++i) {
        if (!song(QStringLiteral("elsewhere"), i, 5000 + i, out.elsewhere))
            return false;
    }
    return true;
}

qint64 bytesOf(const QStringList &files) {
    qint64 total = 0;
    for (const QString &f : files)
        total += QFileInfo(f).size();
    return total;
}

// libtonemill alone over the files, one call per folder (album), as the
// sync's fingerprint stage groups them.
double recognitionAloneMs(const QStringList &files, const QString &initData) {
    std::map<QString, QStringList> albums;
    for (const QString &f : files)
        albums[QFileInfo(f).absolutePath()] << f;
    return bench::timeMs([&] {
        for (const auto &[folder, group] : albums) {
            std::vector<QByteArray> texts = {"Main", "1000001", "0123456789ABCDEF0123456789ABCDEF",
                                             initData.toUtf8(), "-C"};
            for (const QString &f : group)
                texts.push_back(f.toUtf8());
            std::vector<char *> argv;
            for (QByteArray &t : texts)
                argv.push_back(t.data());
            argv.push_back(nullptr);
            std::vector<char> response(size_t(group.size()) * 10240, '\0');
            std::vector<char> user(2048, '\0');
            tonemill_doGraceNote(int(texts.size()), argv.data(), response.data(),
                                 int(response.size()), user.data(), int(user.size()));
        }
    });
}

// The sync's recognition calls, each timed: the time the sync spends inside
// libtonemill, whatever it does around the calls.
std::atomic<qint64> recognitionInSyncNs{0};
std::atomic<int> recognitionCalls{0};

int timedRecognition(int argc, char *argv[], char *response, int responseSize, char *user,
                     int userSize) {
    QElapsedTimer timer;
    timer.start();
    const int result = tonemill_doGraceNote(argc, argv, response, responseSize, user, userSize);
    recognitionInSyncNs += timer.nsecsElapsed();
    ++recognitionCalls;
    return result;
}

QString sessionCookie() {
    return Sonarbox::instance().jSessionID().value_or(QString());
}

double curlUploadsMs(const CloudProcess &cloud, const QStringList &files) {
    const QString cookie = QStringLiteral("Cookie: ") + sessionCookie();
    return bench::timeMs([&] {
        for (const QString &f : files) {
            bench::timeProgramMs(
                QStringLiteral("curl"),
                {QStringLiteral("-sf"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                 QStringLiteral("-H"), cookie, QStringLiteral("-H"),
                 QStringLiteral("mobileUpload: true"), QStringLiteral("-F"),
                 QStringLiteral("file=@%1;type=audio/mpeg").arg(f),
                 cloud.baseUrl() +
                     QStringLiteral("/Vexmusic/controllers/DesktopUploadMedia?fileName=x.mp3")});
        }
    });
}

double curlDownloadsMs(const CloudProcess &cloud, const QStringList &mediaIds,
                       const QString &folder) {
    const QString session = Utility::getValidJSessionID(sessionCookie()).value_or(QString());
    QDir().mkpath(folder);
    return bench::timeMs([&] {
        for (const QString &id : mediaIds) {
            bench::timeProgramMs(
                QStringLiteral("curl"),
                {QStringLiteral("-sfL"), QStringLiteral("-o"),
                 QDir(folder).filePath(id + QStringLiteral(".mp3")), QStringLiteral("-H"),
                 QStringLiteral("USERNAME: ") + bench::Email, QStringLiteral("-H"),
                 QStringLiteral("PASSWORD: ") + bench::Password,
                 cloud.baseUrl() +
                     QStringLiteral("/Vexmusic/rest/downloadController/redirectToCdnDownload/%1/"
                                    "?jsessionId=%2")
                         .arg(id, session)});
        }
    });
}

// Wall time of each stage of the running sync, from the progress events.
struct StageClock {
    std::map<SyncProgress::Stage, double> ms;
    QElapsedTimer timer;
    SyncProgress::Stage current = SyncProgress::Stage::Idle;
    double since = 0;
    void on(const SyncProgress::Event &e) {
        const double now = double(timer.nsecsElapsed()) / 1e6;
        if (e.kind == SyncProgress::Event::Kind::StageStarted ||
            e.kind == SyncProgress::Event::Kind::SyncEnded) {
            if (current != SyncProgress::Stage::Idle)
                ms[current] += now - since;
            current = e.kind == SyncProgress::Event::Kind::SyncEnded ? SyncProgress::Stage::Idle
                                                                     : e.state.stage;
            since = now;
        }
    }
};

} // namespace

int main(int argc, char **argv) {
    QTemporaryDir home;
    TestEnvironment::isolate(home.path());
    QCoreApplication app(argc, argv);
    bench::quietClient();
    // The table stays readable whatever libtonemill prints.
    StandardStreams::claim();
    FILE *out = StandardStreams::output();
    QCommandLineParser parser;
    parser.addOptions({{QStringLiteral("tracks"), QStringLiteral("Library size."),
                        QStringLiteral("n"), QStringLiteral("200")},
                       {QStringLiteral("seconds"), QStringLiteral("Song length."),
                        QStringLiteral("s"), QStringLiteral("60")},
                       {QStringLiteral("downloads"), QStringLiteral("Cloud-only songs."),
                        QStringLiteral("n"), QStringLiteral("20")},
                       {QStringLiteral("dir"), QStringLiteral("Corpus folder."),
                        QStringLiteral("dir"), QStringLiteral("/tmp/sonarbox-bench-first")}});
    parser.process(app);
    const int tracks = parser.value(QStringLiteral("tracks")).toInt();
    const int downloads = parser.value(QStringLiteral("downloads")).toInt();
    const double seconds = parser.value(QStringLiteral("seconds")).toDouble();
    const QString dir =
        parser.value(QStringLiteral("dir")) + QStringLiteral("/%1x%2s").arg(tracks).arg(seconds);

    Corpus corpus;
    if (!makeCorpus(dir, tracks, downloads, seconds, corpus)) {
        std::fprintf(stderr, "could not make the corpus in %s\n", qPrintable(dir));
        return 1;
    }
    const QString recognition = home.filePath(QStringLiteral("recognition"));
    const QString database = recognition + QStringLiteral("/catalog.db");
    QDir().mkpath(recognition);
    CloudProcess cloud;
    if (!TestSongs::makeCatalog(database, corpus.catalogued) ||
        !cloud.importFiles(corpus.catalogued, database) ||
        !cloud.addUser(bench::Email, bench::Password) || !cloud.start()) {
        std::fprintf(stderr, "could not set up the catalogue and the server\n");
        return 1;
    }
    const QString initData = TestSongs::writeEngineConfig(recognition, database);
    if (!bench::configure(home.path(), cloud, initData))
        return 1;

    Sonarbox &sonarbox = Sonarbox::instance();
    bench::StageTimes stages;
    sonarbox.setStatusMenu(&stages);
    SyncDependencies dependencies;
    dependencies.recognize = &timedRecognition;
    SyncEngine engine(dependencies);
    engine.install(sonarbox);
    if (!bench::signIn()) {
        std::fprintf(stderr, "could not sign in\n");
        return 1;
    }
    const QStringList library = corpus.catalogued + corpus.own;
    // Warm the page cache for everyone alike.
    for (const QString &f : library + corpus.elsewhere) {
        QFile file(f);
        if (file.open(QIODevice::ReadOnly))
            while (!file.read(1 << 20).isEmpty()) {
            }
    }
    const double recognitionMs = recognitionAloneMs(library, initData);

    sonarbox.setUserPickedMediaLibrary(LibraryChoice::ChosenFolders);
    sonarbox.setUserMediaFoldersToScan({QUrl::fromLocalFile(dir + QStringLiteral("/catalogued")),
                                        QUrl::fromLocalFile(dir + QStringLiteral("/own"))});
    sonarbox.setUserDownloadDirectory(home.filePath(QStringLiteral("downloads")));
    StageClock clock;
    clock.timer.start();
    QObject::connect(
        &sonarbox.syncProgress(), &SyncProgress::event, &app,
        [&](const SyncProgress::Event &e) { clock.on(e); }, Qt::DirectConnection);

    QString outcome;
    bench::resetPeak();
    const double syncMs = bench::timeMs([&] { outcome = bench::syncToTheEnd(); });
    const double syncPeak = bench::peakResidentMiB();
    const SyncProgress::State done = sonarbox.syncProgress().state();
    const auto firstStages = clock.ms;
    const auto firstSteps = stages.last();
    const double recognitionInSyncMs = double(recognitionInSyncNs.load()) / 1e6;
    const int calls = recognitionCalls.load();
    const double uploadStageMs = clock.ms[SyncProgress::Stage::Uploading];
    const qint64 uploadedBytes = done.bytesUploaded;
    const double curlUpMs = curlUploadsMs(cloud, corpus.own);
    const qint64 ownBytes = bytesOf(corpus.own);

    // Songs that only the cloud has, then a sync that fetches them.
    QStringList mediaIds;
    for (const QString &f : corpus.elsewhere) {
        if (const auto id = cloud.uploadAsAnotherDevice(bench::Email, bench::Password, f))
            mediaIds << *id;
    }
    clock.ms.clear();
    const QString second = bench::syncToTheEnd();
    const double downloadStageMs = clock.ms[SyncProgress::Stage::Downloading];
    const qint64 downloadedBytes = sonarbox.syncProgress().state().bytesDownloaded;
    const double curlDownMs =
        curlDownloadsMs(cloud, mediaIds, home.filePath(QStringLiteral("curl-downloads")));
    const qint64 elsewhereBytes = bytesOf(corpus.elsewhere);
    const double peak = bench::peakResidentMiB();

    const double mib = 1024.0 * 1024.0;
    std::fprintf(out, "first sync of %d tracks of %.0f s (%d catalogued), %.1f MiB\n", tracks,
                 seconds, int(corpus.catalogued.size()), double(bytesOf(library)) / mib);
    std::fprintf(out, "%-46s %10s\n", "", "ms");
    std::fprintf(out, "%-46s %10.0f\n", "sync (scan, match, download, upload)", syncMs);
    for (const auto &[stage, ms] : firstStages)
        std::fprintf(out, "  %-44s %10.0f\n", qPrintable(SyncProgress::stageName(stage)), ms);
    std::fprintf(out, "%-46s %10.0f\n", "libtonemill alone over the same files", recognitionMs);
    std::fprintf(out, "%-46s %10.0f\n", "curl uploading the unmatched files", curlUpMs);
    std::fprintf(out, "sync / (libtonemill + curl): %.3f (target at most 1.15)\n",
                 syncMs / (recognitionMs + curlUpMs));
    const double ownMs = syncMs - recognitionInSyncMs - uploadStageMs;
    std::fprintf(out, "%-46s %10.0f  (%d calls; %.3f x libtonemill alone)\n",
                 "libtonemill inside the sync", recognitionInSyncMs, calls,
                 recognitionInSyncMs / recognitionMs);
    std::fprintf(out, "%-46s %10.0f\n", "upload transfers (upload stage from its first file)",
                 uploadStageMs);
    std::fprintf(out, "%-46s %10.0f\n", "the sync's own work (the rest)", ownMs);
    std::fprintf(out, "  %-44s %10.0f\n", "scan", firstSteps[bench::StageTimes::Scan]);
    std::fprintf(out, "  %-44s %10.0f\n", "fingerprint and match, outside libtonemill",
                 firstSteps[bench::StageTimes::Fingerprint] - recognitionInSyncMs);
    std::fprintf(out, "  %-44s %10.0f\n", "listing and download",
                 firstSteps[bench::StageTimes::Download]);
    const double named = firstSteps[bench::StageTimes::Scan] +
                         firstSteps[bench::StageTimes::Fingerprint] - recognitionInSyncMs +
                         firstSteps[bench::StageTimes::Download];
    std::fprintf(out, "  %-44s %10.0f\n", "upload stage before its first file, start, end",
                 ownMs - named);
    std::fprintf(out, "own work / libtonemill alone: %.1f %% (target at most 5 %%)\n",
                 100.0 * ownMs / recognitionMs);
    const double upSync = double(uploadedBytes) / mib / (uploadStageMs / 1000.0);
    const double upCurl = double(ownBytes) / mib / (curlUpMs / 1000.0);
    std::fprintf(
        out,
        "upload:   sync %.1f MiB/s (%.0f ms), curl %.1f MiB/s: %.2f x curl (target at least 1.0)\n",
        upSync, uploadStageMs, upCurl, upSync / upCurl);
    const double downSync = double(downloadedBytes) / mib / (downloadStageMs / 1000.0);
    const double downCurl = double(elsewhereBytes) / mib / (curlDownMs / 1000.0);
    std::fprintf(out,
                 "download: sync %.1f MiB/s (%.0f ms, %d songs), curl %.1f MiB/s: %.2f x curl "
                 "(target 0.8)\n",
                 downSync, downloadStageMs, int(mediaIds.size()), downCurl, downSync / downCurl);
    std::fprintf(out,
                 "peak memory: %.0f MiB after the first sync, %.0f MiB at the end (target under "
                 "150)\n",
                 syncPeak, peak);
    std::fprintf(out, "outcomes: %s, %s; matched %lld, uploaded %lld\n", qPrintable(outcome),
                 qPrintable(second), static_cast<long long>(done.tracksMatched),
                 static_cast<long long>(done.tracksUploaded));
    sonarbox.setStatusMenu(nullptr);
    return outcome == QLatin1String("Sync Completed") ? 0 : 1;
}
