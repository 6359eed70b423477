// The cost of watching a large collection for changes: the time to watch
// every folder, the memory it takes, the processor time while nothing
// changes, and how soon a change is reported.
// Usage: sync_watch_bench [--folders 10000] [--idle 30]
#include "BenchSupport.h"
#include "TestEnvironment.h"
#include "sync/FolderWatcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

int argument(const QStringList &args, const QString &name, int fallback) {
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1).toInt() : fallback;
}

double cpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Runs the event loop until `signal` of `sender` or `ms` passed; false on time-out.
template <typename Signal> bool waitFor(const FolderWatcher *sender, Signal signal, int ms) {
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, [&] { loop.exit(1); });
    QObject::connect(
        sender, signal, &loop, [&] { loop.exit(0); }, Qt::QueuedConnection);
    timeout.start(ms);
    return loop.exec() == 0;
}

} // namespace

int main(int argc, char **argv) {
    QTemporaryDir home;
    TestEnvironment::isolate(home.path());
    QCoreApplication app(argc, argv);
    bench::quietClient();
    const QStringList args = app.arguments();
    const int folders = argument(args, QStringLiteral("--folders"), 10000);
    const int idleSeconds = argument(args, QStringLiteral("--idle"), 30);

    // The root, 100 artists, and their albums up to the number asked for.
    QTemporaryDir tree;
    const QString root = tree.filePath(QStringLiteral("music"));
    int made = 1;
    QDir().mkpath(root);
    for (int artist = 0; made < folders && artist < 100; ++artist, ++made)
        QDir().mkpath(QStringLiteral("%1/artist %2").arg(root).arg(artist));
    for (int album = 0; made < folders; ++album, ++made)
        QDir().mkpath(
            QStringLiteral("%1/artist %2/album %3").arg(root).arg(album % 100).arg(album / 100));

    const double before = bench::residentMiB();
    FolderWatcher watcher;
    QElapsedTimer clock;
    clock.start();
    watcher.watch({root});
    if (!waitFor(&watcher, &FolderWatcher::watching, 600000)) {
        std::fprintf(stderr, "the folders were not watched in time\n");
        return 1;
    }
    const double watchMs = double(clock.elapsed());
    const double watching = bench::residentMiB();

    const double cpuBefore = cpuSeconds();
    clock.restart();
    QEventLoop idle;
    QTimer::singleShot(idleSeconds * 1000, &idle, &QEventLoop::quit);
    idle.exec();
    const double idleCpu = cpuSeconds() - cpuBefore;
    const double idleWall = double(clock.elapsed()) / 1000.0;

    // A song arriving in the deepest, last-made folder.
    std::vector<double> reportMs;
    for (int i = 0; i < 5; ++i) {
        clock.restart();
        const int last = folders - 102;
        QFile song(QStringLiteral("%1/artist %2/album %3/new %4.mp3")
                       .arg(root)
                       .arg(last % 100)
                       .arg(last / 100)
                       .arg(i));
        if (!song.open(QIODevice::WriteOnly))
            return 1;
        song.write("x");
        song.close();
        if (!waitFor(&watcher, &FolderWatcher::changed, 5000))
            return 1;
        reportMs.push_back(double(clock.nsecsElapsed()) / 1e6);
        QEventLoop settle;
        QTimer::singleShot(200, &settle, &QEventLoop::quit);
        settle.exec();
    }

    std::printf("%-36s %12s\n", "watching a folder tree", "");
    std::printf("%-36s %12d\n", "folders watched", watcher.watchedFolders());
    std::printf("%-36s %12.0f\n", "time to watch them, ms", watchMs);
    std::printf("%-36s %12.1f\n", "resident memory added, MiB", watching - before);
    std::printf("%-36s %12.3f\n", "processor while idle, % of a core", 100.0 * idleCpu / idleWall);
    std::printf("%-36s %12.1f\n", "idle time measured, s", idleWall);
    std::printf("%-36s %12.2f\n", "a new file reported after, ms (median)",
                bench::median(reportMs));
    std::printf("%-36s %12d\n", "kernel watch limit (max_user_watches)",
                FolderWatcher::systemWatchLimit());
    return watcher.watchedFolders() == folders ? 0 : 1;
}
