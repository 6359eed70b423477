#include "FolderWalk.h"

#include "settings/Logging.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString describe(const QByteArray &path, int error) {
    return QStringLiteral("%1: %2").arg(QFile::decodeName(path),
                                        QString::fromLocal8Bit(std::strerror(error)));
}

void logWalkError(const QByteArray &path, int error) {
    qCWarning(lcSync).noquote()
        << QStringLiteral("Error happend with Enumerator: %1").arg(describe(path, error));
}

QByteArray join(const QByteArray &folder, const char *name) {
    QByteArray path = folder;
    if (!path.endsWith('/'))
        path += '/';
    return path += name;
}

enum class Kind { Folder, File, Other };

struct Entry {
    QByteArray name;
    unsigned char type;
};

// Owns an open folder and closes it.
struct OpenFolder {
    DIR *dir = nullptr;
    ~OpenFolder() {
        if (dir)
            ::closedir(dir);
    }
};

} // namespace

FolderWalk::Result FolderWalk::run(const QString &root) {
    const auto fail = [this](const QByteArray &path, int error) {
        logWalkError(path, error);
        if (failed)
            failed(path, error);
    };
    std::set<std::pair<dev_t, ino_t>> walked;
    // Folders still to walk, the next one last.
    std::vector<QByteArray> pending{QFile::encodeName(root)};
    const auto walkLater = [&pending](const QByteArray &folder,
                                      const std::vector<QByteArray> &names) {
        for (auto name = names.rbegin(); name != names.rend(); ++name)
            pending.push_back(join(folder, name->constData()));
    };

    while (!pending.empty()) {
        const QByteArray folder = std::move(pending.back());
        pending.pop_back();

        // Looked at before it is opened: a folder known unchanged is not
        // listed at all. Were it replaced in between, what is listed is newer
        // than these attributes, which only makes the next walk list it again.
        struct stat self {};
        if (::stat(folder.constData(), &self) != 0) {
            fail(folder, errno);
            continue;
        }
        if (!S_ISDIR(self.st_mode)) {
            fail(folder, ENOTDIR);
            continue;
        }
        if (!walked.insert({self.st_dev, self.st_ino}).second) {
            qCDebug(lcSync).noquote() << "Already walked:" << QFile::decodeName(folder);
            if (revisited)
                revisited(Folder{folder, self});
            continue;
        }
        if (knownSubfolders) {
            if (const std::vector<QByteArray> *known = knownSubfolders(Folder{folder, self})) {
                walkLater(folder, *known);
                continue;
            }
        }

        OpenFolder open;
        const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            fail(folder, errno);
            continue;
        }
        open.dir = ::fdopendir(fd);
        if (!open.dir) {
            const int error = errno;
            ::close(fd);
            fail(folder, error);
            continue;
        }

        std::vector<Entry> entries;
        bool complete = true;
        for (;;) {
            errno = 0;
            const dirent *e = ::readdir(open.dir);
            if (!e) {
                if (errno != 0) {
                    complete = false;
                    fail(folder, errno);
                }
                break;
            }
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
                continue;
            entries.push_back({QByteArray(e->d_name), e->d_type});
        }
        std::sort(entries.begin(), entries.end(),
                  [](const Entry &a, const Entry &b) { return a.name < b.name; });

        std::vector<QByteArray> subfolders;
        for (const Entry &entry : entries) {
            if (stopRequested && stopRequested())
                return Result::Stopped;
            Kind kind = Kind::Other;
            if (entry.type == DT_DIR) {
                kind = Kind::Folder;
            } else if (entry.type == DT_REG) {
                kind = Kind::File;
            } else if (entry.type == DT_LNK || entry.type == DT_UNKNOWN) {
                // A link, or a file system that does not say: what it leads to decides.
                struct stat target {};
                if (::fstatat(fd, entry.name.constData(), &target, 0) != 0) {
                    const int error = errno;
                    const QByteArray path = join(folder, entry.name.constData());
                    qCWarning(lcSync).noquote()
                        << QStringLiteral("Error Happened: %1").arg(describe(path, error));
                    complete = false;
                    if (failed)
                        failed(path, error);
                    continue;
                }
                if (S_ISDIR(target.st_mode))
                    kind = Kind::Folder;
                else if (S_ISREG(target.st_mode))
                    kind = Kind::File;
            }
            // Pipes, sockets and devices are never music, and opening one may block.
            if (kind == Kind::Folder) {
                subfolders.push_back(entry.name);
            } else if (kind == Kind::File && visitFile) {
                const QByteArray path = join(folder, entry.name.constData());
                visitFile(File{path, fd, entry.name.constData()});
            }
        }
        if (folderListed)
            folderListed(Listing{folder, subfolders, complete});
        walkLater(folder, subfolders);
    }
    return Result::Finished;
}
