#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// A recursive walk of a folder tree that never fails as a whole: a folder that
// cannot be opened or read, or an entry whose type cannot be read, is logged
// and skipped, and the rest of the tree is still walked. Hidden entries are
// included.
//
// Symbolic links to folders are followed, because on Linux people commonly
// link folders from other disks into their music folder; every real folder is
// walked at most once (known by its device and inode), so a link loop or two
// links to the same folder neither hang the walk nor yield a file twice.
// Within a folder, entries are taken in byte order of their names, the files
// of a folder before the contents of its subfolders.
class FolderWalk {
public:
    // A regular file of the tree, or a link to one. `folderFd` is the open
    // folder holding it, for opening it by `name` without another path lookup.
    struct File {
        const QByteArray &path;
        int folderFd;
        const char *name;
    };
    enum class Result { Finished, Stopped };

    // Asked before every entry; true ends the walk at once.
    std::function<bool()> stopRequested;
    std::function<void(const File &)> visitFile;

    Result run(const QString &root);
};
