// Times the "Tracks" window over a store of many tracks (100,000 unless
// told), under the offscreen platform: from making the window to its first
// painted screenful (the store read included), a jump to the last row, a
// hundred page-downs, and a search over every row, each painted.
//
//   shell_tracks_bench [--tracks N] [--runs N]
#include "screens/TracksWindow.h"
#include "store/StoreSetup.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScrollBar>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

// Tracks of every state the view shows, written straight into the store file.
bool fillStore(const QString &file, int tracks) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
    db.setDatabaseName(file);
    bool ok = db.open() && db.transaction();
    {
        QSqlQuery insert(db);
        ok = ok && insert.prepare(QStringLiteral(
                       "INSERT INTO \"Audio\" (\"checksum\", \"songName\", \"artist\", \"album\", "
                       "\"fileURL\", \"downloaded\", \"downloadable\", \"uploaded\", "
                       "\"failureReason\") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (int i = 0; ok && i < tracks; ++i) {
            const int kind = i % 6;
            insert.bindValue(0, QStringLiteral("%1").arg(i, 32, 16, QLatin1Char('0')));
            insert.bindValue(1, QStringLiteral("Song %1").arg(i));
            insert.bindValue(2, QStringLiteral("Artist %1").arg(i % 997));
            insert.bindValue(3, QStringLiteral("Album %1").arg(i % 4999));
            insert.bindValue(4, QStringLiteral("/music/Artist %1/Album %2/%3.mp3")
                                    .arg(i % 997)
                                    .arg(i % 4999)
                                    .arg(i));
            insert.bindValue(5, kind == 2 ? 1 : 0);
            insert.bindValue(6, kind == 4 ? QVariant() : QVariant(kind < 3 ? 1 : 0));
            insert.bindValue(7, kind == 1 ? QVariant(1) : QVariant());
            insert.bindValue(8,
                             kind == 5 ? QVariant(QStringLiteral("HTTP status 413")) : QVariant());
            ok = insert.exec();
        }
        if (!ok)
            std::fprintf(stderr, "filling the store failed: %s\n",
                         qPrintable(insert.lastError().text()));
    }
    ok = ok && db.commit();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return ok;
}

void paint(TracksWindow &window) {
    window.view()->viewport()->repaint();
}

double ms(const QElapsedTimer &clock) {
    return double(clock.nsecsElapsed()) / 1e6;
}

void printRow(const char *name, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::printf("%-34s %6zu %10.1f %10.1f %10.1f\n", name, values.size(), values.front(),
                values[values.size() / 2], values.back());
}

} // namespace

int main(int argc, char **argv) {
    // A HOME of its own, so that nothing is written to the real one.
    QTemporaryDir root;
    for (const auto &[name, sub] :
         {std::pair{"HOME", "home"}, std::pair{"XDG_CONFIG_HOME", "home/.config"},
          std::pair{"XDG_DATA_HOME", "home/.local/share"},
          std::pair{"XDG_CACHE_HOME", "home/.cache"}})
        qputenv(name, root.filePath(QLatin1String(sub)).toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Sonarbox"));
    QCoreApplication::setApplicationName(QStringLiteral("Sonarbox"));
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption tracksOption(QStringLiteral("tracks"),
                                          QStringLiteral("Tracks in the store (default 100000)."),
                                          QStringLiteral("N"), QStringLiteral("100000"));
    const QCommandLineOption runsOption(QStringLiteral("runs"),
                                        QStringLiteral("Windows opened (default 5)."),
                                        QStringLiteral("N"), QStringLiteral("5"));
    parser.addOption(tracksOption);
    parser.addOption(runsOption);
    parser.process(app);
    const int tracks = std::max(1, parser.value(tracksOption).toInt());
    const int runs = std::max(1, parser.value(runsOption).toInt());

    StoreSetup::setStoreFolder(root.filePath(QStringLiteral("store")));
    if (!StoreSetup::instance().managedObjectContext())
        return 1;
    const QString file = StoreSetup::instance().storeFilePath();
    StoreSetup::instance().close();
    if (!fillStore(file, tracks))
        return 1;

    std::vector<double> open, jump, pages, search, total;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        TracksWindow window;
        window.show();
        while (window.model()->rowCount() < tracks)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        paint(window);
        open.push_back(ms(clock));

        QScrollBar *bar = window.view()->verticalScrollBar();
        QElapsedTimer step;
        step.start();
        bar->setValue(bar->maximum());
        paint(window);
        jump.push_back(ms(step));

        step.start();
        bar->setValue(0);
        for (int i = 0; i < 100; ++i) {
            bar->setValue(bar->value() + bar->pageStep());
            paint(window);
        }
        pages.push_back(ms(step));
        total.push_back(ms(clock));

        step.start();
        window.searchField()->setText(QStringLiteral("artist 99 album"));
        paint(window);
        search.push_back(ms(step));
    }
    std::printf("track view over %d tracks\n", tracks);
    std::printf("%-34s %6s %10s %10s %10s\n", "step", "runs", "min ms", "median ms", "max ms");
    printRow("open to first painted rows", open);
    printRow("jump to the last row", jump);
    printRow("100 page-downs", pages);
    printRow("open and scroll (the three above)", total);
    printRow("search over every row", search);
    return 0;
}
