#pragma once

#include "store/Audio.h"

#include <QMutex>
#include <QStringList>

#include <ostream>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

inline void PrintTo(const QString &text, std::ostream *os) {
    *os << '"' << text.toStdString() << '"';
}

// A scanned record in one line: name|songName|artist|album|extension|year|track
// ("-" for an absent field).
inline QString summary(const Audio &t) {
    return QStringList{t.name.value_or("-"),
                       t.songName.value_or("-"),
                       t.artist.value_or("-"),
                       t.album.value_or("-"),
                       t.fileExtension.value_or("-"),
                       t.releaseYear.value_or("-"),
                       t.sequence ? QString::number(*t.sequence) : "-"}
        .join('|');
}

// The log lines above debug level written while it lives, from every thread.
class LogCapture {
public:
    LogCapture() { m_previous = qInstallMessageHandler(&LogCapture::handler), s_current = this; }
    ~LogCapture() { qInstallMessageHandler(m_previous), s_current = nullptr; }
    int count(const QString &text) const {
        QMutexLocker lock(&m_lock);
        return int(m_lines.filter(text).size());
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (LogCapture *capture = s_current; capture && type != QtDebugMsg) {
            QMutexLocker lock(&capture->m_lock);
            capture->m_lines << message;
        }
    }
    static inline LogCapture *s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_lock;
    QStringList m_lines;
};

// Root may read any file; while this lives the calling thread may not, so that
// files without read permission are unreadable as they are for everybody else.
class WithoutReadOverride {
public:
    WithoutReadOverride() {
        syscall(SYS_capget, &m_header, m_saved);
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        syscall(SYS_capset, &m_header, reduced);
    }
    ~WithoutReadOverride() { syscall(SYS_capset, &m_header, m_saved); }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
};
