#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

#include <sys/stat.h>

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
    // A folder of the tree, before it is listed.
    struct Folder {
        const QByteArray &path;
        const struct stat &attributes;
    };
    // A folder once listed: the names of its subfolders (links to folders
    // included); `complete` is false when the listing broke off or an entry
    // could not be looked at.
    struct Listing {
        const QByteArray &path;
        const std::vector<QByteArray> &subfolders;
        bool complete;
    };
    enum class Result { Finished, Stopped };

    // Asked before every entry; true ends the walk at once.
    std::function<bool()> stopRequested;
    // Asked for every folder: the names of its subfolders when they are
    // known unchanged (kept by the caller until the next call), and the
    // folder is then neither listed nor are its files visited; null to list it.
    std::function<const std::vector<QByteArray> *(const Folder &)> knownSubfolders;
    // Told of a folder reached again by another path (a link) that this walk
    // has walked already; it is not walked again.
    std::function<void(const Folder &)> revisited;
    // Told after a folder's files were visited.
    std::function<void(const Listing &)> folderListed;
    std::function<void(const File &)> visitFile;
    // Told of a folder that could not be looked at, opened or read to its
    // end, and of an entry whose type could not be read, with the error
    // (after it was logged); the walk goes on.
    std::function<void(const QByteArray &path, int error)> failed;

    Result run(const QString &root);
};
