#pragma once

#include "store/Audio.h"

#include <QList>
#include <QSet>
#include <QString>

// How the fingerprint stage splits a library into recognition calls: the
// tracks of one album title go together (the engine uses the album to tell
// tracks apart); tracks without an album tag go together by folder, since a
// folder of untagged files is usually one album as well. No call takes more
// than `MaximumCallSize` files, so memory stays bounded, a stop takes effect
// between calls and progress moves, however a library is tagged.
namespace AlbumGroups {

constexpr qsizetype MaximumCallSize = 50;

struct Call {
    QString key;                 // "artist_album", or the folder of album-less tracks
    QList<qsizetype> tracks;     // indexes of the new tracks of this call, in library order
    qsizetype storedMembers = 0; // tracks of the group the store already knows (last call only)
};

// Whether a track counts as having an album: a tag, and not the "Unknown"
// that the scan puts in for a file without one.
bool hasAlbum(const Audio &track);

// The calls for the tracks of `library` whose paths are not in `known`, in the
// order of each group's first track; a group larger than the cap becomes
// several calls. Linear in the size of the library.
QList<Call> calls(const QList<AudioPtr> &library, const QSet<QString> &known);

} // namespace AlbumGroups
