#pragma once

#include <QByteArray>
#include <QString>

#include <mutex>

// An append-only log file that never grows past a size: when a line would
// take it past `maxBytes`, the file becomes `<path>.1` (the older ones move
// up to `<path>.<keep>`, the oldest is dropped) and a new one is begun.
// Several processes may write the same file: each line is one write(2) on a
// descriptor opened with O_APPEND, and a rotation is decided under an
// advisory lock, so two processes never both rotate for the same excess; a
// process whose file was rotated by another notices it and reopens. The
// file and its folder are readable by the user alone. Thread-safe.
class LoggingFile {
public:
    LoggingFile(QString path, qint64 maxBytes, int keep);
    ~LoggingFile();
    LoggingFile(const LoggingFile &) = delete;
    LoggingFile &operator=(const LoggingFile &) = delete;

    // Appends `line` and a newline; false when the file cannot be written.
    bool append(const QByteArray &line);
    QString path() const { return m_path; }

private:
    bool openLocked();
    void rotateLocked(qint64 incoming);

    const QString m_path;
    const QByteArray m_nativePath;
    const qint64 m_maxBytes;
    const int m_keep;
    std::mutex m_lock;
    int m_fd = -1; // guarded by m_lock
};
