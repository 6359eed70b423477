// Times the folder scan of a large tagged library on a warm cache, beside
// `find DIR -type f -printf '%s %T@\n'` over the same tree in the same run.
// Usage: sync_scan_bench [--files 10000] [--dir DIR] [--runs 5]
// DIR keeps the generated library between runs (default: a folder under
// /tmp, made on the first run).
#include "BenchSupport.h"
#include "TaggedLibrary.h"
#include "TestEnvironment.h"
#include "engine/Sonarbox.h"
#include "sync/ScanForLocalMedia.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char **argv) {
    QTemporaryDir home;
    TestEnvironment::isolate(home.path());
    QCoreApplication app(argc, argv);
    bench::quietClient();
    TaggedLibrary library;
    int runs = 1;
    if (!TaggedLibrary::fromArguments(app.arguments(), 5, library, &runs))
        return 1;
    const QString dir = library.folder;
    const int files = int(library.files.size());
    Sonarbox::instance();
    ScanForLocalMedia scanner(Sonarbox::instance(), nullptr);

    // The first walk warms the page and dentry caches for both contenders.
    qsizetype found = scanner.scanFileSystem(dir).found;
    bench::timeProgramMs(QStringLiteral("find"),
                         {dir, QStringLiteral("-type"), QStringLiteral("f"),
                          QStringLiteral("-printf"), QStringLiteral("%s %T@\\n")});
    std::vector<double> scanMs, findMs;
    for (int i = 0; i < runs; ++i) {
        scanMs.push_back(bench::timeMs([&] { found = scanner.scanFileSystem(dir).found; }));
        findMs.push_back(bench::timeProgramMs(
            QStringLiteral("find"), {dir, QStringLiteral("-type"), QStringLiteral("f"),
                                     QStringLiteral("-printf"), QStringLiteral("%s %T@\\n")}));
    }
    const double scan = bench::median(scanMs);
    const double find = bench::median(findMs);
    std::printf("%-28s %10s %12s %12s\n", "warm cache, median of runs", "ms", "files/s", "tracks");
    std::printf("%-28s %10.1f %12.0f %12lld\n", "scan (tags through TagLib)", scan,
                double(files) / (scan / 1000.0), static_cast<long long>(found));
    std::printf("%-28s %10.1f %12.0f %12s\n", "find -printf '%s %T@'", find,
                double(files) / (find / 1000.0), "-");
    std::printf("scan / find: %.1f x the time\n", scan / find);
    return found == files ? 0 : 1;
}
