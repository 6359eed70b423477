#include "HeadlessOptions.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

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
                                     "failed tracks, 1 stopped or could not run.")});
    parser.addOption({QStringLiteral("autostart"),
                      QStringLiteral("Start this program (with this --config) when you log in "
                                     "to your desktop session, or no longer. Nothing is "
                                     "registered unless you ask."),
                      QStringLiteral("on|off")});
    parser.addOption({QStringLiteral("status"),
                      QStringLiteral("Print the account, the library and the state of the "
                                     "tracks, then exit.")});
}

std::optional<LibraryChoice> parseLibraryChoice(const QString &text, QString *error) {
    LibraryChoice recipe;
    if (text == QLatin1String("mpd")) {
        recipe.choice = 1;
        return recipe;
    }
    if (text == QLatin1String("music")) {
        recipe.choice = 2;
        return recipe;
    }
    recipe.choice = 3;
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
    if (parser.isSet(QStringLiteral("autostart"))) {
        const QString value = parser.value(QStringLiteral("autostart"));
        if (value != QLatin1String("on") && value != QLatin1String("off")) {
            *error = QStringLiteral("--autostart: give 'on' or 'off', not '%1'").arg(value);
            return std::nullopt;
        }
        options.autostart = value == QLatin1String("on");
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
