// Times `sonarbox` from its start to the first paint of its main window,
// under the offscreen platform with a HOME of its own: a first start ever
// (fresh HOME) and a later start (the same HOME again), several times each.
//
//   shell_startup_bench [--runs N]
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
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

void printRow(const char *name, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%-24s %6zu %10.1f %10.1f %10.1f\n", name, ms.size(), ms.front(), ms[ms.size() / 2],
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
    parser.addOption(runsOption);
    parser.process(app);
    const int runs = std::max(1, parser.value(runsOption).toInt());

    std::vector<double> first, later;
    for (int i = 0; i < runs; ++i) {
        QTemporaryDir home;
        const std::optional<double> fresh = timeOneStart(home.path());
        const std::optional<double> again = timeOneStart(home.path());
        if (!fresh || !again)
            return 1;
        first.push_back(*fresh);
        later.push_back(*again);
    }
    std::printf("%-24s %6s %10s %10s %10s\n", "start to first paint", "runs", "min ms", "median ms",
                "max ms");
    printRow("first start (new HOME)", first);
    printRow("later start", later);
    return 0;
}
