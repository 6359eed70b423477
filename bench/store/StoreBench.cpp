// Times the store's hot paths at 10,000 and 100,000 stored tracks:
//   add      addTrackToDB(track, withSave = true), one save per track
//   file     isFileInDB(path) for stored and unknown paths
//   code     getById("audioByCode", checksum)
// Usage: store_bench [--sizes 10000,100000] [--adds 1000] [--lookups 20000] [--dir DIR]
//                    [--journal MODE --synchronous LEVEL]
// --journal/--synchronous override the store's own setting (write-ahead log,
// synchronous NORMAL) to compare, e.g. --journal DELETE --synchronous FULL.

#include "store/GenericDAO.h"
#include "store/StoreContext.h"
#include "store/StoreSetup.h"
#include "store/StoreThread.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>

namespace {

QString checksumOf(int i) {
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArray::number(i), QCryptographicHash::Md5).toHex());
}

AudioPtr trackNumber(int i) {
    auto audio = std::make_shared<Audio>();
    audio->checksum = checksumOf(i);
    audio->fileURL = QStringLiteral("/home/user/Music/Artist %1/Album %2/%3 Track.mp3")
                         .arg(i % 97)
                         .arg(i % 13)
                         .arg(i);
    audio->name = QStringLiteral("Track %1.mp3").arg(i);
    audio->userMediaID = QStringLiteral("-1");
    audio->fingerPrintID = QStringLiteral("-1");
    audio->artist = QStringLiteral("Artist %1").arg(i % 97);
    audio->album = QStringLiteral("Album %1").arg(i % 13);
    audio->synced = 1;
    audio->downloaded = 0;
    audio->downloadable = false;
    return audio;
}

// Fills the store up to `count` tracks, saving in large batches.
void fill(int from, int count) {
    GenericDAO &dao = GenericDAO::instance();
    for (int i = from; i < count; ++i) {
        dao.addTrackToDB(trackNumber(i), false);
        if (i % 5000 == 4999)
            StoreSetup::instance().managedObjectContext()->save();
    }
    StoreSetup::instance().managedObjectContext()->save();
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(
        QStringLiteral("sonarbox.*.debug=false\nsonarbox.*.info=false"));
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("sizes"), QStringLiteral("Store sizes."),
                      QStringLiteral("list"), QStringLiteral("10000,100000")});
    parser.addOption({QStringLiteral("adds"), QStringLiteral("Tracks added with a save each."),
                      QStringLiteral("n"), QStringLiteral("1000")});
    parser.addOption({QStringLiteral("lookups"), QStringLiteral("Lookups of each kind."),
                      QStringLiteral("n"), QStringLiteral("20000")});
    parser.addOption({QStringLiteral("dir"),
                      QStringLiteral("Folder for the store (default: a temporary folder)."),
                      QStringLiteral("dir")});
    parser.addOption({QStringLiteral("journal"), QStringLiteral("journal_mode to measure instead."),
                      QStringLiteral("mode")});
    parser.addOption({QStringLiteral("synchronous"),
                      QStringLiteral("synchronous level to measure instead."),
                      QStringLiteral("level")});
    parser.process(app);

    QTemporaryDir temporary(parser.isSet(QStringLiteral("dir"))
                                ? parser.value(QStringLiteral("dir")) +
                                      QStringLiteral("/store-bench-XXXXXX")
                                : QString());
    StoreSetup::setStoreFolder(temporary.path() + QStringLiteral("/Sonarbox"));
    GenericDAO &dao = GenericDAO::instance();
    StoreContext *context = StoreSetup::instance().managedObjectContext();
    if (!context)
        return 1;
    for (const char *pragma : {"journal", "synchronous"}) {
        const QString option = QLatin1String(pragma);
        if (!parser.isSet(option))
            continue;
        const QString sql =
            QStringLiteral("PRAGMA %1=%2")
                .arg(option == QLatin1String("journal") ? QStringLiteral("journal_mode") : option,
                     parser.value(option));
        StoreThread::instance().run([&] { QSqlQuery(context->database()).exec(sql); });
    }
    const int adds = parser.value(QStringLiteral("adds")).toInt();
    const int lookups = parser.value(QStringLiteral("lookups")).toInt();

    std::printf("%-10s %-28s %12s %14s\n", "stored", "operation", "count", "per second");
    std::fflush(stdout);
    int stored = 0;
    int next = 0;
    for (const QString &size : parser.value(QStringLiteral("sizes")).split(QLatin1Char(','))) {
        const int target = size.toInt();
        fill(next, target - adds);
        next = std::max(next, target - adds);
        stored = dao.getSize(QStringLiteral("Audio"));

        // Each figure is the best of three rounds: the machine is shared.
        constexpr int Rounds = 3;
        const auto best = [&](int count, const std::function<void(int)> &work) {
            double fastest = 0;
            for (int round = 0; round < Rounds; ++round) {
                QElapsedTimer timer;
                timer.start();
                for (int i = 0; i < count / Rounds; ++i)
                    work(i);
                fastest = std::max(fastest, (count / Rounds) / (timer.nsecsElapsed() / 1e9));
            }
            return fastest;
        };
        const double addRate =
            best(adds, [&](int) { dao.addTrackToDB(trackNumber(next++), true); });
        stored = dao.getSize(QStringLiteral("Audio"));

        std::mt19937 random(42);
        std::uniform_int_distribution<int> pick(0, next - 1);
        int found = 0;
        int asked = 0;
        const double fileRate = best(lookups, [&](int i) {
            // Every other lookup asks for a file the store does not know.
            const QString path = *trackNumber(pick(random))->fileURL +
                                 (i % 2 ? QStringLiteral(".missing") : QString());
            found += dao.isFileInDB(path) ? 1 : 0;
            asked += i % 2 ? 0 : 1;
        });
        const double codeRate = best(lookups, [&](int) {
            found += dao.getById(QStringLiteral("audioByCode"), checksumOf(pick(random))) ? 1 : 0;
            ++asked;
        });

        std::printf("%-10d %-28s %12d %14.0f\n", stored, "addTrackToDB withSave", adds, addRate);
        std::printf("%-10d %-28s %12d %14.0f\n", stored, "isFileInDB (half misses)", lookups,
                    fileRate);
        std::printf("%-10d %-28s %12d %14.0f\n", stored, "getById audioByCode", lookups, codeRate);
        if (found != asked)
            std::printf("unexpected: %d of %d stored tracks were found\n", found, asked);
        std::fflush(stdout);
    }
    StoreSetup::instance().close();
    return 0;
}
