#pragma once

#include <QByteArray>
#include <QString>

// The title, artist and album of an audio file, through TagLib. Only the tags
// are read, never the audio properties, so that a scan of thousands of files
// stays fast. A value that is empty or blank counts as absent (an empty text).
struct FileTags {
    QString title;
    QString artist;
    QString album;
};

class TagReader {
public:
    // Reads the tags of the regular file open at `fd`, of `size` bytes. The
    // extension of `name` says which format to expect; when it names none that
    // TagLib knows, the content decides. Takes the descriptor over and closes
    // it. A file that is not audio, or truncated, yields empty tags.
    static FileTags readFrom(int fd, const QByteArray &name, qint64 size);
};
