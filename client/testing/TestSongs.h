#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// Audio made at test time: generated music (two seeds sound recognisably
// different, one seed always gives the same samples), encoded and tagged by
// ffmpeg; and the recognition catalogue made from it with tonemill-catalog.
namespace TestSongs {

struct Tags {
    QString title;
    QString artist;
    QString album;
    int track = 0; // 0: no track number
};

// Writes a song of `seconds` to `path`, encoded as its extension says (mp3,
// m4a, flac, ogg or wav, in any letter case), with the given tags (empty ones
// are left out). `bitrate` (e.g. "96k") re-encodes differently for the same
// music. False when ffmpeg fails.
bool make(const QString &path, uint32_t seed, double seconds, const Tags &tags = {},
          const QString &bitrate = QString());
// A file of exactly `bytes` bytes that is not audio.
bool makeFileOfSize(const QString &path, qint64 bytes);
// A WAV of silence of exactly `bytes` bytes (at least 44): audio that the
// service takes, made at once at any size.
bool makeSilenceOfSize(const QString &path, qint64 bytes);

QString catalogTool();
// Creates a recognition catalogue at `database` holding `files` (with their tags).
bool makeCatalog(const QString &database, const QStringList &files);
// Writes the recognition engine's initialisation data for `database` into
// `folder`; answers its path.
QString writeEngineConfig(const QString &folder, const QString &database);

} // namespace TestSongs
