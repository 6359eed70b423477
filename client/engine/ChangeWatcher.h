#pragma once

#include "sync/ChangeSettler.h"
#include "sync/MusicLibrary.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <memory>

class FolderWatcher;
class ScanForLocalMedia;
class Sonarbox;
class SyncEngine;

// Syncs soon after the music changes, instead of at the next hourly sync: it
// watches what the library choice names (every folder of the chosen folders
// or the Music folder, or the music player's database) and follows changes of
// that choice. Once the changes have settled a sync starts, through the same
// call as the hourly timer, so whatever keeps the timer from syncing (signed
// out, timed syncs switched off, offline) keeps this from syncing too.
//
// A music file being written has not settled: the changes count as quiet
// only once every file written in the watched folders has been closed and
// the quiet spell has passed since. A file still open when the longest wait
// is over is not taken by the sync that wait starts (the scan itself leaves
// files still being written): it waits for its close and the sync after it.
//
// New files written in the last seconds before the scan reads them are left
// for the sync after, which follows once they have settled too.
//
// Lives on the main thread; the watching itself runs on threads of its own.
class ChangeWatcher : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds DefaultQuiet = std::chrono::seconds(30);
    static constexpr std::chrono::milliseconds DefaultLongest = std::chrono::minutes(5);
    static constexpr std::chrono::milliseconds DefaultStillWritten = std::chrono::seconds(5);

    ChangeWatcher(Sonarbox &coordinator, SyncEngine &engine, QObject *parent = nullptr);
    ~ChangeWatcher() override;

    // Starts watching what the library choice names now, and follows it.
    void start();

    // How long the changes must have rested, and how long after the first
    // one a sync starts at the latest (tests shorten them).
    void setSettleTimes(std::chrono::milliseconds quiet, std::chrono::milliseconds longest);
    // How recently written a new file may be for a scan to leave it. Keep it
    // below the quiet spell, or a settled moment finds the newest files still
    // too fresh and only the one after takes them.
    void setStillWrittenAge(std::chrono::milliseconds age);

    FolderWatcher &folderWatcher() { return *m_folders; }

signals:
    // The changes settled and a sync was asked for (whether it may start is
    // the coordinator's to decide).
    void syncRequested();

private:
    void follow();
    void changed();
    void writing(const QString &file, bool open);
    void syncStateChanged();
    void schedule();
    void settle();

    Sonarbox &m_coordinator;
    ScanForLocalMedia &m_scanner;
    const MusicLibraryPtr m_library;
    std::unique_ptr<FolderWatcher> m_folders;
    std::unique_ptr<LibraryWatch> m_libraryWatch;
    QStringList m_roots;
    ChangeSettler m_settler;
    QTimer m_due;
    std::chrono::milliseconds m_stillWritten = DefaultStillWritten;
    bool m_started = false;
};
