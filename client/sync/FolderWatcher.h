#pragma once

#include "ChangeJournal.h"

#include <QObject>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <limits>
#include <memory>

// Watches folder trees for changes to the music in them through inotify, on a
// thread of its own: every folder below the roots is watched, and folders
// that appear later are watched as they appear. `changed` is emitted (at most
// ten times a second) when a music file is closed after writing, moved or
// removed, or a folder appears, moves or goes. A music file being written is
// no such change yet: `writing` tells when a writer starts on it (it is made
// empty by opening it, or written to) and when it has closed it.
//
// A tree is never lost: a chosen folder that is deleted, or moved away, is
// watched again as soon as a folder appears at its path (the nearest folder
// above it that exists is watched meanwhile), and so is the folder a link
// leads to. Links to folders are followed, those made later too; a folder
// reached by several paths is watched once, and a link leading back into the
// tree (or round in a circle) is not followed further.
//
// Each watch costs the kernel about a kilobyte and this process a path, and
// the kernel limits how many watches a user holds (fs.inotify.max_user_watches).
// Where that limit would be passed the watcher says so once in the log and
// watches no further folders: changes in those wait for the hourly sync.
//
// What it sees is also kept in its journal, from which a scan learns whether
// a tree has changed since the scan before it. A tree with a folder that is
// not watched (past the limit, unreadable, gone and not yet back) is never
// watched whole there.
class FolderWatcher : public QObject {
    Q_OBJECT
public:
    explicit FolderWatcher(QObject *parent = nullptr);
    ~FolderWatcher() override;

    // Watches these trees instead of the ones watched so far (none: nothing).
    void watch(const QStringList &roots);
    // Watches at most this many folders, when that is fewer than the kernel
    // allows (tests). Takes effect at the next `watch`.
    void setWatchLimit(int folders) { m_limit = folders; }
    // How many folders are watched now.
    int watchedFolders() const { return m_watched.load(); }
    // Whether every folder of the trees is watched.
    bool isComplete() const { return m_complete.load(); }
    // How many music files are being written now, as far as seen.
    int filesBeingWritten() const { return m_writing.load(); }
    // The kernel's limit of watches per user; `fallback` when it can't be read.
    static int systemWatchLimit(int fallback = 8192);
    std::shared_ptr<ChangeJournal> journal() const { return m_journal; }

signals:
    // Both from the watcher's thread.
    void changed();
    // The trees have been walked and watched after a `watch`.
    void watching(int folders, bool complete);
    // A music file (its path) is being written now, or no longer: closed,
    // moved, removed, or no longer watched. While the watcher lives, every
    // `true` is followed by a `false` for the same file.
    void writing(const QString &file, bool open);

private:
    class Tree;
    QThread m_thread;
    QObject *m_context = nullptr; // lives on m_thread
    std::unique_ptr<Tree> m_tree; // used on m_thread only
    std::atomic<bool> m_ending{false};
    std::atomic<int> m_watched{0};
    std::atomic<bool> m_complete{true};
    std::atomic<int> m_writing{0};
    std::atomic<int> m_limit{std::numeric_limits<int>::max()};
    const std::shared_ptr<ChangeJournal> m_journal = std::make_shared<ChangeJournal>();
};
