#include "ScanForLocalMedia.h"

#include "CollectionChanges.h"
#include "FileStillness.h"
#include "SyncState.h"
#include "settings/Logging.h"
#include "settings/Utility.h"
#include "store/GenericDAO.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>

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

// The text after the last dot of the file name; none without a dot.
QString extensionOf(const QString &path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot > slash ? path.mid(dot + 1) : QString();
}

// A chosen folder's path, from its URL.
QString pathOf(const QUrl &folder) {
    return folder.isLocalFile() ? folder.toLocalFile()
                                : Utility::normalizeFilePath(folder.toString());
}

QSet<QString> validExtensions() {
    const QStringList &list = Utility::validExtensions();
    return QSet<QString>(list.begin(), list.end());
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

ScanForLocalMedia::ScanForLocalMedia(SyncState &state, MusicLibraryPtr library)
    : m_state(state)
    , m_library(std::move(library)) {}

bool ScanForLocalMedia::stopRequested() const {
    return m_run ? m_state.stopRequested(*m_run) : m_state.flow_stopProcesses.load();
}

void ScanForLocalMedia::scanFileSystemForMedia(const SyncRunPtr &run,
                                               const std::function<void()> &completion) {
    m_run = run;
    {
        std::lock_guard guard(m_leftLock);
        m_left.clear();
    }
    run->setLocalLibrary({});
    m_state.syncProgress().beginStage(SyncProgress::Stage::Scanning, 0);
    m_state.notifyMothership(run->context(), QStringLiteral("SCANNING"), 0);

    const LibraryChoice choice = m_state.userPickedMediaLibrary();
    QList<StoredFile> gone;
    if (choice == LibraryChoice::MusicPlayer) {
        scanItunesLibrary(*run);
    } else if (choice == LibraryChoice::MusicFolder) {
        const QString music = musicFolder(m_state.userDirectory());
        m_state.syncProgress().setCurrentItem(music);
        const FolderScan::Result scan = scanFileSystem(music);
        run->addLocalLibraryTracks(scan.newTracks, scan.found);
        gone = scan.gone;
    } else {
        QMap<QString, QString> amounts;
        m_state.setUserMediaFoldersToScanWithSongAmounts(amounts);
        for (const QUrl &folder : m_state.userMediaFoldersToScan()) {
            const QString path = pathOf(folder);
            m_state.syncProgress().setCurrentItem(path);
            const FolderScan::Result scan = scanFileSystem(path);
            amounts.insert(path, QString::number(scan.found));
            m_state.setUserMediaFoldersToScanWithSongAmounts(amounts);
            run->addLocalLibraryTracks(scan.newTracks, scan.found);
            gone += scan.gone;
        }
    }
    // Over every chosen folder at once: a song moves from one to another.
    if (!stopRequested())
        weighChanges(*run, gone);
    m_run.reset();
    if (completion)
        completion();
}

void ScanForLocalMedia::weighChanges(SyncRun &run, const QList<StoredFile> &gone) {
    const QList<AudioPtr> found = run.localLibraryTracks();
    if (found.isEmpty() && gone.isEmpty())
        return;
    const CollectionChanges::Lookup lookup = CollectionChanges::storeLookup(m_state.store());
    if (!lookup.anyStored)
        return;
    const CollectionChanges::Decisions decisions = CollectionChanges::decide(found, gone, lookup);
    if (!run.context().dryRun)
        CollectionChanges::apply(m_state.store(), decisions);
    run.settleLocalLibrary(decisions.toIdentify, decisions.gone);
}

void ScanForLocalMedia::scanItunesLibrary(SyncRun &run) {
    const std::optional<QList<LibraryTrack>> library =
        m_library ? m_library->tracks() : std::nullopt;
    if (!library)
        qCWarning(lcSync) << "Could not connect to the iTunes library";
    qCInfo(lcSync) << "=== START | ADDING SONGS FROM ITUNES TO localLibraryTracks ARRAY";

    const QSet<QString> extensions = validExtensions();
    // A file that repeats a stored track is not offered again at every sync.
    const QSet<QString> duplicates = m_state.duplicatePaths();
    const FileStillness stillness = this->stillness();
    QList<AudioPtr> found;
    QStringList changing;
    QStringList open;
    for (const LibraryTrack &entry : library.value_or(QList<LibraryTrack>())) {
        if (stopRequested()) {
            m_state.applicationWasStopped();
            run.addLocalLibraryTracks(found, found.size());
            leftStillWritten(changing, open);
            return;
        }
        if (entry.location.isEmpty())
            continue;
        const QString path = Utility::normalizeFilePath(entry.location);
        const QString extension = extensionOf(path);
        if (!extensions.contains(extension) || duplicates.contains(path) ||
            !Utility::isValidFileSize(path))
            continue;
        // The player may have read it while it was still being copied in.
        const FileStillness::Verdict verdict = stillness.ofPath(QFile::encodeName(path));
        if (verdict != FileStillness::Verdict::Still) {
            qCDebug(lcSync).noquote() << "Still being written:" << path;
            (verdict == FileStillness::Verdict::OpenForWriting ? open : changing).append(path);
            continue;
        }
        found.append(recordOfLibraryTrack(entry, path, extension));
        m_state.syncProgress().trackFound();
    }
    run.addLocalLibraryTracks(found, found.size());
    leftStillWritten(changing, open);

    qCInfo(lcSync) << "=== FINISH | ADDING SONGS FROM ITUNES TO localLibraryTracks ARRAY";
    qCInfo(lcSync).noquote() << QStringLiteral("Tracks in mediaLibraryTracks array %1")
                                    .arg(run.localLibraryTracks().size());
}

void ScanForLocalMedia::setChangeJournal(std::shared_ptr<ChangeJournal> journal) {
    std::lock_guard guard(m_journalLock);
    m_journal = std::move(journal);
}

std::shared_ptr<ChangeJournal> ScanForLocalMedia::changeJournal() const {
    std::lock_guard guard(m_journalLock);
    return m_journal;
}

QStringList ScanForLocalMedia::filesLeftStillWritten() const {
    std::lock_guard guard(m_leftLock);
    return m_left;
}

FileStillness ScanForLocalMedia::stillness() const {
    FileStillness stillness{std::chrono::milliseconds(m_freshMs.load())};
    if (m_waitForWritten)
        stillness.setWaiting([this] { return stopRequested(); });
    return stillness;
}

void ScanForLocalMedia::leftStillWritten(const QStringList &changing, const QStringList &open) {
    m_stillWritten += changing.size();
    std::lock_guard guard(m_leftLock);
    m_left += changing;
    m_left += open;
}

FolderScan::Result ScanForLocalMedia::scanFileSystem(const QString &folderPath) {
    qCInfo(lcSync) << "scanFileSystem start";
    qCInfo(lcSync) << "=== START | ADDING SONGS FROM FILE SYSTEM TO localLibraryTracks ARRAY";

    // Taken before the walk: whatever happens during it is after the mark.
    const std::shared_ptr<ChangeJournal> journal = changeJournal();
    const ChangeJournal::Mark mark = journal ? journal->mark() : 0;
    const bool dryRun = m_run && m_run->context().dryRun;
    GenericDAO &dao = m_state.store();
    if (const auto quiet = m_quietTrees.constFind(folderPath);
        journal && quiet != m_quietTrees.cend() && quiet->journal == journal &&
        journal->quietSince(folderPath, quiet->since) && quiet->settledFolders > 0 &&
        dao.settledFolderCount(folderPath) == quiet->settledFolders) {
        // Nothing happened in the tree, and the store still holds every
        // folder of it as settled (a track leaving the store unsettles its
        // folder): a walk would find the same.
        qCInfo(lcSync).noquote()
            << QStringLiteral("Unchanged since the last scan, as watched: %1").arg(folderPath);
        FolderScan::Result result;
        result.found = quiet->found;
        result.allSettled = true;
        m_state.syncProgress().trackFound(result.found);
        return result;
    }

    FolderScan scan;
    scan.store = &m_state.store();
    scan.leaveWrittenWithin = std::chrono::milliseconds(m_freshMs.load());
    scan.waitForWritten = m_waitForWritten;
    scan.settleAfter = std::chrono::nanoseconds(m_settleAfterNs.load());
    scan.stopRequested = [this] { return stopRequested(); };
    scan.recordFolders = !dryRun;
    scan.tracksFound = [this](qsizetype count) { m_state.syncProgress().trackFound(count); };
    // Looked up once per walk: a collection has thousands of files.
    FolderScan::Result result = scan.run(folderPath, validExtensions(), m_state.duplicatePaths());
    if (result.stopped) {
        m_state.applicationWasStopped();
        m_quietTrees.remove(folderPath);
        return {};
    }
    leftStillWritten(result.stillWritten, result.openForWriting);
    // A preview records nothing, so its walk stands for nothing later.
    if (journal && result.allSettled && !dryRun)
        m_quietTrees.insert(folderPath,
                            {journal, mark, result.found, dao.settledFolderCount(folderPath)});
    else if (!dryRun)
        m_quietTrees.remove(folderPath);

    qCInfo(lcSync) << "=== FINISH | ADDING SONGS FROM FILE SYSTEM TO localLibraryTracks ARRAY";
    return result;
}

QStringList ScanForLocalMedia::foldersToWalk(const SyncState &state) {
    switch (state.userPickedMediaLibrary()) {
    case LibraryChoice::MusicPlayer:
        return {};
    case LibraryChoice::MusicFolder:
        return {musicFolder(state.userDirectory())};
    case LibraryChoice::ChosenFolders:
        break;
    }
    QStringList paths;
    for (const QUrl &folder : state.userMediaFoldersToScan())
        paths << pathOf(folder);
    return paths;
}
