#include "Utility.h"

#include "Logging.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <fcntl.h>

#include <atomic>

namespace {

QString percentDecoded(const QString &text) {
    return QUrl::fromPercentEncoding(text.toUtf8());
}

std::atomic<int> g_minOSVersion{99};

} // namespace

QString Utility::normalizeFilePath(const QString &fileURL) {
    const QString prefix =
        minOSVersion() < 9 ? QStringLiteral("file://localhost") : QStringLiteral("file://");
    const QStringList pieces = fileURL.split(prefix);
    if (pieces.size() < 2)
        return fileURL;
    return percentDecoded(pieces.at(1));
}

QString Utility::getFileName(const QString &path) {
    return percentDecoded(path.section(QLatin1Char('/'), -1));
}

QString Utility::getFileExtension(const QString &path) {
    return percentDecoded(path.section(QLatin1Char('.'), -1));
}

QString Utility::getFolderNameFromPath(const QString &path) {
    const QStringList parts = path.split(QLatin1Char('/'));
    if (parts.size() < 2)
        return QString();
    return percentDecoded(parts.at(parts.size() - 2));
}

QString Utility::getShortenedFolderPath(const QString &path) {
    const QStringList parts = path.split(QLatin1Char('/'));
    if (parts.size() <= 1)
        return path;
    return QStringLiteral("../%1/%2").arg(parts.at(parts.size() - 2), parts.last());
}

bool Utility::isValidFileExtension(const QString &extension) {
    return validExtensions().contains(extension, Qt::CaseSensitive);
}

const QStringList &Utility::validExtensions() {
    static const QStringList extensions = {
        QStringLiteral("mp3"),  QStringLiteral("m4a"), QStringLiteral("MP3"), QStringLiteral("M4A"),
        QStringLiteral("mP3"),  QStringLiteral("m4A"), QStringLiteral("Mp3"), QStringLiteral("M4a"),
        QStringLiteral("aac"),  QStringLiteral("aif"), QStringLiteral("iff"), QStringLiteral("ra"),
        QStringLiteral("RA"),   QStringLiteral("rA"),  QStringLiteral("Ra"),  QStringLiteral("wav"),
        QStringLiteral("wma"),  QStringLiteral("ogg"), QStringLiteral("mpa"), QStringLiteral("MPA"),
        QStringLiteral("flac"), QStringLiteral("FLAC")};
    return extensions;
}

int Utility::minOSVersion() {
    return g_minOSVersion.load();
}

void Utility::setMinOSVersion(int version) {
    g_minOSVersion = version;
}

QString Utility::userDirectory() {
    return QDir::homePath() + QLatin1Char('/');
}

bool Utility::isValidFileSize(const QString &path) {
    const QFileInfo info(path);
    const qint64 size = info.exists() ? info.size() : 0;
    return size >= MinimumFileSize && size < MaximumFileSize;
}

bool Utility::isValidEmail(const QString &email) {
    static const QRegularExpression pattern(QStringLiteral(
        R"(^[_A-Za-z0-9-\+]+(\.[_A-Za-z0-9-]+)*@[A-Za-z0-9-]+(\.[A-Za-z0-9]+)*(\.[A-Za-z]{2,})$)"));
    return pattern.match(email).hasMatch();
}

bool Utility::isTrackADuplicate(const QString &path, const QSet<QString> &duplicatePaths) {
    return duplicatePaths.contains(path);
}

std::optional<QByteArray> Utility::readFile(const QString &path, bool addDocumentsPath,
                                            ReadOption options) {
    QString fullPath = path;
    if (addDocumentsPath) {
        QString dir = userDirectory();
        if (!dir.endsWith(QLatin1Char('/')))
            dir += QLatin1Char('/');
        fullPath = dir + path;
    }
    QFile file(fullPath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    if (options == ReadOption::Uncached) {
        // Large uploads should not push the rest of the system out of the page cache.
        ::posix_fadvise(file.handle(), 0, 0, POSIX_FADV_NOREUSE);
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        qCWarning(lcSettings).noquote() << QStringLiteral("Exception: %1").arg(file.errorString());
        return std::nullopt;
    }
    return bytes;
}

void Utility::showAlert(const QString &message) {
    qCInfo(lcSettings).noquote() << QStringLiteral("ALERT MESSAGE: %1").arg(message);
}

void Utility::checkForCrashReports() {}

QString Utility::getMD5FromFile(const QString &path) {
    qCInfo(lcSettings).noquote() << QStringLiteral("getMD5FromFile File Path %1").arg(path);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash md5(QCryptographicHash::Md5);
    QByteArray chunk(4096, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(chunk.data(), chunk.size());
        if (n < 0)
            return QString();
        if (n == 0)
            break;
        md5.addData(QByteArrayView(chunk.constData(), n));
    }
    return QString::fromLatin1(md5.result().toHex());
}

QString Utility::getMD5FromString(const QString &text) {
    QByteArray bytes = text.toUtf8();
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return QString::fromLatin1(
        QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().toUpper());
}

std::optional<QString> Utility::getValidJSessionID(const QString &cookie) {
    static const QLatin1StringView marker("JSESSIONID=");
    const qsizetype start = cookie.indexOf(marker);
    if (start < 0)
        return std::nullopt;
    const qsizetype from = start + marker.size();
    const qsizetype end = cookie.indexOf(QLatin1Char(';'), from);
    return cookie.mid(from, end < 0 ? -1 : end - from);
}
