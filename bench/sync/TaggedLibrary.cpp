#include "TaggedLibrary.h"

#include <QCommandLineParser>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <algorithm>
#include <cstdio>

namespace {

QString pathOf(const QString &folder, int i) {
    return QStringLiteral("%1/Artist %2/Album %3/%4 Track %5.mp3")
        .arg(folder)
        .arg(i / 100 % 100, 2, 10, QLatin1Char('0'))
        .arg(i / 10 % 10)
        .arg(i % 10 + 1, 2, 10, QLatin1Char('0'))
        .arg(i);
}

} // namespace

bool TaggedLibrary::make(const QString &folder, int count, TaggedLibrary &out) {
    out.folder = folder;
    out.files.clear();
    QDir().mkpath(folder);
    const QString stamp = folder + QStringLiteral(".complete");
    // Beside the library, not in it: the scan takes hidden files too.
    const QString templateFile = folder + QStringLiteral(".template.mp3");
    for (int i = 0; i < count; ++i)
        out.files << pathOf(folder, i);
    if (QFile::exists(stamp))
        return true;

    // Seven seconds at 128 kb/s: a little over the 100 KiB an accepted file needs.
    if (!QFile::exists(templateFile) &&
        QProcess::execute(QStringLiteral("ffmpeg"),
                          {QStringLiteral("-y"), QStringLiteral("-nostdin"),
                           QStringLiteral("-loglevel"), QStringLiteral("error"),
                           QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                           QStringLiteral("sine=frequency=440:duration=7"), QStringLiteral("-b:a"),
                           QStringLiteral("128k"), templateFile}) != 0)
        return false;
    for (int i = 0; i < count; ++i) {
        const QString path = out.files.at(i);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile::remove(path);
        if (!QFile::copy(templateFile, path))
            return false;
        TagLib::FileRef file(QFile::encodeName(path).constData(), false);
        if (file.isNull() || !file.tag())
            return false;
        file.tag()->setTitle(
            TagLib::String(QStringLiteral("Track %1").arg(i).toStdString(), TagLib::String::UTF8));
        file.tag()->setArtist(TagLib::String(
            QStringLiteral("Artist %1").arg(i / 100 % 100).toStdString(), TagLib::String::UTF8));
        file.tag()->setAlbum(TagLib::String(
            QStringLiteral("Album %1-%2").arg(i / 100 % 100).arg(i / 10 % 10).toStdString(),
            TagLib::String::UTF8));
        file.tag()->setTrack(unsigned(i % 10 + 1));
        if (!file.save())
            return false;
        if (i % 1000 == 999)
            std::fprintf(stderr, "library: %d of %d files\n", i + 1, count);
    }
    QFile mark(stamp);
    return mark.open(QIODevice::WriteOnly);
}

bool TaggedLibrary::fromArguments(const QStringList &arguments, int runsDefault, TaggedLibrary &out,
                                  int *runs) {
    QCommandLineParser parser;
    parser.addOptions({{QStringLiteral("files"), QStringLiteral("Library size."),
                        QStringLiteral("n"), QStringLiteral("10000")},
                       {QStringLiteral("dir"), QStringLiteral("Library folder (kept)."),
                        QStringLiteral("dir"), QStringLiteral("/tmp/sonarbox-bench-library")},
                       {QStringLiteral("runs"), QStringLiteral("Timed runs."), QStringLiteral("n"),
                        QString::number(runsDefault)}});
    parser.process(arguments);
    const int files = parser.value(QStringLiteral("files")).toInt();
    *runs = std::max(1, parser.value(QStringLiteral("runs")).toInt());
    const QString dir = parser.value(QStringLiteral("dir")) + QStringLiteral("/%1").arg(files);
    if (make(dir, files, out))
        return true;
    std::fprintf(stderr, "could not make the library in %s\n", qPrintable(dir));
    return false;
}
