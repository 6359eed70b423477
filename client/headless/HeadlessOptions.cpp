#include "HeadlessOptions.h"

#include "sync/TransferLimits.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <utility>

namespace {

QString absolute(const QString &path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

void addHeadlessOptions(QCommandLineParser &parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Runs the Sonarbox sync engine without the desktop shell: signs in, records where your "
        "music lives, and keeps it in step with your cloud library (one sync with --once, "
        "otherwise now and every hour until interrupted)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("config"), QStringLiteral("Deployment configuration file."),
                      QStringLiteral("file")});
    parser.addOption({QStringLiteral("verbose"),
                      QStringLiteral("Show every log line here too (they always go to the log "
                                     "file, ~/.local/state/Sonarbox/sonarbox.log).")});
    parser.addOption({QStringLiteral("login"),
                      QStringLiteral("Sign in with this e-mail address. The password is read from "
                                     "standard input, or asked for on the terminal."),
                      QStringLiteral("email")});
    parser.addOption({QStringLiteral("logout"), QStringLiteral("Sign out.")});
    parser.addOption(
        {QStringLiteral("library"),
         QStringLiteral("Where your music lives: 'mpd' (the music player's library), 'music' (the "
                        "Music folder of your home folder), or folders separated by commas (write "
                        "./mpd for a folder named mpd)."),
         QStringLiteral("mpd|music|dir[,dir...]")});
    parser.addOption({QStringLiteral("download-dir"),
                      QStringLiteral("Folder that songs from the cloud are downloaded into."),
                      QStringLiteral("dir")});
    parser.addOption({QStringLiteral("once"),
                      QStringLiteral("Run one sync, then exit: 0 completed, 3 completed with "
                                     "failed tracks, 1 stopped or could not run, 4 another "
                                     "Sonarbox engine is using the store.")});
    parser.addOption({QStringLiteral("dry-run"),
                      QStringLiteral("Show what the next sync would do (files to identify, songs "
                                     "to download, tracks to upload with their size and time) "
                                     "without changing the cloud library or storing anything, "
                                     "then exit. What it identifies is not identified again.")});
    parser.addOption({QStringLiteral("autostart"),
                      QStringLiteral("Start this program (with this --config) when you log in "
                                     "to your desktop session, or no longer. Nothing is "
                                     "registered unless you ask."),
                      QStringLiteral("on|off")});
    parser.addOption({QStringLiteral("status"),
                      QStringLiteral("Print the account, the library and the state of the "
                                     "tracks, then exit.")});
    parser.addOption({QStringLiteral("share-usage"),
                      QStringLiteral("Share anonymous usage statistics, or no longer (sent only "
                                     "where the deployment collects them)."),
                      QStringLiteral("on|off")});
    parser.addOption({QStringLiteral("tracks"),
                      QStringLiteral("List every stored track with its state, then exit.")});
    parser.addOption({QStringLiteral("pause"),
                      QStringLiteral("Pause syncing in the Sonarbox engine that is running (this "
                                     "program or the desktop one): the transfer in progress "
                                     "ends, and nothing syncs until --resume, also after a "
                                     "restart.")});
    parser.addOption({QStringLiteral("resume"),
                      QStringLiteral("Resume syncing in the Sonarbox engine that is running; a "
                                     "sync starts soon.")});
    parser.addOption({QStringLiteral("failed"),
                      QStringLiteral("With --tracks: only the tracks that failed, with why.")});
    parser.addOption({QStringLiteral("limit-up"),
                      QStringLiteral("Upload no faster than this many KiB/s in this run (0: no "
                                     "limit), instead of the limit saved in the settings."),
                      QStringLiteral("N")});
    parser.addOption({QStringLiteral("limit-down"),
                      QStringLiteral("Download no faster than this many KiB/s in this run (0: no "
                                     "limit), instead of the limit saved in the settings."),
                      QStringLiteral("N")});
}

namespace {

// "on" or "off" for `option`; nothing with `error` set otherwise.
std::optional<bool> onOff(const QCommandLineParser &parser, const QString &option, QString *error) {
    const QString value = parser.value(option);
    if (value != QLatin1String("on") && value != QLatin1String("off")) {
        *error = QStringLiteral("--%1: give 'on' or 'off', not '%2'").arg(option, value);
        return std::nullopt;
    }
    return value == QLatin1String("on");
}

} // namespace

std::optional<LibraryRecipe> parseLibraryChoice(const QString &text, QString *error) {
    LibraryRecipe recipe;
    if (text == QLatin1String("mpd")) {
        recipe.choice = LibraryChoice::MusicPlayer;
        return recipe;
    }
    if (text == QLatin1String("music")) {
        recipe.choice = LibraryChoice::MusicFolder;
        return recipe;
    }
    recipe.choice = LibraryChoice::ChosenFolders;
    for (const QString &piece : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QFileInfo folder(piece);
        if (!folder.isDir()) {
            *error = QStringLiteral("--library: %1 is not a folder").arg(piece);
            return std::nullopt;
        }
        recipe.folders << absolute(piece);
    }
    if (recipe.folders.isEmpty()) {
        *error = QStringLiteral("--library: give 'mpd', 'music' or at least one folder");
        return std::nullopt;
    }
    return recipe;
}

std::optional<HeadlessOptions> readHeadlessOptions(const QCommandLineParser &parser,
                                                   QString *error) {
    HeadlessOptions options;
    options.once = parser.isSet(QStringLiteral("once"));
    options.dryRun = parser.isSet(QStringLiteral("dry-run"));
    if (options.dryRun && options.once) {
        *error = QStringLiteral("--dry-run and --once cannot be used together");
        return std::nullopt;
    }
    options.status = parser.isSet(QStringLiteral("status"));
    options.logout = parser.isSet(QStringLiteral("logout"));
    if (parser.isSet(QStringLiteral("login"))) {
        // Kept as typed, as the login screen keeps it.
        const QString email = parser.value(QStringLiteral("login"));
        if (email.trimmed().isEmpty()) {
            *error = QStringLiteral("--login needs an e-mail address");
            return std::nullopt;
        }
        options.login = email;
    }
    if (options.login && options.logout) {
        *error = QStringLiteral("--login and --logout cannot be used together");
        return std::nullopt;
    }
    for (const auto &[name, target] :
         {std::pair{QStringLiteral("autostart"), &options.autostart},
          std::pair{QStringLiteral("share-usage"), &options.shareUsage}}) {
        if (!parser.isSet(name))
            continue;
        *target = onOff(parser, name, error);
        if (!*target)
            return std::nullopt;
    }
    const bool pause = parser.isSet(QStringLiteral("pause"));
    const bool resume = parser.isSet(QStringLiteral("resume"));
    if (pause && resume) {
        *error = QStringLiteral("--pause and --resume cannot be used together");
        return std::nullopt;
    }
    if (pause || resume) {
        if (options.once || options.login || options.logout) {
            *error = QStringLiteral("--%1 goes alone: it is sent to the engine that is running")
                         .arg(pause ? QStringLiteral("pause") : QStringLiteral("resume"));
            return std::nullopt;
        }
        options.pause = pause;
    }
    options.tracks = parser.isSet(QStringLiteral("tracks"));
    options.failedOnly = parser.isSet(QStringLiteral("failed"));
    if (options.failedOnly && !options.tracks) {
        *error = QStringLiteral("--failed goes with --tracks");
        return std::nullopt;
    }
    for (const auto &[name, target] :
         {std::pair{QStringLiteral("limit-up"), &options.limitUp},
          std::pair{QStringLiteral("limit-down"), &options.limitDown}}) {
        if (!parser.isSet(name))
            continue;
        QString why;
        *target = TransferLimits::parse(parser.value(name), &why);
        if (!*target) {
            *error = QStringLiteral("--%1: %2").arg(name, why);
            return std::nullopt;
        }
    }
    if (parser.isSet(QStringLiteral("library"))) {
        options.library = parseLibraryChoice(parser.value(QStringLiteral("library")), error);
        if (!options.library)
            return std::nullopt;
    }
    if (parser.isSet(QStringLiteral("download-dir"))) {
        const QString dir = parser.value(QStringLiteral("download-dir"));
        const QFileInfo folder(dir);
        if (!folder.isDir()) {
            *error = QStringLiteral("--download-dir: %1 is not a folder").arg(dir);
            return std::nullopt;
        }
        if (!folder.isWritable()) {
            *error = QStringLiteral("--download-dir: %1 is not writable").arg(dir);
            return std::nullopt;
        }
        options.downloadDir = absolute(dir);
    }
    return options;
}
