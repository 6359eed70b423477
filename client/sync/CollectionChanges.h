#pragma once

#include "store/Audio.h"
#include "store/TrackFiles.h"

#include <QList>

#include <functional>
#include <optional>
#include <utility>

class GenericDAO;

// What a changed collection means for the stored tracks, decided in one pass
// over a scan's findings: the new files (and the stored files whose bytes may
// have changed) against the stored tracks whose files are gone.
//
// - Moved: a new path holds a stored track's bytes and the track's old path
//   is gone. The track follows its file; nothing is sent or fetched.
// - Copied: a new path holds a stored track's bytes, but the old path is
//   still there. Remembered as a known copy and left out.
// - New version: a stored path whose bytes changed, or a gone track's file
//   found at a new path by its device and inode (or, once recognised, by its
//   recognition track): identified, matched or uploaded as any new file, and
//   then takes the old track's place.
// - Deleted: a gone track that nothing accounts for stays as it is, in the
//   cloud too.
namespace CollectionChanges {

struct Decisions {
    // New files and new versions, for the fingerprint stage.
    QList<AudioPtr> toIdentify;
    // Tracks whose file moved: the track, and the record of its new file.
    QList<std::pair<StoredFile, AudioPtr>> moves;
    // Files holding the bytes of a stored track whose file is still there.
    QList<AudioPtr> copies;
    // Stored files read again whose bytes had not changed: new stamps.
    QHash<qint64, FileStamp> restamped;
    // Gone tracks nothing accounted for.
    QList<StoredFile> gone;
};

// What the decisions ask of the store and the file system.
struct Lookup {
    // Whether the store holds any track: with none, nothing can have moved.
    bool anyStored = true;
    // The stored track with these bytes, if any.
    std::function<std::optional<StoredFile>(const QString &checksum)> byChecksum;
    // The MD5 of a file; empty when it cannot be read.
    std::function<QString(const QString &path)> checksumOf;
    // Whether a path still names a file.
    std::function<bool(const QString &path)> exists;
};

Decisions decide(const QList<AudioPtr> &found, const QList<StoredFile> &gone, const Lookup &lookup);
// The lookups against the store and the disk.
Lookup storeLookup(GenericDAO &store);
// Records moves, copies and stamps in the store.
void apply(GenericDAO &store, const Decisions &decisions);

// A new file recognised as the same track as a gone one is its new version
// (a tagger that wrote a new file under a new name): links it and takes the
// gone track off the list.
bool linkByRecognition(Audio &track, QList<StoredFile> &gone);

} // namespace CollectionChanges
