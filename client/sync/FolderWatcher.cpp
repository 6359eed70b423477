#include "FolderWatcher.h"

#include "FolderWalk.h"
#include "settings/Logging.h"
#include "settings/Utility.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// What a music folder's watch reports: its entries appearing, being written,
// moving and going, and the folder itself going.
constexpr uint32_t kMask = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO |
                           IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// `changed` is emitted at once, then at most once per this many milliseconds.
constexpr int kChangeIntervalMs = 100;

QByteArray join(const QByteArray &folder, const char *name) {
    QByteArray path = folder;
    if (!path.endsWith('/'))
        path += '/';
    return path += name;
}

bool isMusicName(const char *name, const QSet<QString> &extensions) {
    const char *dot = std::strrchr(name, '.');
    return dot && extensions.contains(QFile::decodeName(dot + 1));
}

// Whether the kernel reports every change of a folder on this file system to
// its watches: so on the local ones. On a network file system another
// computer's changes go unseen, and on a FUSE one what its daemon does.
bool reportsEveryChange(const char *path) {
    struct statfs fs {};
    if (::statfs(path, &fs) != 0)
        return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:     // ext2, ext3, ext4
    case 0x58465342: // xfs
    case 0x9123683E: // btrfs
    case 0xF2F52010: // f2fs
    case 0x2FC12FC1: // zfs
    case 0xCA451A4E: // bcachefs
    case 0x3153464A: // jfs
    case 0x52654973: // reiserfs
    case 0x01021994: // tmpfs
    case 0x794C7630: // overlayfs
    case 0x4D44:     // vfat
    case 0x2011BAB0: // exfat
    case 0x7366746E: // ntfs3
    case 0x482B:     // hfsplus
    case 0x9660:     // iso9660
    case 0x15013346: // udf
        return true;
    default:
        return false;
    }
}

} // namespace

class FolderWatcher::Tree {
public:
    explicit Tree(FolderWatcher &owner)
        : m_owner(owner) {
        const QStringList &list = Utility::validExtensions();
        m_extensions = QSet<QString>(list.begin(), list.end());
        m_throttle.setSingleShot(true);
        m_throttle.setInterval(kChangeIntervalMs);
        QObject::connect(&m_throttle, &QTimer::timeout, [this] {
            if (!m_changePending)
                return;
            m_changePending = false;
            emit m_owner.changed();
            m_throttle.start();
        });
        // A file system mounted on a folder of the trees, or taken away,
        // changes what is below that folder without an event on any watch.
        // The mount table tells of it: the trees are then watched again.
        m_mounts = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
        if (m_mounts >= 0) {
            m_mountsNotifier = new QSocketNotifier(m_mounts, QSocketNotifier::Exception);
            QObject::connect(m_mountsNotifier, &QSocketNotifier::activated, [this] {
                if (m_roots.isEmpty())
                    return;
                qCInfo(lcSync) << "File systems were mounted or unmounted: watching the music "
                                  "folders again";
                watchAll();
                changed();
            });
        }
    }
    ~Tree() {
        reset();
        delete m_mountsNotifier;
        if (m_mounts >= 0)
            ::close(m_mounts);
    }

    void setRoots(const QStringList &roots) {
        m_roots.clear();
        for (const QString &root : roots)
            m_roots << QFile::encodeName(QDir::cleanPath(root));
        watchAll();
    }

private:
    void reset() {
        delete m_notifier;
        m_notifier = nullptr;
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        m_paths.clear();
        m_watches.clear();
        m_full = false;
    }

    // Drops every watch (closing the descriptor drops them at once) and
    // watches the trees again.
    void watchAll() {
        reset();
        m_owner.m_journal->watching(m_roots);
        if (!m_roots.isEmpty()) {
            m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            if (m_fd < 0) {
                qCWarning(lcSync).noquote()
                    << QStringLiteral("The music folders cannot be watched for changes (%1): "
                                      "they are synced by the hourly sync")
                           .arg(QString::fromLocal8Bit(std::strerror(errno)));
                m_full = true;
            } else {
                m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read);
                QObject::connect(m_notifier, &QSocketNotifier::activated, [this] { read(); });
                m_limit = std::min(systemWatchLimit(), m_owner.m_limit.load());
                for (const QByteArray &root : std::as_const(m_roots))
                    watchTree(root);
            }
        }
        if (!m_full)
            m_owner.m_journal->complete();
        m_owner.m_watched = int(m_paths.size());
        m_owner.m_complete = !m_full;
        emit m_owner.watching(int(m_paths.size()), !m_full);
    }

    // Watches the folder and every folder below it. Each folder is watched
    // before it is listed, so that a subfolder made meanwhile is either
    // listed or reported.
    void watchTree(const QByteArray &root) {
        if (m_full)
            return;
        FolderWalk walk;
        walk.stopRequested = [this] { return m_full || m_owner.m_ending.load(); };
        walk.knownSubfolders =
            [this](const FolderWalk::Folder &folder) -> const std::vector<QByteArray> * {
            add(folder.path);
            checkReported(folder);
            return nullptr;
        };
        walk.run(QFile::decodeName(root));
        m_owner.m_watched = int(m_paths.size());
        m_owner.m_complete = !m_full;
    }

    void add(const QByteArray &path) {
        if (m_full || m_watches.contains(path))
            return;
        if (m_paths.size() >= m_limit) {
            limitReached();
            return;
        }
        const int wd = ::inotify_add_watch(m_fd, path.constData(), kMask);
        if (wd < 0) {
            if (errno == ENOSPC) {
                limitReached();
            } else {
                qCDebug(lcSync).noquote() << "Not watched:" << QFile::decodeName(path)
                                          << QString::fromLocal8Bit(std::strerror(errno));
                // What becomes of it is not seen (a folder made readable).
                unreported(path);
            }
            return;
        }
        // The same folder reached by a second path (a link) keeps its first.
        if (m_paths.contains(wd))
            return;
        m_paths.insert(wd, path);
        m_watches.insert(path, wd);
    }

    // Forgets the watches of a folder that moved out of sight, and of the
    // folders below it.
    void forgetTree(const QByteArray &path) {
        const QByteArray below = join(path, "");
        for (auto it = m_watches.begin(); it != m_watches.end();) {
            if (it.key() == path || it.key().startsWith(below)) {
                ::inotify_rm_watch(m_fd, it.value());
                m_paths.remove(it.value());
                it = m_watches.erase(it);
            } else {
                ++it;
            }
        }
    }

    // A folder on a file system that does not report every change keeps its
    // tree from ever counting as watched whole.
    void checkReported(const FolderWalk::Folder &folder) {
        const dev_t device = folder.attributes.st_dev;
        auto known = m_reporting.constFind(device);
        if (known == m_reporting.cend())
            known = m_reporting.insert(device, reportsEveryChange(folder.path.constData()));
        if (!*known)
            unreported(folder.path);
    }

    void unreported(const QByteArray &path) {
        for (const QByteArray &root : std::as_const(m_roots))
            if (path == root || path.startsWith(join(root, "")))
                m_owner.m_journal->unreported(root);
    }

    void limitReached() {
        m_full = true;
        m_owner.m_journal->incomplete();
        if (m_limitTold)
            return;
        m_limitTold = true;
        qCWarning(lcSync).noquote()
            << QStringLiteral("Watching %1 music folders for changes, as many as the system allows "
                              "(fs.inotify.max_user_watches is %2): changes in the other folders "
                              "are synced by the hourly sync")
                   .arg(m_paths.size())
                   .arg(systemWatchLimit());
    }

    void read() {
        alignas(inotify_event) char buffer[16384];
        bool change = false;
        bool overflow = false;
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (const char *p = buffer; p < buffer + n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(p);
                p += sizeof(inotify_event) + event->len;
                if (event->mask & IN_Q_OVERFLOW)
                    overflow = true;
                else
                    change |= take(*event);
            }
        }
        if (overflow) {
            // Events were lost, folders made among them too.
            qCInfo(lcSync) << "Too many changes at once to follow one by one: watching the music "
                              "folders again";
            watchAll();
            change = true;
        }
        m_owner.m_watched = int(m_paths.size());
        m_owner.m_complete = !m_full;
        if (change)
            changed();
    }

    // Follows one event; whether it changes the music.
    bool take(const inotify_event &event) {
        const auto folder = m_paths.constFind(event.wd);
        if (folder == m_paths.cend())
            return false;
        if (!(event.mask & IN_IGNORED))
            m_owner.m_journal->changed(*folder);
        if (event.mask & IN_IGNORED) {
            const QByteArray path = *folder;
            m_paths.remove(event.wd);
            if (m_watches.value(path, -1) == event.wd)
                m_watches.remove(path);
            return false;
        }
        if (event.len == 0 || event.name[0] == '\0')
            return (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) != 0;
        if (event.mask & IN_ISDIR) {
            const QByteArray path = join(*folder, event.name);
            if (event.mask & (IN_CREATE | IN_MOVED_TO))
                watchTree(path);
            else if (event.mask & IN_MOVED_FROM)
                forgetTree(path);
            return true;
        }
        return isMusicName(event.name, m_extensions);
    }

    void changed() {
        if (m_throttle.isActive()) {
            m_changePending = true;
            return;
        }
        emit m_owner.changed();
        m_throttle.start();
    }

    FolderWatcher &m_owner;
    QSet<QString> m_extensions;
    QList<QByteArray> m_roots;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    int m_mounts = -1;
    QSocketNotifier *m_mountsNotifier = nullptr;
    QHash<int, QByteArray> m_paths;
    QHash<QByteArray, int> m_watches;
    QHash<dev_t, bool> m_reporting;
    int m_limit = 0;
    // No further folder is watched: the limit was met.
    bool m_full = false;
    bool m_limitTold = false;
    QTimer m_throttle;
    bool m_changePending = false;
};

FolderWatcher::FolderWatcher(QObject *parent)
    : QObject(parent)
    , m_context(new QObject) {
    m_thread.setObjectName(QStringLiteral("Folder watch"));
    m_context->moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(
        m_context, [this] { m_tree = std::make_unique<Tree>(*this); }, Qt::QueuedConnection);
}

FolderWatcher::~FolderWatcher() {
    // A walk in progress ends at its next entry.
    m_ending = true;
    QMetaObject::invokeMethod(
        m_context, [this] { m_tree.reset(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_context;
}

void FolderWatcher::watch(const QStringList &roots) {
    QMetaObject::invokeMethod(
        m_context, [this, roots] { m_tree->setRoots(roots); }, Qt::QueuedConnection);
}

int FolderWatcher::systemWatchLimit(int fallback) {
    QFile file(QStringLiteral("/proc/sys/fs/inotify/max_user_watches"));
    bool ok = false;
    const int limit = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt(&ok) : 0;
    return ok && limit > 0 ? limit : fallback;
}
