// Times the folder scan of a large tagged library on a warm cache, beside
// `find DIR -type f -printf '%s %T@\n'` over the same tree in the same run.
// Usage: sync_scan_bench [--files 10000] [--dir DIR] [--runs 5]
// DIR keeps the generated library between runs (default: a folder under
// /tmp, made on the first run).
#include "BenchSupport.h"
#include "TaggedLibrary.h"
#include "sync/ScanForLocalMedia.h"
#include "sync/Sonarbox.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char **argv) {
    QTemporaryDir home;
    bench::isolate(home.path());
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("sonarbox.*.info=false"));
    QCommandLineParser parser;
    parser.addOptions({{QStringLiteral("files"), QStringLiteral("Library size."),
                        QStringLiteral("n"), QStringLiteral("10000")},
                       {QStringLiteral("dir"), QStringLiteral("Library folder."),
                        QStringLiteral("dir"), QStringLiteral("/tmp/sonarbox-bench-library")},
                       {QStringLiteral("runs"), QStringLiteral("Timed runs."), QStringLiteral("n"),
                        QStringLiteral("5")}});
    parser.process(app);
    const int files = parser.value(QStringLiteral("files")).toInt();
    const int runs = std::max(1, parser.value(QStringLiteral("runs")).toInt());
    const QString dir = parser.value(QStringLiteral("dir")) + QStringLiteral("/%1").arg(files);

    TaggedLibrary library;
    if (!TaggedLibrary::make(dir, files, library)) {
        std::fprintf(stderr, "could not make the library in %s\n", qPrintable(dir));
        return 1;
    }
    Sonarbox::instance();
    ScanForLocalMedia scanner(nullptr);

    // The first walk warms the page and dentry caches for both contenders.
    qsizetype found = scanner.scanFileSystem(dir).size();
    bench::timeProgramMs(QStringLiteral("find"),
                         {dir, QStringLiteral("-type"), QStringLiteral("f"),
                          QStringLiteral("-printf"), QStringLiteral("%s %T@\\n")});
    std::vector<double> scanMs, findMs;
    for (int i = 0; i < runs; ++i) {
        scanMs.push_back(bench::timeMs([&] { found = scanner.scanFileSystem(dir).size(); }));
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
