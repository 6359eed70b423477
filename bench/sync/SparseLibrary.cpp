#include "SparseLibrary.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <taglib/id3v2tag.h>

#include <cstdio>

namespace {

QString pathOf(const QString &folder, int i) {
    return QStringLiteral("%1/Artist %2/Album %3/%4 Track %5.mp3")
        .arg(folder)
        .arg(i / 100, 4, 10, QLatin1Char('0'))
        .arg(i / 10 % 10)
        .arg(SparseLibrary::trackNumber(i), 2, 10, QLatin1Char('0'))
        .arg(i);
}

TagLib::String text(const QString &value) {
    return TagLib::String(value.toStdString(), TagLib::String::UTF8);
}

// The start of a real MPEG stream without any tag of its own: what follows
// a file's ID3v2 tag.
QByteArray mpegFrames(const QString &templateFile) {
    if (!QFile::exists(templateFile) &&
        QProcess::execute(QStringLiteral("ffmpeg"),
                          {QStringLiteral("-y"), QStringLiteral("-nostdin"),
                           QStringLiteral("-loglevel"), QStringLiteral("error"),
                           QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                           QStringLiteral("sine=frequency=440:duration=1"), QStringLiteral("-b:a"),
                           QStringLiteral("128k"), QStringLiteral("-id3v2_version"),
                           QStringLiteral("0"), QStringLiteral("-write_xing"), QStringLiteral("0"),
                           templateFile}) != 0)
        return {};
    QFile file(templateFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(4096);
}

} // namespace

QString SparseLibrary::title(int i) {
    return QStringLiteral("Track %1").arg(i);
}

QString SparseLibrary::artist(int i) {
    return QStringLiteral("Artist %1").arg(i / 100);
}

QString SparseLibrary::album(int i) {
    return QStringLiteral("Album %1-%2").arg(i / 100).arg(i / 10 % 10);
}

bool SparseLibrary::make(const QString &folder, int count, SparseLibrary &out) {
    out.folder = folder;
    out.files.clear();
    out.files.reserve(count);
    for (int i = 0; i < count; ++i)
        out.files << pathOf(folder, i);
    const QString stamp = folder + QStringLiteral(".complete");
    if (QFile::exists(stamp))
        return true;

    // Beside the library, not in it: the scan takes every file.
    QDir().mkpath(folder);
    const QByteArray frames = mpegFrames(folder + QStringLiteral(".frames.mp3"));
    if (frames.isEmpty())
        return false;
    QString madeFolder;
    for (int i = 0; i < count; ++i) {
        const QString path = out.files.at(i);
        const QString parent = QFileInfo(path).absolutePath();
        if (parent != madeFolder && !QDir().mkpath(parent))
            return false;
        madeFolder = parent;

        TagLib::ID3v2::Tag tag;
        tag.setTitle(text(title(i)));
        tag.setArtist(text(artist(i)));
        tag.setAlbum(text(album(i)));
        tag.setTrack(unsigned(trackNumber(i)));
        const TagLib::ByteVector rendered = tag.render();
        QFile file(path);
        // Sizes of three to eight MiB, as 128–320 kb/s songs of a few minutes.
        const qint64 size = (3LL << 20) + qint64(i) * 7919 % (5LL << 20);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(rendered.data(), rendered.size()) != qint64(rendered.size()) ||
            file.write(frames) != frames.size() || !file.resize(size))
            return false;
        if (i % 10000 == 9999)
            std::fprintf(stderr, "library: %d of %d files\n", i + 1, count);
    }
    QFile mark(stamp);
    return mark.open(QIODevice::WriteOnly);
}
