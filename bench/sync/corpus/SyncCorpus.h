#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

// Generated songs for demos and sync benchmarks: music synthesised from a
// seed (two seeds sound recognisably different, one seed always gives the
// same samples), encoded and tagged by ffmpeg. The same seed and seconds in
// another format or at another bitrate is the same recording in other bytes,
// which only an acoustic fingerprint can tell is the same song.
namespace SyncCorpus {

struct Song {
    uint32_t seed = 1;
    double seconds = 30.0;
    // The encoding, by file name extension: mp3, m4a, aac, flac, ogg, wav,
    // aif or wma (any letter case).
    QString format = QStringLiteral("mp3");
    // Tags; empty ones (and track 0) are left out.
    QString title;
    QString artist;
    QString album;
    int track = 0;
    // Audio bitrate such as "96k"; empty: the encoder's default. Lossless
    // formats ignore it.
    QString bitrate;
};

// The formats writeSong() can encode.
QStringList formats();
bool isSupportedFormat(const QString &format);

// Writes `song` to `path`. The file appears whole or not at all (it is
// encoded under a temporary name beside it). False with `error` set when
// the format is unknown or ffmpeg fails.
bool writeSong(const QString &path, const Song &song, QString *error = nullptr);

struct Job {
    QString path;
    Song song;
};
// Writes every job, `parallel` at a time (0: one per processor); `done` is
// called for each finished job, from a worker thread. Answers the errors
// (empty when all were written).
QStringList writeSongs(const QList<Job> &jobs, int parallel = 0,
                       const std::function<void(const Job &, bool ok)> &done = {});

} // namespace SyncCorpus
