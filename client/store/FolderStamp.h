#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <vector>

// What tells that a folder's entries are as they were when it was last read.
// A folder's modification time moves whenever an entry is added to it,
// removed or renamed; its change time (which nobody can set back) and its
// inode change when the folder is replaced, even by a copy that keeps the old
// modification times.
struct FolderStamp {
    qint64 device = 0;
    qint64 inode = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;

    bool operator==(const FolderStamp &) const = default;
};

// A folder whose every music file was a stored track when it was read: while
// its stamp holds, a scan need not list it again. `tracks` is how many music
// files it held, `subfolders` the names (as the file system has them) of the
// folders in it.
struct SettledFolder {
    FolderStamp stamp;
    qint64 tracks = 0;
    std::vector<QByteArray> subfolders;
};
