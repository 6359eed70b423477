// Times `sonarbox` from its start to the first paint of its main window,
// under the offscreen platform with a HOME of its own: a first start ever
// (fresh HOME), a later start (the same HOME again), and a later start whose
// store holds a signed-in account and a large collection (100,000 tracks
// unless told), several times each.
//
//   shell_startup_bench [--runs N] [--tracks N]
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

// Milliseconds to the program's "first paint" line, or nothing on failure.
std::optional<double> timeOneStart(const QString &home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("SONARBOX_QUIT_AFTER_FIRST_PAINT"), QStringLiteral("1"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));

    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::SeparateChannels);
    program.setStandardOutputFile(QProcess::nullDevice());
    program.setReadChannel(QProcess::StandardError);
    QElapsedTimer clock;
    clock.start();
    program.start(QStringLiteral(SONARBOX_EXE), {});
    if (!program.waitForStarted(10000))
        return std::nullopt;
    QByteArray errors;
    while (clock.elapsed() < 30000) {
        if (!program.waitForReadyRead(30000 - int(clock.elapsed())))
            break;
        errors += program.readAllStandardError();
        if (errors.contains("sonarbox: first paint")) {
            const double ms = double(clock.nsecsElapsed()) / 1e6;
            program.waitForFinished(10000);
            return ms;
        }
    }
    program.kill();
    program.waitForFinished();
    std::fprintf(stderr, "no first paint; the program said:\n%s\n", errors.constData());
    return std::nullopt;
}

// The store of a later start, as a person with a large collection has it:
// the account (signed in again at start) and `tracks` tracks.
bool fillStore(const QString &home, int tracks) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
    db.setDatabaseName(home + QStringLiteral("/.local/share/Sonarbox/Sonarbox.sqlite"));
    bool ok = db.open() && db.transaction();
    {
        QSqlQuery query(db);
        ok = ok && query.exec(QStringLiteral("INSERT INTO \"User\" (\"id\", \"username\", "
                                             "\"deviceId\") VALUES ('1', 'grace@example.com', "
                                             "'bench')"));
        ok =
            ok && query.prepare(QStringLiteral(
                      "INSERT INTO \"Audio\" (\"checksum\", \"songName\", \"artist\", "
                      "\"fileURL\", \"userMediaID\", \"downloadable\") VALUES (?, ?, ?, ?, ?, 1)"));
        for (int i = 0; ok && i < tracks; ++i) {
            query.bindValue(0, QStringLiteral("%1").arg(i, 32, 16, QLatin1Char('0')));
            query.bindValue(1, QStringLiteral("Song %1").arg(i));
            query.bindValue(2, QStringLiteral("Artist %1").arg(i % 997));
            query.bindValue(3, QStringLiteral("/music/%1.mp3").arg(i));
            query.bindValue(4, QString::number(i + 1));
            ok = query.exec();
        }
    }
    ok = ok && db.commit();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return ok;
}

void printRow(const char *name, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%-28s %6zu %10.1f %10.1f %10.1f\n", name, ms.size(), ms.front(), ms[ms.size() / 2],
                ms.back());
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption runsOption(QStringLiteral("runs"),
                                        QStringLiteral("Starts of each kind (default 5)."),
                                        QStringLiteral("N"), QStringLiteral("5"));
    const QCommandLineOption tracksOption(
        QStringLiteral("tracks"), QStringLiteral("Tracks of the large store (default 100000)."),
        QStringLiteral("N"), QStringLiteral("100000"));
    parser.addOption(runsOption);
    parser.addOption(tracksOption);
    parser.process(app);
    const int runs = std::max(1, parser.value(runsOption).toInt());
    const int tracks = std::max(1, parser.value(tracksOption).toInt());

    std::vector<double> first, later, large;
    QTemporaryDir largeHome;
    if (!timeOneStart(largeHome.path()) || !fillStore(largeHome.path(), tracks))
        return 1;
    for (int i = 0; i < runs; ++i) {
        QTemporaryDir home;
        const std::optional<double> fresh = timeOneStart(home.path());
        const std::optional<double> again = timeOneStart(home.path());
        const std::optional<double> full = timeOneStart(largeHome.path());
        if (!fresh || !again || !full)
            return 1;
        first.push_back(*fresh);
        later.push_back(*again);
        large.push_back(*full);
    }
    std::printf("%-28s %6s %10s %10s %10s\n", "start to first paint", "runs", "min ms", "median ms",
                "max ms");
    printRow("first start (new HOME)", first);
    printRow("later start", later);
    const QByteArray largeName = QStringLiteral("%1 tracks, account").arg(tracks).toUtf8();
    printRow(largeName.constData(), large);
    return 0;
}
