#include "LoginItems.h"

#include "settings/Logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

QMutex g_lock;
QString g_programPath;
QStringList g_programArguments;

// One argument of an Exec line, quoted as desktop entries quote them: inside
// double quotes, a backslash before '"', '`', '$' and '\\'; the string escape
// of the file doubles every backslash again; '%' stands for itself as "%%".
QString quotedExecArgument(const QString &argument) {
    QString quoted;
    for (const QChar c : argument) {
        if (c == QLatin1Char('\\'))
            quoted += QLatin1String("\\\\\\\\");
        else if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$'))
            quoted += QLatin1String("\\\\") + c;
        else if (c == QLatin1Char('%'))
            quoted += QLatin1String("%%");
        else
            quoted += c;
    }
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// The first word of an Exec line, unquoted (the reverse of quotedExecArgument,
// and plain words as other programs write them).
QString firstExecWord(const QString &line) {
    QString word;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (c == QLatin1Char('\\') && i + 1 < line.size()) {
            // In the file four backslashes are one backslash; two (or one, as
            // hand-written entries have it) before another character stand
            // for that character.
            if (line.mid(i, 4) == QLatin1String("\\\\\\\\")) {
                word += QLatin1Char('\\');
                i += 3;
            } else if (line[i + 1] == QLatin1Char('\\') && i + 2 < line.size()) {
                word += line[i + 2];
                i += 2;
            } else {
                word += line[++i];
            }
        } else if (c == QLatin1Char('%') && i + 1 < line.size() && line[i + 1] == c) {
            word += c;
            ++i;
        } else if (c.isSpace() && !quoted) {
            if (!word.isEmpty())
                break;
        } else {
            word += c;
        }
    }
    return word;
}

// The executable named by a desktop entry's Exec line, or "" when unreadable.
QString entryExecutable(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (!line.startsWith(QLatin1String("Exec=")))
            continue;
        const QString program = firstExecWord(line.mid(5));
        return program.isEmpty() ? QString() : QFileInfo(program).canonicalFilePath();
    }
    return QString();
}

QString canonicalProgram() {
    return QFileInfo(LoginItems::programPath()).canonicalFilePath();
}

} // namespace

void LoginItems::setProgramPath(const QString &path) {
    QMutexLocker lock(&g_lock);
    g_programPath = path;
}

QString LoginItems::programPath() {
    QMutexLocker lock(&g_lock);
    return g_programPath.isEmpty() ? QCoreApplication::applicationFilePath() : g_programPath;
}

void LoginItems::setProgramArguments(const QStringList &arguments) {
    QMutexLocker lock(&g_lock);
    g_programArguments = arguments;
}

QStringList LoginItems::programArguments() {
    QMutexLocker lock(&g_lock);
    return g_programArguments;
}

QString LoginItems::autostartDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart");
}

QString LoginItems::entryPath() {
    // One entry per program (sonarbox.desktop, sonarbox-headless.desktop), so
    // that one never replaces the other's.
    return QStringLiteral("%1/%2.desktop")
        .arg(autostartDirectory(), QFileInfo(programPath()).fileName());
}

bool LoginItems::contains() {
    const QString program = canonicalProgram();
    if (program.isEmpty())
        return false;
    const QDir dir(autostartDirectory());
    for (const QFileInfo &entry : dir.entryInfoList({QStringLiteral("*.desktop")}, QDir::Files)) {
        if (entryExecutable(entry.filePath()) == program)
            return true;
    }
    return false;
}

bool LoginItems::add() {
    if (!QDir().mkpath(autostartDirectory()))
        return false;
    QSaveFile file(entryPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    const QString program = programPath();
    QStringList command{quotedExecArgument(program)};
    for (const QString &argument : programArguments())
        command << quotedExecArgument(argument);
    // TryExec takes a plain value: only the string escapes apply.
    QString tryExec = program;
    tryExec.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Sonarbox\n"
                                         "Comment=Keeps your music and your music cloud in step\n"
                                         "TryExec=%1\n"
                                         "Exec=%2\n"
                                         "Icon=sonarbox\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(tryExec, command.join(QLatin1Char(' ')));
    file.write(entry.toUtf8());
    return file.commit();
}

int LoginItems::remove() {
    const QString program = canonicalProgram();
    int removed = 0;
    const QDir dir(autostartDirectory());
    for (const QFileInfo &entry : dir.entryInfoList({QStringLiteral("*.desktop")}, QDir::Files)) {
        if (!program.isEmpty() && entryExecutable(entry.filePath()) == program &&
            QFile::remove(entry.filePath()))
            ++removed;
    }
    return removed;
}
