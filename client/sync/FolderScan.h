#pragma once

#include "store/Audio.h"
#include "store/TrackFiles.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

// One walk of a folder tree for the scan. Files that are stored tracks
// already are counted, not read, unless their size or time moved since their
// bytes were read: only those and new files have their tags read and become
// records. Known copies of stored tracks are passed over while unchanged. A folder whose music
// files were all stored tracks is remembered in the store as settled, with its stamp; while the
// stamp holds, its files are not looked at again. So a re-scan of an unchanged collection costs a
// look at each folder rather than at each file, and a changed folder (a file added, removed or
// renamed) is read again in full.
//
// A folder changed in the last seconds before it was read is not settled:
// files may still be arriving in it.
class GenericDAO;

class FolderScan {
public:
    struct Result {
        // The accepted files the store does not know, in walk order, and the
        // stored tracks' files whose bytes may have changed (each with the
        // track's row as `previousObjectID`).
        QList<AudioPtr> newTracks;
        // Stored tracks of the tree whose files are gone.
        QList<StoredFile> gone;
        // Every accepted music file, stored or not.
        qsizetype found = 0;
        // New files left because they may still be being written: changed
        // too recently, or while they were being looked at.
        QStringList stillWritten;
        // New files left because some process holds them open for writing.
        QStringList openForWriting;
        // Every folder of the tree is settled now: it held nothing new and
        // nothing in doubt.
        bool allSettled = false;
        bool stopped = false;
    };

    // Asked between entries and files; true ends the scan (nothing settled).
    std::function<bool()> stopRequested;
    // Told as accepted music files are found, by how many.
    std::function<void(qsizetype)> tracksFound;
    // How long a folder must have been left alone before it is settled:
    // long enough for a copy into it to have shown itself in its times.
    std::chrono::nanoseconds settleAfter = std::chrono::seconds(10);
    // A new file that some process holds open for writing, written less than
    // this before it is read, or changing while it is read, may still be
    // being written: it is left for a later scan (in `stillWritten`). Zero
    // takes every file that nobody holds open for writing as it is.
    std::chrono::nanoseconds leaveWrittenWithin{0};
    // Whether a new file that was only written too recently is waited for
    // (no longer than `leaveWrittenWithin`) instead of being left: a single
    // sync has no later scan to leave it to.
    bool waitForWritten = false;
    // Whether the walk records the folders it found settled in the store (a
    // preview of a sync writes nothing there).
    bool recordFolders = true;
    // The store the walk looks up and records in; none: the program's.
    GenericDAO *store = nullptr;

    // Accepted: a regular file whose extension is one of `extensions` and
    // whose size is valid, not among `duplicates`, with a name that survives
    // the trip through text.
    Result run(const QString &root, const QSet<QString> &extensions,
               const QSet<QString> &duplicates);
};
