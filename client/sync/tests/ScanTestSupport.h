#pragma once

#include "LogCapture.h"
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

// Root may take a lease on any file; while this lives the calling thread may
// take one only on its own files, as any other user.
class WithoutLeaseOverride {
public:
    WithoutLeaseOverride() {
        syscall(SYS_capget, &m_header, m_saved);
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~(1u << CAP_LEASE);
        syscall(SYS_capset, &m_header, reduced);
    }
    ~WithoutLeaseOverride() { syscall(SYS_capset, &m_header, m_saved); }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
};
