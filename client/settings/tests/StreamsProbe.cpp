// A program that claims its standard streams as Sonarbox's programs do, then
// prints as a library would and as the program itself does, for the tests of
// where each line ends up.
#include "settings/LoggingSetup.h"
#include "settings/StandardStreams.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    StandardStreams::claim();
    Logging::install(false);
    const QString what = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();

    // What a library prints, by the C streams and by the descriptors.
    std::printf("library result line\n");
    std::fprintf(stderr, "library error line\n");
    (void)!::write(STDERR_FILENO, "library raw error\n", 18);
    // What the program says itself.
    std::fprintf(StandardStreams::output(), "own output line\n");
    std::fflush(StandardStreams::output());
    qWarning("own warning line");
    qInfo("own info line");

    if (what == QLatin1String("abort")) {
        std::fprintf(stderr, "the reason for the abort\n");
        std::abort();
    }
    if (what == QLatin1String("child")) {
        // A child inherits the claimed descriptors.
        return std::system("echo child output; echo child error >&2") == 0 ? 0 : 1;
    }
    return 0;
}
