#include "ScanForLocalMedia.h"

#include "FolderWalk.h"
#include "Sonarbox.h"
#include "TagReader.h"
#include "settings/Logging.h"
#include "settings/Utility.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The Music folder: the one the desktop names (XDG_MUSIC_DIR) when the user
// has set one, else "Music/" in the home folder.
QString musicFolder(const QString &userDirectory) {
    const QString named = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    const QDir home = QDir::home();
    if (!named.isEmpty() && QDir(named) != home &&
        QDir(named) != QDir(home.filePath(QStringLiteral("Music"))))
        return QDir(named).absolutePath() + QLatin1Char('/');
    return QStringLiteral("%1Music/").arg(userDirectory);
}

const QString Unknown = QStringLiteral("Unknown");

// The text after the last dot of the file name; none without a dot.
QString extensionOf(const QString &path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot > slash ? path.mid(dot + 1) : QString();
}

QByteArray extensionOf(const char *name) {
    const char *dot = std::strrchr(name, '.');
    return dot ? QByteArray(dot + 1) : QByteArray();
}

bool isValidSize(qint64 bytes) {
    return bytes >= Utility::MinimumFileSize && bytes < Utility::MaximumFileSize;
}

QSet<QString> validExtensions() {
    const QStringList &list = Utility::validExtensions();
    return QSet<QString>(list.begin(), list.end());
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

void appendToLocalLibrary(const QList<AudioPtr> &tracks) {
    if (tracks.isEmpty())
        return;
    Sonarbox &s = Sonarbox::instance();
    s.setLocalLibraryTracks(s.localLibraryTracks() + tracks);
}

// The record of one file of a folder walk, or none when the file is not taken.
AudioPtr recordOfFile(const FolderWalk::File &file, const QSet<QString> &extensions,
                      const QSet<QString> &duplicates) {
    const QString extension = QFile::decodeName(extensionOf(file.name));
    if (!extensions.contains(extension))
        return {};
    const QString path = QFile::decodeName(file.path);
    if (duplicates.contains(path) || !keepsItsName(QByteArray(file.path), path))
        return {};

    // Non-blocking, so that a file replaced by a pipe after the walk looked at
    // it cannot hold the scan up.
    const int fd = ::openat(file.folderFd, file.name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            qCDebug(lcSync).noquote() << "Gone before it was read:" << path;
        else
            qCWarning(lcSync).noquote()
                << QStringLiteral("Error Happened: %1: %2")
                       .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
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

    auto track = std::make_shared<Audio>();
    track->name = Unknown;
    track->songName = Unknown;
    track->album = Unknown;
    track->fileExtension = extension;
    track->fileURL = path;
    // In UTC, as the store gives dates back: local time would cost a time
    // zone look-up per file.
    track->modDate = QDateTime::fromMSecsSinceEpoch(
        qint64(attributes.st_mtim.tv_sec) * 1000 + attributes.st_mtim.tv_nsec / 1000000, Qt::UTC);
    const FileTags tags = TagReader::readFrom(fd, file.path, attributes.st_size);
    if (!tags.title.isEmpty()) {
        track->name = QStringLiteral("%1.%2").arg(tags.title, extension);
        track->songName = tags.title;
    }
    if (!tags.album.isEmpty())
        track->album = tags.album;
    if (!tags.artist.isEmpty())
        track->artist = tags.artist;
    return track;
}

AudioPtr recordOfLibraryTrack(const LibraryTrack &entry, const QString &path,
                              const QString &extension) {
    auto track = std::make_shared<Audio>();
    track->name = QStringLiteral("%1.%2").arg(entry.name, extension);
    track->songName = entry.name;
    if (!entry.artist.isEmpty())
        track->artist = entry.artist;
    if (!entry.album.isEmpty())
        track->album = entry.album;
    // A library that does not know the year or the track number says nothing,
    // rather than a year 0 or a track 0.
    if (entry.year)
        track->releaseYear = QString::number(*entry.year);
    if (entry.modDate.isValid())
        track->modDate = entry.modDate;
    track->fileExtension = extension;
    track->fileURL = path;
    if (entry.trackNumber)
        track->sequence = *entry.trackNumber;
    return track;
}

} // namespace

ScanForLocalMedia::ScanForLocalMedia(MusicLibraryPtr library)
    : m_library(std::move(library)) {}

bool ScanForLocalMedia::stopRequested() const {
    const Sonarbox &s = Sonarbox::instance();
    return m_run ? s.stopRequested(*m_run) : s.flow_stopProcesses.load();
}

void ScanForLocalMedia::scanFileSystemForMedia(const std::function<void()> &completion) {
    scanFileSystemForMedia(Sonarbox::instance().newRun(), completion);
}

void ScanForLocalMedia::scanFileSystemForMedia(const SyncRunPtr &run,
                                               const std::function<void()> &completion) {
    Sonarbox &s = Sonarbox::instance();
    m_run = run;
    s.setLocalLibraryTracks({});
    s.syncProgress().beginStage(SyncProgress::Stage::Scanning, 0);
    s.notifyMothership(run->context(), QStringLiteral("SCANNING"), 0);

    const int choice = s.userPickedMediaLibrary();
    if (choice == 1) {
        scanItunesLibrary();
    } else if (choice == 2) {
        const QString music = musicFolder(s.userDirectory());
        s.syncProgress().setCurrentItem(music);
        appendToLocalLibrary(scanFileSystem(music));
    } else {
        QMap<QString, QString> amounts;
        s.setUserMediaFoldersToScanWithSongAmounts(amounts);
        for (const QUrl &folder : s.userMediaFoldersToScan()) {
            const QString path = folder.isLocalFile()
                                     ? folder.toLocalFile()
                                     : Utility::normalizeFilePath(folder.toString());
            s.syncProgress().setCurrentItem(path);
            const QList<AudioPtr> found = scanFileSystem(path);
            amounts.insert(path, QString::number(found.size()));
            s.setUserMediaFoldersToScanWithSongAmounts(amounts);
            appendToLocalLibrary(found);
        }
    }
    m_run.reset();
    if (completion)
        completion();
}

void ScanForLocalMedia::scanItunesLibrary() {
    Sonarbox &s = Sonarbox::instance();
    const std::optional<QList<LibraryTrack>> library =
        m_library ? m_library->tracks() : std::nullopt;
    if (!library)
        qCWarning(lcSync) << "Could not connect to the iTunes library";
    qCInfo(lcSync) << "=== START | ADDING SONGS FROM ITUNES TO localLibraryTracks ARRAY";

    const QSet<QString> extensions = validExtensions();
    // A file that repeats a stored track is not offered again at every sync.
    const QSet<QString> duplicates = s.duplicatePaths();
    QList<AudioPtr> found;
    for (const LibraryTrack &entry : library.value_or(QList<LibraryTrack>())) {
        if (stopRequested()) {
            s.applicationWasStopped();
            appendToLocalLibrary(found);
            return;
        }
        if (entry.location.isEmpty())
            continue;
        const QString path = Utility::normalizeFilePath(entry.location);
        const QString extension = extensionOf(path);
        if (!extensions.contains(extension) || duplicates.contains(path) ||
            !Utility::isValidFileSize(path))
            continue;
        found.append(recordOfLibraryTrack(entry, path, extension));
        s.syncProgress().trackFound();
    }
    appendToLocalLibrary(found);

    qCInfo(lcSync) << "=== FINISH | ADDING SONGS FROM ITUNES TO localLibraryTracks ARRAY";
    qCInfo(lcSync).noquote() << QStringLiteral("Tracks in mediaLibraryTracks array %1")
                                    .arg(s.localLibraryTracks().size());
}

QList<AudioPtr> ScanForLocalMedia::scanFileSystem(const QString &folderPath) {
    Sonarbox &s = Sonarbox::instance();
    qCInfo(lcSync) << "scanFileSystem start";
    qCInfo(lcSync) << "=== START | ADDING SONGS FROM FILE SYSTEM TO localLibraryTracks ARRAY";

    // Looked up once per walk: a collection has thousands of files.
    const QSet<QString> extensions = validExtensions();
    const QSet<QString> duplicates = s.duplicatePaths();
    QList<AudioPtr> found;

    FolderWalk walk;
    walk.stopRequested = [this] { return stopRequested(); };
    walk.visitFile = [&](const FolderWalk::File &file) {
        AudioPtr track = recordOfFile(file, extensions, duplicates);
        if (!track)
            return;
        qCDebug(lcSync).noquote() << QStringLiteral("\nSong Name: %1 \nFile Path: %2")
                                         .arg(*track->songName, *track->fileURL);
        found.append(track);
        s.syncProgress().trackFound();
    };
    if (walk.run(folderPath) == FolderWalk::Result::Stopped) {
        s.applicationWasStopped();
        return {};
    }

    qCInfo(lcSync) << "=== FINISH | ADDING SONGS FROM FILE SYSTEM TO localLibraryTracks ARRAY";
    return found;
}
