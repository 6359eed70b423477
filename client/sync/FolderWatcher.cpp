#include "FolderWatcher.h"

#include "FolderWalk.h"
#include "settings/Logging.h"
#include "settings/Utility.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
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

QByteArray parentOf(const QByteArray &path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

QByteArray nameOf(const QByteArray &path) {
    return path.mid(path.lastIndexOf('/') + 1);
}

bool isIn(const QByteArray &path, const QByteArray &root) {
    return path == root || path.startsWith(join(root, ""));
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
    // Where a folder that is not there now would appear: an entry `name` of
    // the folder at `folder`, and the watch on that folder.
    struct Lookout {
        QByteArray folder;
        QByteArray name;
        int wd = -1;
    };
    enum class Added { Now, Already, Elsewhere, Gone, Not };

    void reset() {
        delete m_notifier;
        m_notifier = nullptr;
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        m_paths.clear();
        m_watches.clear();
        m_aliases.clear();
        m_missing.clear();
        m_unwatched.clear();
        m_rootFolders.clear();
        const QSet<QByteArray> writing = std::exchange(m_writing, {});
        m_owner.m_writing = 0;
        if (!m_owner.m_ending)
            for (const QByteArray &file : writing)
                emit m_owner.writing(QFile::decodeName(file), false);
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
            } else {
                m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read);
                QObject::connect(m_notifier, &QSocketNotifier::activated, [this] { read(); });
                m_limit = std::min(systemWatchLimit(), m_owner.m_limit.load());
                for (const QByteArray &root : std::as_const(m_roots))
                    enter(root);
            }
        }
        publish();
        emit m_owner.watching(m_owner.m_watched.load(), m_owner.m_complete.load());
    }

    // Watches the folder at `path` (a chosen folder, or where a link leads)
    // and every folder below it. Where there is no folder now, watches the
    // nearest folder above it that exists, to see one appear; a link that
    // leads to a file, or round in a circle, is left as it is. Whether
    // something appeared where nothing was.
    bool enter(const QByteArray &path) {
        for (int round = 0; round < 8 && !m_full; ++round) {
            struct stat attributes {};
            const int error = ::stat(path.constData(), &attributes) == 0 ? 0 : errno;
            if (error == 0 && S_ISDIR(attributes.st_mode)) {
                const bool appeared = stopLooking(path);
                watchTree(path);
                return appeared;
            }
            const bool root = m_roots.contains(path);
            // A folder gone (the one holding it reports that), a link that
            // leads to a file, or round in a circle.
            if ((!root && !isLink(path)) || (error == 0 && !root) || error == ELOOP) {
                if (error == ELOOP)
                    qCDebug(lcSync).noquote()
                        << "Not followed, a loop of links:" << QFile::decodeName(path);
                return stopLooking(path);
            }
            if (error != 0 && error != ENOENT && error != ENOTDIR) {
                stopLooking(path);
                unwatched(path);
                return false;
            }
            const std::optional<Lookout> next = lookoutFor(path);
            const auto current = m_missing.constFind(path);
            // In place before this look found it still missing: what comes
            // later is reported.
            if (current != m_missing.cend() && next && current->wd >= 0 &&
                current->folder == next->folder && current->name == next->name)
                return false;
            stopLooking(path);
            Lookout lookout = next.value_or(Lookout{});
            if (next)
                lookout.wd = ::inotify_add_watch(m_fd, lookout.folder.constData(), kMask);
            m_missing.insert(path, lookout);
            if (lookout.wd < 0) {
                qCDebug(lcSync).noquote()
                    << "Not there, and nowhere to look out for it:" << QFile::decodeName(path);
                return false;
            }
        }
        return false;
    }

    // Whether `path` was looked out for; it no longer is.
    bool stopLooking(const QByteArray &path) {
        const auto lookout = m_missing.constFind(path);
        if (lookout == m_missing.cend())
            return false;
        const int wd = lookout->wd;
        m_missing.erase(lookout);
        release(wd);
        return true;
    }

    // The folder to watch for a folder to appear at `path`: the nearest one
    // on its way that exists, links followed; none past a loop of links.
    static std::optional<Lookout> lookoutFor(QByteArray path) {
        for (int step = 0; step < 256; ++step) {
            struct stat attributes {};
            if (::lstat(path.constData(), &attributes) == 0) {
                if (S_ISLNK(attributes.st_mode)) {
                    char target[PATH_MAX];
                    const ssize_t n = ::readlink(path.constData(), target, sizeof target);
                    if (n <= 0 || size_t(n) >= sizeof target)
                        return std::nullopt;
                    const QByteArray to(target, n);
                    path = to.startsWith('/') ? to : join(parentOf(path), to.constData());
                    path = QFile::encodeName(QDir::cleanPath(QFile::decodeName(path)));
                    continue;
                }
                // Something that is not a folder stands in its way.
                return Lookout{parentOf(path), nameOf(path)};
            }
            if (errno != ENOENT && errno != ENOTDIR)
                return std::nullopt;
            const QByteArray parent = parentOf(path);
            if (parent == path)
                return std::nullopt;
            struct stat holder {};
            if (::stat(parent.constData(), &holder) == 0 && S_ISDIR(holder.st_mode))
                return Lookout{parent, nameOf(path)};
            path = parent;
        }
        return std::nullopt;
    }

    // Watches the folder and every folder below it. Each folder is watched
    // before it is listed, so that a subfolder made meanwhile is either
    // listed or reported.
    void watchTree(const QByteArray &top) {
        if (m_full)
            return;
        static const std::vector<QByteArray> kNotListed;
        std::vector<QByteArray> entries;
        FolderWalk walk;
        walk.stopRequested = [this] { return m_full || m_owner.m_ending.load(); };
        walk.knownSubfolders =
            [&](const FolderWalk::Folder &folder) -> const std::vector<QByteArray> * {
            const bool root = m_roots.contains(folder.path);
            if (root)
                m_rootFolders.insert(folder.path, {quint64(folder.attributes.st_dev),
                                                   quint64(folder.attributes.st_ino)});
            const Added added = add(folder.path);
            // Gone since it was looked at: what stands there now decides.
            if (added == Added::Gone && (root || isLink(folder.path)))
                entries.push_back(folder.path);
            if (added != Added::Now && added != Added::Already)
                return &kNotListed;
            checkReported(folder);
            return nullptr;
        };
        walk.revisited = [this](const FolderWalk::Folder &folder) { add(folder.path); };
        walk.failed = [&](const QByteArray &path, int error) {
            // Gone meanwhile (its folder reports that), or a link that leads
            // nowhere now, or round in a circle.
            if (error == ENOENT || error == ENOTDIR || error == ELOOP) {
                if (m_roots.contains(path) || isLink(path))
                    entries.push_back(path);
            } else {
                unwatched(path);
            }
        };
        walk.run(QFile::decodeName(top));
        for (const QByteArray &entry : entries)
            enter(entry);
    }

    Added add(const QByteArray &path) {
        if (m_full)
            return Added::Not;
        if (m_watches.contains(path))
            return Added::Already;
        if (m_aliases.contains(path))
            return Added::Elsewhere;
        if (m_paths.size() >= m_limit) {
            limitReached();
            return Added::Not;
        }
        const int wd = ::inotify_add_watch(m_fd, path.constData(), kMask);
        if (wd < 0) {
            const int error = errno;
            if (error == ENOENT || error == ENOTDIR)
                return Added::Gone;
            if (error == ENOSPC) {
                limitReached();
            } else {
                qCDebug(lcSync).noquote() << "Not watched:" << QFile::decodeName(path)
                                          << QString::fromLocal8Bit(std::strerror(error));
                // What becomes of it is not seen (a folder made readable).
                unwatched(path);
            }
            return Added::Not;
        }
        // The same folder reached by a second path (a link) is watched once,
        // under its first; the second takes over should the first go.
        if (const auto first = m_paths.constFind(wd); first != m_paths.cend()) {
            m_aliases.insert(path, wd);
            // Its changes are told to the journal under the first path: a
            // tree that holds only the second would not learn of them.
            for (const QByteArray &root : std::as_const(m_roots))
                if (isIn(path, root) && !isIn(*first, root))
                    unwatched(path);
            return Added::Elsewhere;
        }
        m_paths.insert(wd, path);
        m_watches.insert(path, wd);
        return Added::Now;
    }

    // Drops a watch nothing uses any more.
    void release(int wd) {
        if (wd < 0 || m_paths.contains(wd))
            return;
        for (const Lookout &lookout : std::as_const(m_missing))
            if (lookout.wd == wd)
                return;
        ::inotify_rm_watch(m_fd, wd);
    }

    // Forgets what is known of `path` and everything below it: a folder
    // gone, moved out of sight or replaced, a link removed. A folder also
    // reached by a link elsewhere is watched again through that link, and a
    // chosen folder there is looked for again.
    void forget(const QByteArray &path) {
        const QByteArray below = join(path, "");
        const auto under = [&](const QByteArray &p) { return p == path || p.startsWith(below); };
        QSet<int> dropped;
        const auto drop = [&](QMap<QByteArray, int>::iterator it) {
            dropped.insert(it.value());
            m_paths.remove(it.value());
            return m_watches.erase(it);
        };
        if (const auto self = m_watches.find(path); self != m_watches.end())
            drop(self);
        // The paths below it follow one another in the order of paths.
        for (auto it = m_watches.lowerBound(below); it != m_watches.end() && under(it.key());)
            it = drop(it);
        QList<QByteArray> orphans;
        for (auto it = m_aliases.begin(); it != m_aliases.end();) {
            if (under(it.key()) || dropped.contains(it.value())) {
                if (!under(it.key()))
                    orphans << it.key();
                it = m_aliases.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = m_missing.begin(); it != m_missing.end();) {
            if (under(it.key())) {
                dropped.insert(it->wd);
                it = m_missing.erase(it);
            } else {
                ++it;
            }
        }
        m_unwatched.removeIf([&](const QByteArray &p) { return under(p); });
        m_rootFolders.removeIf([&](QHash<QByteArray, ChangeJournal::Identity>::iterator root) {
            return under(root.key());
        });
        for (auto it = m_writing.begin(); it != m_writing.end();) {
            if (under(*it)) {
                const QString file = QFile::decodeName(*it);
                it = m_writing.erase(it);
                closedFile(file);
            } else {
                ++it;
            }
        }
        for (const int wd : std::as_const(dropped))
            release(wd);
        for (const QByteArray &orphan : std::as_const(orphans)) {
            m_owner.m_journal->changed(orphan);
            enter(orphan);
        }
        // A chosen folder within is looked for again at its own path.
        for (const QByteArray &root : std::as_const(m_roots))
            if (under(root))
                enter(root);
    }

    // Forgets `path` when anything is known of it; whether it was followed
    // (a link to a folder, or where one should lead).
    bool forgetKnown(const QByteArray &path) {
        if (m_watches.contains(path) || m_aliases.contains(path) || m_missing.contains(path) ||
            m_unwatched.contains(path)) {
            forget(path);
            return true;
        }
        if (m_writing.remove(path))
            closedFile(QFile::decodeName(path));
        return false;
    }

    // A folder of the tree that is not watched keeps the tree from counting
    // as watched whole until it is forgotten.
    void unwatched(const QByteArray &path) { m_unwatched.insert(path); }

    // A folder on a file system that does not report every change keeps its
    // tree from ever counting as watched whole.
    void checkReported(const FolderWalk::Folder &folder) {
        const dev_t device = folder.attributes.st_dev;
        auto known = m_reporting.constFind(device);
        if (known == m_reporting.cend())
            known = m_reporting.insert(device, reportsEveryChange(folder.path.constData()));
        if (!*known)
            for (const QByteArray &root : std::as_const(m_roots))
                if (isIn(folder.path, root))
                    m_owner.m_journal->unreported(root);
    }

    void limitReached() {
        m_full = true;
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

    // Tells the journal and the owner which trees are watched whole now.
    void publish() {
        bool all = true;
        for (const QByteArray &root : std::as_const(m_roots)) {
            const auto folder = m_rootFolders.constFind(root);
            const auto inRoot = [&root](const QByteArray &path) { return isIn(path, root); };
            const bool whole = m_fd >= 0 && !m_full && folder != m_rootFolders.cend() &&
                               std::none_of(m_unwatched.cbegin(), m_unwatched.cend(), inRoot) &&
                               std::none_of(m_missing.keyBegin(), m_missing.keyEnd(), inRoot);
            if (whole)
                m_owner.m_journal->complete(root, *folder);
            else
                m_owner.m_journal->incomplete(root);
            all = all && whole;
        }
        m_owner.m_watched = int(m_paths.size());
        m_owner.m_complete = all;
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
                else if (!overflow)
                    change |= take(*event);
            }
        }
        if (overflow) {
            // Events were lost, folders made among them too.
            qCInfo(lcSync) << "Too many changes at once to follow one by one: watching the music "
                              "folders again";
            watchAll();
            change = true;
        } else {
            publish();
        }
        if (change)
            changed();
    }

    // Follows one event; whether it changes the music.
    bool take(const inotify_event &event) {
        bool change = false;
        if (const auto folder = m_paths.constFind(event.wd); folder != m_paths.cend())
            change = takeInTree(QByteArray(*folder), event);
        return lookOut(event) || change;
    }

    bool takeInTree(const QByteArray &folder, const inotify_event &event) {
        if (event.mask & IN_IGNORED) {
            // The kernel dropped the watch: the folder is gone.
            lost(folder, event.wd);
            return false;
        }
        m_owner.m_journal->changed(folder);
        if (event.len == 0 || event.name[0] == '\0') {
            if (!(event.mask & (IN_DELETE_SELF | IN_MOVE_SELF)))
                return false;
            lost(folder, event.wd);
            return true;
        }
        const QByteArray path = join(folder, event.name);
        if (event.mask & IN_ISDIR) {
            if (event.mask & (IN_CREATE | IN_MOVED_TO)) {
                forgetKnown(path);
                if (!m_watches.contains(path))
                    enter(path);
            } else if (event.mask & (IN_MOVED_FROM | IN_DELETE)) {
                forget(path);
            }
            return true;
        }
        const bool music = isMusicName(event.name, m_extensions);
        if (event.mask & (IN_CREATE | IN_MOVED_TO)) {
            // What stood there before is replaced.
            forgetKnown(path);
            struct stat attributes {};
            if (::lstat(path.constData(), &attributes) != 0)
                return music;
            if (S_ISLNK(attributes.st_mode)) {
                if (!m_watches.contains(path))
                    enter(path);
                return true;
            }
            // A file made by opening it is empty and is being written (its
            // writes, if any came already, are reported next). One that
            // arrives whole, as a second link or linked in once written
            // (O_TMPFILE), is never closed under this name.
            if ((event.mask & IN_CREATE) && music && S_ISREG(attributes.st_mode) &&
                attributes.st_nlink == 1 && attributes.st_size == 0) {
                openedFile(path);
                return false;
            }
            return music;
        }
        if (event.mask & (IN_MOVED_FROM | IN_DELETE))
            return forgetKnown(path) || music;
        if (!music)
            return false;
        if (event.mask & IN_MODIFY) {
            openedFile(path);
            return false;
        }
        if (event.mask & IN_CLOSE_WRITE) {
            if (m_writing.remove(path))
                closedFile(QFile::decodeName(path));
            return true;
        }
        return false;
    }

    // The watch on `folder` is gone or follows a folder that moved: a chosen
    // folder or the folder a link leads to is looked for again; any other
    // folder is followed from the one that holds it.
    void lost(const QByteArray &folder, int wd) {
        if (m_watches.value(folder, -1) != wd) {
            // Already replaced by a newer watch at that path.
            m_paths.remove(wd);
            release(wd);
            return;
        }
        forget(folder);
        if (!m_roots.contains(folder) && isLink(folder))
            enter(folder);
    }

    // Events where a missing folder would appear; whether one did.
    bool lookOut(const inotify_event &event) {
        const bool self = event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF);
        const bool arrival = (event.mask & (IN_CREATE | IN_MOVED_TO)) && event.len > 0;
        if (!self && !arrival)
            return false;
        QList<QByteArray> paths;
        for (auto it = m_missing.cbegin(); it != m_missing.cend(); ++it)
            if (it->wd == event.wd && (self || it->name == event.name))
                paths << it.key();
        bool appeared = false;
        for (const QByteArray &path : std::as_const(paths)) {
            // The folder looked at is gone or moved: look from where it was.
            if (self)
                stopLooking(path);
            if (enter(path) && !m_missing.contains(path)) {
                m_owner.m_journal->changed(path);
                appeared = true;
            }
        }
        return appeared;
    }

    void openedFile(const QByteArray &path) {
        if (m_writing.contains(path))
            return;
        m_writing.insert(path);
        m_owner.m_writing = int(m_writing.size());
        emit m_owner.writing(QFile::decodeName(path), true);
    }

    void closedFile(const QString &file) {
        m_owner.m_writing = int(m_writing.size());
        emit m_owner.writing(file, false);
    }

    static bool isLink(const QByteArray &path) {
        struct stat attributes {};
        return ::lstat(path.constData(), &attributes) == 0 && S_ISLNK(attributes.st_mode);
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
    // The folders of the trees, by watch and by path.
    QHash<int, QByteArray> m_paths;
    QMap<QByteArray, int> m_watches;
    // Second paths of folders watched under another path.
    QHash<QByteArray, int> m_aliases;
    // Chosen folders and folders links lead to that are not there now.
    QHash<QByteArray, Lookout> m_missing;
    // Folders of the trees that could not be watched or read.
    QSet<QByteArray> m_unwatched;
    // The folder watched at each chosen folder's path.
    QHash<QByteArray, ChangeJournal::Identity> m_rootFolders;
    // Music files being written.
    QSet<QByteArray> m_writing;
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
