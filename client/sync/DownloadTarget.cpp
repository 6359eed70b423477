#include "DownloadTarget.h"

#include <QDir>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kPrefix = QStringLiteral(".sonarbox-");
const QString kSuffix = QStringLiteral(".part");

QString systemError(const QString &what) {
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

// Gives `from` the name `to` unless `to` exists. 0 on success, else errno.
int renameNoReplace(const QByteArray &from, const QByteArray &to) {
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the atomic variant: a hard link is just as
    // exclusive.
    if (::link(from.constData(), to.constData()) != 0)
        return errno;
    ::unlink(from.constData());
    return 0;
}

} // namespace

DownloadTarget::DownloadTarget(QString folder)
    : m_folder(std::move(folder)) {}

DownloadTarget::~DownloadTarget() {
    discard();
}

bool DownloadTarget::open(QString *error) {
    if (!QDir().mkpath(m_folder)) {
        if (error)
            *error = QStringLiteral("cannot create the folder %1").arg(m_folder);
        return false;
    }
    QByteArray pattern =
        QFile::encodeName(QDir(m_folder).filePath(kPrefix + QStringLiteral("XXXXXX") + kSuffix));
    const int fd = ::mkstemps(pattern.data(), int(kSuffix.size()));
    if (fd < 0) {
        if (error)
            *error = systemError(QStringLiteral("cannot create a file in %1").arg(m_folder));
        return false;
    }
    // Music files are readable by others, as files the user copies are.
    ::fchmod(fd, 0644);
    m_tempPath = QFile::decodeName(pattern);
    m_written = 0;
    if (!m_file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (error)
            *error = m_file.errorString();
        discard();
        return false;
    }
    return true;
}

bool DownloadTarget::write(const QByteArray &bytes, QString *error) {
    if (!m_file.isOpen() || m_file.write(bytes) != bytes.size()) {
        if (error)
            *error = m_file.isOpen() ? m_file.errorString() : QStringLiteral("no file is open");
        return false;
    }
    m_written += bytes.size();
    return true;
}

std::optional<QString> DownloadTarget::commit(const QString &fileName, QString *error) {
    const auto fail = [&](const QString &why) -> std::optional<QString> {
        if (error)
            *error = why;
        discard();
        return std::nullopt;
    };
    if (!m_file.isOpen())
        return fail(QStringLiteral("no file is open"));
    if (!m_file.flush() || ::fsync(m_file.handle()) != 0)
        return fail(systemError(QStringLiteral("cannot write %1").arg(m_tempPath)));
    m_file.close();

    const QByteArray from = QFile::encodeName(m_tempPath);
    for (int n = 1; n < 10000; ++n) {
        const QString target = QDir(m_folder).filePath(numberedName(fileName, n));
        const int result = renameNoReplace(from, QFile::encodeName(target));
        if (result == 0) {
            m_tempPath.clear();
            return target;
        }
        if (result != EEXIST) {
            errno = result;
            return fail(systemError(QStringLiteral("cannot name the file %1").arg(target)));
        }
    }
    return fail(QStringLiteral("no free name for %1").arg(fileName));
}

void DownloadTarget::discard() {
    m_file.close();
    if (!m_tempPath.isEmpty())
        QFile::remove(m_tempPath);
    m_tempPath.clear();
}

int DownloadTarget::removeStale(const QString &folder) {
    static const QRegularExpression ours(QStringLiteral("^\\.sonarbox-[A-Za-z0-9]{6}\\.part$"));
    const QDir dir(folder);
    int removed = 0;
    for (const QString &name :
         dir.entryList({kPrefix + QLatin1Char('*') + kSuffix}, QDir::Files | QDir::Hidden)) {
        if (ours.match(name).hasMatch() && QFile::remove(dir.filePath(name)))
            ++removed;
    }
    return removed;
}

QString DownloadTarget::numberedName(const QString &fileName, int n) {
    if (n <= 1)
        return fileName;
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return QStringLiteral("%1 (%2)").arg(fileName, QString::number(n));
    // One pass over the pattern: a name holding "%2" stays as it is.
    return QStringLiteral("%1 (%2)%3")
        .arg(fileName.left(dot), QString::number(n), fileName.mid(dot));
}
