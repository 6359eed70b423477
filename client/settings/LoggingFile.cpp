#include "LoggingFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray numbered(const QByteArray &path, int n) {
    return path + '.' + QByteArray::number(n);
}

bool sameFile(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

LoggingFile::LoggingFile(QString path, qint64 maxBytes, int keep)
    : m_path(std::move(path))
    , m_nativePath(QFile::encodeName(m_path))
    , m_maxBytes(maxBytes)
    , m_keep(keep) {}

LoggingFile::~LoggingFile() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool LoggingFile::openLocked() {
    if (m_fd >= 0)
        return true;
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QFileInfo::exists(folder)) {
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
    }
    m_fd = ::open(m_nativePath.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    return m_fd >= 0;
}

void LoggingFile::rotateLocked(qint64 incoming) {
    // Whoever holds the lock decides; a process that finds the name already
    // on a newer file (rotated by another) only follows it.
    ::flock(m_fd, LOCK_EX);
    struct stat ours {};
    struct stat named {};
    if (::fstat(m_fd, &ours) == 0 && ::stat(m_nativePath.constData(), &named) == 0 &&
        sameFile(ours, named) && ours.st_size > 0 && ours.st_size + incoming > m_maxBytes) {
        ::unlink(numbered(m_nativePath, m_keep).constData());
        for (int n = m_keep - 1; n >= 1; --n)
            ::rename(numbered(m_nativePath, n).constData(),
                     numbered(m_nativePath, n + 1).constData());
        if (m_keep > 0)
            ::rename(m_nativePath.constData(), numbered(m_nativePath, 1).constData());
        else
            ::unlink(m_nativePath.constData());
    }
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}

bool LoggingFile::append(const QByteArray &line) {
    // A single line longer than the whole file is cut, so the cap holds.
    QByteArray text = line.left(qMax<qint64>(0, m_maxBytes - 1));
    text += '\n';
    std::lock_guard guard(m_lock);
    if (!openLocked())
        return false;
    struct stat ours {};
    if (::fstat(m_fd, &ours) == 0) {
        struct stat named {};
        const bool renamed =
            ::stat(m_nativePath.constData(), &named) != 0 || !sameFile(ours, named);
        if (renamed || ours.st_size + text.size() > m_maxBytes) {
            if (renamed) {
                ::close(m_fd);
                m_fd = -1;
            } else {
                rotateLocked(text.size());
            }
            if (!openLocked())
                return false;
        }
    }
    const char *data = text.constData();
    qsizetype left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(m_fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}
