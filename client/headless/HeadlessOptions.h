#pragma once

#include "settings/LibraryChoice.h"

#include <QString>
#include <QStringList>

#include <optional>

class QCommandLineParser;

// Where the collection lives, as the library picker records it.
struct LibraryRecipe {
    LibraryChoice choice = LibraryChoice::MusicPlayer;
    QStringList folders; // absolute paths, the chosen folders only
};

// What the command line asks for.
struct HeadlessOptions {
    std::optional<QString> login; // the e-mail address to sign in with
    bool logout = false;
    std::optional<LibraryRecipe> library;
    std::optional<QString> downloadDir; // absolute path
    bool once = false;
    // --dry-run: what the next sync would do, worked out without doing it.
    bool dryRun = false;
    bool status = false;
    // --autostart on|off: whether this program starts at login. Nothing is
    // registered unless asked.
    std::optional<bool> autostart;
    // --share-usage on|off: the "Share anonymous usage statistics" preference.
    std::optional<bool> shareUsage;
    // --tracks [--failed]: every stored track (or only the failed ones) with its state.
    bool tracks = false;
    bool failedOnly = false;
    // --limit-up N, --limit-down N: KiB/s for this run's transfers (0: no
    // limit), in place of the saved limits.
    std::optional<int> limitUp;
    std::optional<int> limitDown;
    // --pause / --resume: sent to the engine that is running (true: pause).
    std::optional<bool> pause;

    // --login, --logout, --status, --autostart, --share-usage and --tracks
    // do their thing and exit, unless --once asks for a sync as well.
    bool runsSync() const {
        return once ||
               !(login || logout || status || autostart || shareUsage || tracks || pause || dryRun);
    }
};

// Adds every option of the program (and --help, --version) to `parser`.
void addHeadlessOptions(QCommandLineParser &parser);

// The options of a processed parser, checked: folders must exist, the
// download folder must be writable. Nothing with `error` set otherwise.
std::optional<HeadlessOptions> readHeadlessOptions(const QCommandLineParser &parser,
                                                   QString *error);

// "mpd", "music", or folders separated by commas (relative ones are taken
// from the working folder).
std::optional<LibraryRecipe> parseLibraryChoice(const QString &text, QString *error);
