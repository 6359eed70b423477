#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// One track of the music player's library, as the scan needs it.
struct LibraryTrack {
    QString location; // plain absolute path of the file
    QString name;
    QString artist;
    QString album;
    std::optional<int> year;
    std::optional<int> trackNumber;
    QDateTime modDate;
};

// Follows the changes of a music library until it is destroyed.
class LibraryWatch {
public:
    virtual ~LibraryWatch() = default;
};

// The music player's library (library choice 1): what it holds, and the
// hand-off of a downloaded song into it. Each call opens its own connection,
// so calls may come from any thread.
class MusicLibrary {
public:
    virtual ~MusicLibrary() = default;

    // Every file track of the library; nothing when the library cannot be
    // reached.
    virtual std::optional<QList<LibraryTrack>> tracks() = 0;
    // Files the song at `path` into the library and into the playlist
    // "Sonarbox" (made when missing). Answers the song's location in the
    // library (a plain path), or nothing when it could not be added.
    virtual std::optional<QString> addSong(const QString &path) = 0;
    // Starts following what the library holds: `changed` is called, on a
    // thread of the watch's own, after each change. None when this library
    // cannot tell.
    virtual std::unique_ptr<LibraryWatch> watchChanges(std::function<void()> changed) {
        (void)changed;
        return nullptr;
    }
};

using MusicLibraryPtr = std::shared_ptr<MusicLibrary>;
