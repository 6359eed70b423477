#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <limits>
#include <mutex>
#include <optional>

// What the folder watcher saw, for the scan: whether a folder tree has been
// watched whole, without a change in it, since a given moment. A scan takes a
// mark as it begins; a later scan of the tree may leave its walk out while the
// tree has stayed quiet since that mark, because the walk would find what the
// earlier one found.
//
// A tree counts as watched whole only while every folder of it is watched on
// a file system whose changes the kernel reports (not a network or FUSE one,
// where another computer's changes go unseen), and only from the moment its
// watching was complete: what happened before that moment is unknown, and so
// is whatever happened while events were lost or a folder of it was not
// watched. It also counts only while its path still leads to the folder that
// was watched there: a tree replaced by another folder, or moved away with a
// folder above it, is not the tree that was watched.
//
// Any thread.
class ChangeJournal {
public:
    using Mark = quint64;
    // A folder as the file system knows it, whatever its path.
    struct Identity {
        quint64 device = 0;
        quint64 inode = 0;
        bool operator==(const Identity &) const = default;
    };

    // The watcher's side. Watching these trees now: none is whole yet.
    void watching(const QList<QByteArray> &roots);
    // A folder of the tree `root` is on a file system whose changes are not
    // all reported: the tree is never whole while it is watched.
    void unreported(const QByteArray &root);
    // Every folder of the tree `root` is watched now, `folder` at its root:
    // the tree is whole from now on, unless it was already.
    void complete(const QByteArray &root, Identity folder);
    // A folder of the tree `root` is not watched: the tree is not whole.
    void incomplete(const QByteArray &root);
    // Events were lost: no tree is whole.
    void incomplete();
    // Something happened in this folder (any entry, music or not).
    void changed(const QByteArray &folder);

    // The scan's side.
    Mark mark();
    // Whether the tree at `root` was watched whole before `since` was taken
    // and has not changed since then.
    bool quietSince(const QString &root, Mark since) const;

    // The folder at `path` now, links followed; none when there is none.
    static std::optional<Identity> identityOf(const QByteArray &path);

private:
    static constexpr Mark kNever = std::numeric_limits<Mark>::max();
    struct Tree {
        Mark wholeSince = kNever;
        Mark lastChange = 0;
        bool unreported = false;
        Identity folder;
    };

    mutable std::mutex m_lock;
    Mark m_sequence = 0;
    QHash<QByteArray, Tree> m_trees;
};
