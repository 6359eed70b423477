#include "LoginItems.h"

#include "settings/Logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

QMutex g_lock;
QString g_programPath;

// The executable named by a desktop entry's Exec line, or "" when unreadable.
QString entryExecutable(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (!line.startsWith(QLatin1String("Exec=")))
            continue;
        const QStringList words = QProcess::splitCommand(line.mid(5));
        return words.isEmpty() ? QString() : QFileInfo(words.first()).canonicalFilePath();
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

QString LoginItems::autostartDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart");
}

QString LoginItems::entryPath() {
    return autostartDirectory() + QStringLiteral("/sonarbox.desktop");
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
    QString program = programPath();
    program.replace(QLatin1Char('"'), QLatin1String("\\\""));
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Sonarbox\n"
                                         "Comment=Keeps your music and your music cloud in step\n"
                                         "Exec=\"%1\"\n"
                                         "Icon=sonarbox\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(program);
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
