#include "DownloadTarget.h"

#include <QDir>
#include <QFile>
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

bool isFull(int error) {
    return error == ENOSPC || error == EDQUOT;
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
            *error = isFull(errno)
                         ? writeError(m_folder, errno)
                         : systemError(QStringLiteral("cannot create a file in %1").arg(m_folder));
        return false;
    }
    // Music files are readable by others, as files the user copies are.
    ::fchmod(fd, 0644);
    m_fd = fd;
    m_tempPath = QFile::decodeName(pattern);
    m_written = 0;
    return true;
}

bool DownloadTarget::write(const QByteArray &bytes, QString *error) {
    if (m_fd < 0) {
        if (error)
            *error = QStringLiteral("no file is open");
        return false;
    }
    // Straight to the descriptor: a buffered write that the disk cuts short
    // reports a short count without a reason, and the reason is what the
    // person needs to hear.
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(m_fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (error)
                *error = writeError(m_folder, written < 0 ? errno : ENOSPC);
            return false;
        }
        data += written;
        left -= written;
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
    if (m_fd < 0)
        return fail(QStringLiteral("no file is open"));
    // Some file systems (network ones, those with delayed allocation) find
    // out only now that the space is gone.
    if (::fsync(m_fd) != 0)
        return fail(writeError(m_folder, errno));
    const int closed = ::close(m_fd);
    const int closeError = errno;
    m_fd = -1;
    if (closed != 0 && closeError != EINTR)
        return fail(writeError(m_folder, closeError));

    const QByteArray from = QFile::encodeName(m_tempPath);
    for (int n = 1; n < 10000; ++n) {
        const QString target = QDir(m_folder).filePath(numberedName(fileName, n));
        const int result = renameNoReplace(from, QFile::encodeName(target));
        if (result == 0) {
            m_tempPath.clear();
            return target;
        }
        if (isFull(result))
            return fail(writeError(m_folder, result));
        if (result != EEXIST) {
            errno = result;
            return fail(systemError(QStringLiteral("cannot name the file %1").arg(target)));
        }
    }
    return fail(QStringLiteral("no free name for %1").arg(fileName));
}

void DownloadTarget::discard() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_tempPath.isEmpty())
        QFile::remove(m_tempPath);
    m_tempPath.clear();
}

QString DownloadTarget::writeError(const QString &folder, int error) {
    if (error == ENOSPC)
        return QStringLiteral("no space left in %1").arg(folder);
    if (error == EDQUOT)
        return QStringLiteral("no space left in %1 (disk quota exceeded)").arg(folder);
    return QStringLiteral("cannot write in %1: %2")
        .arg(folder, QString::fromLocal8Bit(std::strerror(error)));
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
