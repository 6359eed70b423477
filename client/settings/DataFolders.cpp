#include "DataFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace DataFolders {

namespace {

// Read from the kernel rather than argv[0]: right however the program was
// started (a PATH look-up, a symbolic link) and before any QCoreApplication.
QString executableFolder() {
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
}

bool inside(const QString &path, const QString &folder) {
    return !folder.isEmpty() && (path == folder || path.startsWith(folder + QLatin1Char('/')));
}

} // namespace

QString shareFolderFor(const QString &executableFolder, const QString &buildFolder,
                       const QString &buildShare) {
    const QString beside = QDir::cleanPath(executableFolder + QStringLiteral("/../share"));
    if (QFileInfo::exists(beside + QStringLiteral("/sonarbox/sonarbox.ini")))
        return beside;
    const QString exe = QFileInfo(executableFolder).canonicalFilePath();
    if (inside(exe, QFileInfo(buildFolder).canonicalFilePath()))
        return buildShare;
    return beside;
}

QString shareFolder() {
    static const QString folder =
        shareFolderFor(executableFolder(), QStringLiteral(SONARBOX_BUILD_DIR),
                       QStringLiteral(SONARBOX_BUILD_DIR "/share"));
    return folder;
}

QString dataFile(const QString &relative) {
    const QString folder = shareFolder() + QStringLiteral("/sonarbox");
    return relative.isEmpty() ? folder : folder + QLatin1Char('/') + relative;
}

QString iconFile(const QString &relative) {
    return shareFolder() + QStringLiteral("/icons/hicolor/") + relative;
}

} // namespace DataFolders
