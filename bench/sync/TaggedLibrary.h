#pragma once

#include <QString>
#include <QStringList>

// A large library of small tagged audio files for the scan and re-sync
// benchmarks: one short MP3 made by ffmpeg, copied `count` times into
// Artist/Album folders, each copy with tags of its own (TagLib). Made once
// and kept in `folder`; a second call only checks the count.
struct TaggedLibrary {
    QString folder;
    QStringList files;

    static bool make(const QString &folder, int count, TaggedLibrary &out);

    // The library benchmarks' options (--files, --dir, --runs with the given
    // default) and their library, made when missing; false (said on standard
    // error) when it cannot be made.
    static bool fromArguments(const QStringList &arguments, int runsDefault, TaggedLibrary &out,
                              int *runs);
};
