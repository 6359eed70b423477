#include "FolderScan.h"

#include "FileStillness.h"
#include "FolderWalk.h"
#include "TagReader.h"
#include "settings/Logging.h"
#include "settings/Utility.h"
#include "store/FolderStamp.h"
#include "store/GenericDAO.h"
#include "store/TrackFiles.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Unknown = QStringLiteral("Unknown");

qint64 nanoseconds(const timespec &time) {
    return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

FolderStamp stampOf(const struct stat &attributes) {
    return {qint64(attributes.st_dev), qint64(attributes.st_ino), nanoseconds(attributes.st_mtim),
            nanoseconds(attributes.st_ctim)};
}

FileStamp fileStampOf(const struct stat &attributes) {
    return {qint64(attributes.st_size), nanoseconds(attributes.st_mtim), qint64(attributes.st_dev),
            qint64(attributes.st_ino)};
}

// The folder key of a file's path: up to and including its last slash.
QString folderKeyOfFile(const QString &path) {
    return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// A folder's key in the store: its path with one trailing slash, which is
// what a stored track's path holds up to its file name.
QString folderKey(const QByteArray &path) {
    QString key = QFile::decodeName(path);
    if (!key.endsWith(QLatin1Char('/')))
        key += QLatin1Char('/');
    return key;
}

QByteArray extensionOf(const char *name) {
    const char *dot = std::strrchr(name, '.');
    return dot ? QByteArray(dot + 1) : QByteArray();
}

bool isValidSize(qint64 bytes) {
    return bytes >= Utility::MinimumFileSize && bytes < Utility::MaximumFileSize;
}

// Whether a file name survives the trip through text: one that is not valid
// in the file system's encoding comes back as other bytes, so the file could
// be listed but never read. Such a file is reported once per program run,
// not at every scan.
bool keepsItsName(const QByteArray &path, const QString &decoded) {
    if (QFile::encodeName(decoded) == path)
        return true;
    static QMutex mutex;
    static QSet<QByteArray> reported;
    const QMutexLocker lock(&mutex);
    if (!reported.contains(path)) {
        reported.insert(path);
        qCWarning(lcSync).noquote()
            << QStringLiteral("Skipped %1: its name is not valid UTF-8, so it cannot be read "
                              "back; rename the file to sync it")
                   .arg(decoded);
    }
    return false;
}

void logUnreadable(const QString &path, int error) {
    if (error == ENOENT)
        qCDebug(lcSync).noquote() << "Gone before it was read:" << path;
    else
        qCWarning(lcSync).noquote() << QStringLiteral("Error Happened: %1: %2")
                                           .arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

struct WalkedFolder {
    QString key;
    FolderStamp stamp;
    // Left alone long enough, and no file in it that is new or in doubt.
    bool settles = true;
    bool listed = false;
    qint64 tracks = 0;
    std::vector<QByteArray> subfolders;
};

// Candidates found in a folder the walk did not list (a settled one).
constexpr size_t NoWalkedFolder = size_t(-1);

struct Candidate {
    QString path;
    QString extension;
    size_t folder;
    // As the walk saw it.
    qint64 size;
    qint64 changedNs;
    // The stored track whose file this is, when its bytes changed.
    qint64 previousObjectID = 0;
};

// A file met outside a folder listing (a settled folder's stored track or
// known copy), as a candidate to read.
Candidate candidateAt(const QString &path, const struct stat &attributes,
                      qint64 previousObjectID = 0) {
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return {path,
            dot > path.lastIndexOf(QLatin1Char('/')) ? path.mid(dot + 1) : QString(),
            NoWalkedFolder,
            qint64(attributes.st_size),
            std::max(nanoseconds(attributes.st_mtim), nanoseconds(attributes.st_ctim)),
            previousObjectID};
}

// The record of a new file, its tags read; none when it cannot be read, or
// when it may still be being written (`verdict` says which).
AudioPtr recordOf(const Candidate &file, const FileStillness &stillness,
                  FileStillness::Verdict *verdict) {
    *verdict = FileStillness::Verdict::Still;
    // Non-blocking, so that a file replaced by a pipe after the walk looked at
    // it cannot hold the scan up.
    const QByteArray encoded = QFile::encodeName(file.path);
    const int fd = ::open(encoded.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        logUnreadable(file.path, errno);
        return {};
    }
    struct stat attributes {};
    if (::fstat(fd, &attributes) != 0) {
        qCWarning(lcSync).noquote() << "No File Attributes Found";
        ::close(fd);
        return {};
    }
    if (!S_ISREG(attributes.st_mode) || !isValidSize(attributes.st_size)) {
        ::close(fd);
        return {};
    }
    *verdict =
        stillness.beforeReading(fd, &attributes, FileStillness::Seen{file.size, file.changedNs});
    if (*verdict != FileStillness::Verdict::Still) {
        ::close(fd);
        return {};
    }

    auto track = std::make_shared<Audio>();
    track->name = Unknown;
    track->songName = Unknown;
    track->album = Unknown;
    track->fileExtension = file.extension;
    track->fileURL = file.path;
    // Taken before the bytes are read: a write meanwhile leaves the stamp
    // behind the file, so the next scan reads it again.
    setStamp(*track, fileStampOf(attributes));
    track->previousObjectID = file.previousObjectID;
    // In UTC, as the store gives dates back: local time would cost a time
    // zone look-up per file.
    track->modDate = QDateTime::fromMSecsSinceEpoch(
        qint64(attributes.st_mtim.tv_sec) * 1000 + attributes.st_mtim.tv_nsec / 1000000, Qt::UTC);
    // The tag reader closes what it is given; the file is looked at again
    // once it is read.
    const int tagFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (tagFd < 0) {
        logUnreadable(file.path, errno);
        ::close(fd);
        return {};
    }
    const FileTags tags = TagReader::readFrom(tagFd, encoded, attributes.st_size);
    *verdict = stillness.afterReading(fd, FileStillness::Seen::of(attributes));
    ::close(fd);
    if (*verdict != FileStillness::Verdict::Still)
        return {};
    if (!tags.title.isEmpty()) {
        track->name = QStringLiteral("%1.%2").arg(tags.title, file.extension);
        track->songName = tags.title;
    }
    if (!tags.album.isEmpty())
        track->album = tags.album;
    if (!tags.artist.isEmpty())
        track->artist = tags.artist;
    return track;
}

} // namespace

FolderScan::Result FolderScan::run(const QString &root, const QSet<QString> &extensions,
                                   const QSet<QString> &duplicates) {
    GenericDAO &dao = store ? *store : GenericDAO::instance();
    const QHash<QString, SettledFolder> settled = dao.settledFolders();
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const qint64 nowNs = nanoseconds(now);

    // The stored tracks of this tree: a file's size and time tell whether its
    // bytes changed since they were read, and those not met again are gone.
    const QString rootKey = folderKey(QFile::encodeName(root));
    const QList<StoredFile> stored = dao.storedFilesUnder(rootKey);
    QHash<QString, qsizetype> storedByPath;
    QHash<QString, QList<qsizetype>> storedByFolder;
    storedByPath.reserve(stored.size());
    for (qsizetype i = 0; i < stored.size(); ++i) {
        storedByPath.insert(stored.at(i).path, i);
        storedByFolder[folderKeyOfFile(stored.at(i).path)].append(i);
    }
    std::vector<bool> storedSeen(size_t(stored.size()), false);
    // Stamps for tracks stored without one (by an older version, or a
    // download): taken as they are now, since their bytes were never compared.
    QHash<qint64, FileStamp> firstStamps;
    const QHash<QString, KnownDuplicate> copies = dao.knownDuplicates();
    QHash<QString, QList<QString>> copiesByFolder;
    for (auto it = copies.cbegin(); it != copies.cend(); ++it)
        if (it.key().startsWith(rootKey))
            copiesByFolder[folderKeyOfFile(it.key())].append(it.key());
    QList<QString> changedCopies;

    Result result;
    const auto found = [&](qsizetype count) {
        result.found += count;
        if (tracksFound && count > 0)
            tracksFound(count);
    };
    const auto stop = [this] { return stopRequested && stopRequested(); };

    std::vector<WalkedFolder> folders;
    std::vector<Candidate> candidates;
    QSet<QString> seen;
    seen.reserve(settled.size());

    // A stored track's file met: a candidate to read again when its bytes
    // may have changed.
    const auto compareStored = [&](qsizetype index,
                                   const struct stat &attributes) -> std::optional<Candidate> {
        const StoredFile &file = stored.at(index);
        storedSeen[size_t(index)] = true;
        const FileStamp now = fileStampOf(attributes);
        if (!file.stamp) {
            firstStamps.insert(file.objectID, now);
            return std::nullopt;
        }
        if (!file.stamp->contentDiffers(now)) {
            // Put back with its times (a restore, a copy that keeps them).
            if (!file.stamp->sameFile(now))
                firstStamps.insert(file.objectID, now);
            return std::nullopt;
        }
        return candidateAt(file.path, attributes, file.objectID);
    };

    FolderWalk walk;
    walk.stopRequested = stop;
    walk.knownSubfolders =
        [&](const FolderWalk::Folder &folder) -> const std::vector<QByteArray> * {
        const QString key = folderKey(folder.path);
        const FolderStamp stamp = stampOf(folder.attributes);
        seen.insert(key);
        const auto known = settled.constFind(key);
        if (known != settled.cend() && known->stamp == stamp) {
            found(known->tracks);
            // Its entries are as they were, but a file may have been
            // rewritten in place: the stored tracks in it are looked at.
            for (const qsizetype index : storedByFolder.value(key)) {
                struct stat attributes {};
                if (::stat(QFile::encodeName(stored.at(index).path).constData(), &attributes) != 0)
                    continue;
                if (const auto candidate = compareStored(index, attributes))
                    candidates.push_back(*candidate);
            }
            // And so are the known copies in it: one written to is a song of
            // its own.
            for (const QString &copy : copiesByFolder.value(key)) {
                struct stat attributes {};
                if (::stat(QFile::encodeName(copy).constData(), &attributes) != 0 ||
                    !copies.value(copy).stamp.contentDiffers(fileStampOf(attributes)))
                    continue;
                changedCopies.append(copy);
                candidates.push_back(candidateAt(copy, attributes));
            }
            return &known->subfolders;
        }
        const qint64 changed = std::max(stamp.modifiedNs, stamp.changedNs);
        folders.push_back({key, stamp, nowNs - changed >= settleAfter.count()});
        return nullptr;
    };
    walk.folderListed = [&](const FolderWalk::Listing &listing) {
        WalkedFolder &folder = folders.back();
        folder.listed = listing.complete;
        folder.subfolders = listing.subfolders;
    };
    walk.visitFile = [&](const FolderWalk::File &file) {
        const QString extension = QFile::decodeName(extensionOf(file.name));
        if (!extensions.contains(extension))
            return;
        WalkedFolder &folder = folders.back();
        const QString path = QFile::decodeName(file.path);
        // Known to this program run only (a preview's): looked at again later.
        if (duplicates.contains(path) && !copies.contains(path)) {
            folder.settles = false;
            return;
        }
        if (!keepsItsName(QByteArray(file.path), path))
            return;
        struct stat attributes {};
        if (::fstatat(file.folderFd, file.name, &attributes, 0) != 0) {
            logUnreadable(path, errno);
            folder.settles = false;
            return;
        }
        // A file too small may still be arriving; one too large may be cut.
        if (!S_ISREG(attributes.st_mode) || !isValidSize(attributes.st_size)) {
            folder.settles = false;
            return;
        }
        if (const auto copy = copies.constFind(path); copy != copies.cend()) {
            // A known copy of a stored track is not a track of its own, until
            // it is written to.
            if (!copy->stamp.contentDiffers(fileStampOf(attributes)))
                return;
            changedCopies.append(path);
        }
        ++folder.tracks;
        found(1);
        if (const auto index = storedByPath.constFind(path); index != storedByPath.cend()) {
            if (auto candidate = compareStored(*index, attributes)) {
                candidate->folder = folders.size() - 1;
                candidates.push_back(*candidate);
            }
            return;
        }
        candidates.push_back(
            {path, extension, folders.size() - 1, qint64(attributes.st_size),
             std::max(nanoseconds(attributes.st_mtim), nanoseconds(attributes.st_ctim))});
    };
    if (walk.run(root) == FolderWalk::Result::Stopped) {
        result.stopped = true;
        return result;
    }

    FileStillness stillness(leaveWrittenWithin);
    if (waitForWritten)
        stillness.setWaiting(stop);
    for (const Candidate &candidate : candidates) {
        if (stop()) {
            result.stopped = true;
            result.newTracks.clear();
            return result;
        }
        if (candidate.folder != NoWalkedFolder)
            folders[candidate.folder].settles = false;
        FileStillness::Verdict verdict{};
        AudioPtr track = recordOf(candidate, stillness, &verdict);
        if (verdict != FileStillness::Verdict::Still) {
            // A wait for the file may have ended by a stop.
            if (stop()) {
                result.stopped = true;
                result.newTracks.clear();
                return result;
            }
            const bool open = verdict == FileStillness::Verdict::OpenForWriting;
            qCDebug(lcSync).noquote()
                << (open ? "Open for writing:" : "Still being written:") << candidate.path;
            (open ? result.openForWriting : result.stillWritten).append(candidate.path);
            continue;
        }
        if (track) {
            qCDebug(lcSync).noquote() << QStringLiteral("\nSong Name: %1 \nFile Path: %2")
                                             .arg(*track->songName, *track->fileURL);
            result.newTracks.append(track);
        }
    }

    QHash<QString, SettledFolder> settle;
    QList<QString> forget;
    result.allSettled = true;
    for (const WalkedFolder &folder : folders) {
        if (folder.settles && folder.listed) {
            settle.insert(folder.key, {folder.stamp, folder.tracks, folder.subfolders});
        } else {
            result.allSettled = false;
            if (settled.contains(folder.key))
                forget.append(folder.key);
        }
    }
    // Stored tracks not met whose files are no longer there (a folder that
    // could not be read hides its files, but does not make them gone).
    for (qsizetype i = 0; i < stored.size(); ++i) {
        if (storedSeen[size_t(i)])
            continue;
        struct stat attributes {};
        if (::stat(QFile::encodeName(stored.at(i).path).constData(), &attributes) != 0 &&
            (errno == ENOENT || errno == ENOTDIR))
            result.gone.append(stored.at(i));
    }
    if (recordFolders) {
        dao.recordFileStamps(firstStamps);
        dao.forgetDuplicates(changedCopies);
    }

    // Folders of this tree that are gone (or were not reached) are read in
    // full if they come back.
    for (auto it = settled.cbegin(); it != settled.cend(); ++it)
        if (it.key().startsWith(rootKey) && !seen.contains(it.key()))
            forget.append(it.key());
    if (recordFolders)
        dao.recordScannedFolders(settle, forget);
    return result;
}
