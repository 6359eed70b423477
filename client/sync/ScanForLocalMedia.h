#pragma once

#include "SyncRun.h"

#include "ChangeJournal.h"
#include "FileStillness.h"
#include "FolderScan.h"
#include "MusicLibrary.h"
#include "store/Audio.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

// The first stage of a sync: finds the audio files of the user's collection
// (the music player's library, the Music folder, or the chosen folders) and
// turns each accepted file into a detached record in the coordinator's
// localLibraryTracks; a folder walk leaves out the files that are stored
// tracks already and only counts them. Runs on the stage queue.
//
// A file is accepted when its name extension is one of the coordinator's
// validExtensions (letter case counts) and it is more than 100 KiB and less
// than 100 MiB. A folder walk also skips the paths of known duplicates, and
// files it cannot read.
class SyncState;

class ScanForLocalMedia {
public:
    ScanForLocalMedia(SyncState &state, MusicLibraryPtr library);

    // The whole scan for `run`, whose findings it leaves in the run; calls
    // `completion` (when given) at the end in every mode, also after a stop.
    // A stop of the run ends the scan.
    void scanFileSystemForMedia(const SyncRunPtr &run, const std::function<void()> &completion);
    // Adds the accepted tracks of the music player's library to the run.
    void scanItunesLibrary(SyncRun &run);
    // Walks one folder tree: its new files as records, and how many music
    // files it holds; nothing after a stop.
    FolderScan::Result scanFileSystem(const QString &folderPath);

    // The folder trees a scan walks for the library choice as it is now: the
    // Music folder, or the chosen folders; none for the music player's
    // library.
    static QStringList foldersToWalk(const SyncState &state);

    // New files written less than `age` before a scan reads them, or held
    // open for writing by some process, wait for a later scan, as they may
    // still be being written (zero: every file that nobody holds open for
    // writing is taken as it is). Any thread.
    void setLeaveFilesWrittenWithin(std::chrono::milliseconds age) { m_freshMs = age.count(); }
    // Whether a scan waits (no longer than that age) for files that were
    // only written too recently, rather than leaving them: a single sync has
    // no later scan. Any thread.
    void setWaitForFilesWrittenWithin(bool wait) { m_waitForWritten = wait; }
    // How many files the scans since the last call left because they changed
    // too recently. Not those held open for writing: a sync that follows
    // would only find them open again, and their closing is a change of its
    // own.
    qsizetype takeFilesStillWritten() { return m_stillWritten.exchange(0); }
    // The files the latest scan left for either reason. Any thread.
    QStringList filesLeftStillWritten() const;
    // How long a folder must have been left alone before a walk settles it
    // (tests shorten it). Any thread.
    void setSettleAfter(std::chrono::nanoseconds age) { m_settleAfterNs = age.count(); }

    // What the folder watcher saw: a tree it watched whole, in which nothing
    // happened since a scan found every folder of it settled, is not walked
    // again; that scan's count stands. None (the default): every scan walks.
    // Any thread.
    void setChangeJournal(std::shared_ptr<ChangeJournal> journal);

private:
    bool stopRequested() const;
    // Weighs the scan's findings against the store: moves and copies are
    // settled here, and what is left for the fingerprint stage stays.
    void weighChanges(SyncRun &run, const QList<StoredFile> &gone);
    std::shared_ptr<ChangeJournal> changeJournal() const;
    FileStillness stillness() const;
    void leftStillWritten(const QStringList &changing, const QStringList &open);

    // A tree a scan found all settled, as of the journal's mark taken as the
    // scan began.
    struct QuietTree {
        std::shared_ptr<ChangeJournal> journal;
        ChangeJournal::Mark since = 0;
        qsizetype found = 0;
        qint64 settledFolders = 0;
    };

    SyncState &m_state;
    MusicLibraryPtr m_library;
    // The run of the scan in progress (stage queue only).
    SyncRunPtr m_run;
    std::atomic<qint64> m_freshMs{0};
    std::atomic<qint64> m_settleAfterNs{FolderScan().settleAfter.count()};
    std::atomic<bool> m_waitForWritten{false};
    std::atomic<qsizetype> m_stillWritten{0};
    mutable std::mutex m_leftLock;
    QStringList m_left; // guarded by m_leftLock
    mutable std::mutex m_journalLock;
    std::shared_ptr<ChangeJournal> m_journal; // guarded by m_journalLock
    QHash<QString, QuietTree> m_quietTrees;   // stage queue only
};
