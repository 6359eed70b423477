#pragma once

#include "MusicLibrary.h"

#include <QString>

#include <optional>

// Hands a downloaded song to the music player's library (library choice 1)
// and reports the location the library gives it. Called from the download
// stage's worker thread; the library opens a connection per call.
class iTunesModifier {
public:
    explicit iTunesModifier(MusicLibraryPtr library);

    // The location of the added song as an absolute file URL text (which
    // Utility::normalizeFilePath turns back into the path), or nothing.
    std::optional<QString> addSongsToItunes(const QString &path);

private:
    MusicLibraryPtr m_library;
};
