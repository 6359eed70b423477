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
// ten times a second) when a music file is created, written, moved or
// removed, or a folder appears, moves or goes.
//
// Each watch costs the kernel about a kilobyte and this process a path, and
// the kernel limits how many watches a user holds (fs.inotify.max_user_watches).
// Where that limit would be passed the watcher says so once in the log and
// watches no further folders: changes in those wait for the hourly sync.
//
// What it sees is also kept in its journal, from which a scan learns whether
// a tree has changed since the scan before it.
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
    // The kernel's limit of watches per user; `fallback` when it can't be read.
    static int systemWatchLimit(int fallback = 8192);
    std::shared_ptr<ChangeJournal> journal() const { return m_journal; }

signals:
    // Both from the watcher's thread.
    void changed();
    // The trees have been walked and watched after a `watch`.
    void watching(int folders, bool complete);

private:
    class Tree;
    QThread m_thread;
    QObject *m_context = nullptr; // lives on m_thread
    std::unique_ptr<Tree> m_tree; // used on m_thread only
    std::atomic<bool> m_ending{false};
    std::atomic<int> m_watched{0};
    std::atomic<bool> m_complete{true};
    std::atomic<int> m_limit{std::numeric_limits<int>::max()};
    const std::shared_ptr<ChangeJournal> m_journal = std::make_shared<ChangeJournal>();
};
