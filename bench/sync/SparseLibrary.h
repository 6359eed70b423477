#pragma once

#include <QString>
#include <QStringList>

// A library of a hundred thousand tracks that fits on a small disk: every
// file is an MP3 as the scan sees it (a real ID3v2 tag of its own, written by
// TagLib, then the first MPEG frames of a short ffmpeg encoding) and its tail
// is a hole, so that it claims 3–8 MiB but takes a few KiB. The scan only
// stats a file and reads its tags, so it meets the same work as in a real
// collection. Files go into Artist/Album folders of ten tracks each. Made once
// and kept in `folder`; a second call only checks the count.
struct SparseLibrary {
    QString folder;
    QStringList files;

    static bool make(const QString &folder, int count, SparseLibrary &out);

    // The tags a file of the library has, for a store filled as an earlier
    // sync left it.
    static QString title(int i);
    static QString artist(int i);
    static QString album(int i);
    static int trackNumber(int i) { return i % 10 + 1; }
};
