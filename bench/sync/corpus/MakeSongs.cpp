// sonarbox-make-songs: writes generated, tagged songs into a folder, for the
// demo of scripts/run.sh and for the sync benchmarks.
#include "SyncCorpus.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <mutex>

namespace {

struct Pattern {
    QString title, artist, album, name;
};

// Fills the placeholders of a pattern for song `index` (0-based).
QString expand(QString text, int index, int albumSize, const SyncCorpus::Song &song) {
    const int number = index + 1;
    const int album = albumSize > 0 ? index / albumSize + 1 : 1;
    const int track = albumSize > 0 ? index % albumSize + 1 : number;
    text.replace(QStringLiteral("{n}"), QStringLiteral("%1").arg(number, 3, 10, QLatin1Char('0')));
    text.replace(QStringLiteral("{seed}"), QString::number(song.seed));
    text.replace(QStringLiteral("{a}"), QString::number(album));
    text.replace(QStringLiteral("{track}"),
                 QStringLiteral("%1").arg(track, 2, 10, QLatin1Char('0')));
    text.replace(QStringLiteral("{title}"), song.title);
    text.replace(QStringLiteral("{artist}"), song.artist);
    text.replace(QStringLiteral("{album}"), song.album);
    text.replace(QStringLiteral("{ext}"), song.format);
    return text;
}

void fail(const QString &message) {
    std::fprintf(stderr, "sonarbox-make-songs: %s\n", qPrintable(message));
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes generated songs, encoded and tagged by ffmpeg. Patterns may use {n} (song "
        "number), {seed}, {a} (album number), {track} (number in the album), and in --name also "
        "{title}, {artist}, {album} and {ext}. Existing files are kept unless --force is given. "
        "Prints the path of every song it wrote or kept."));
    parser.addHelpOption();
    const auto option = [&](const char *name, const char *help, const char *value,
                            const char *fallback) {
        parser.addOption({QLatin1String(name), QLatin1String(help), QLatin1String(value),
                          QLatin1String(fallback)});
    };
    option("out", "Folder to write into (required).", "dir", "");
    option("count", "Number of songs.", "n", "10");
    option("first-seed", "Seed of the first song; the others follow it.", "seed", "1");
    option("seconds", "Length of every song.", "seconds", "30");
    option("formats", "Formats, used in turn: mp3, m4a, aac, flac, ogg, wav, aif, wma.", "list",
           "mp3");
    option("bitrate", "Bitrate of lossy formats (e.g. 96k); default: the encoder's.", "rate", "");
    option("title", "Title tag pattern (empty: no tag).", "pattern", "Song {n}");
    option("artist", "Artist tag pattern (empty: no tag).", "pattern", "Sonarbox Demo");
    option("album", "Album tag pattern (empty: no tag).", "pattern", "Album {a}");
    option("album-size", "Songs per album; 0: no track numbers.", "n", "10");
    option("name", "File name pattern.", "pattern", "{artist} - {title}.{ext}");
    option("jobs", "Songs made at the same time (0: one per processor).", "n", "0");
    parser.addOption({QStringLiteral("force"), QStringLiteral("Write songs that exist again.")});
    parser.process(app);

    const QString out = parser.value(QStringLiteral("out"));
    bool ok = true;
    const int count = parser.value(QStringLiteral("count")).toInt(&ok);
    if (out.isEmpty() || !ok || count < 0) {
        fail(QStringLiteral("give --out DIR and a --count of 0 or more"));
        return 2;
    }
    const uint firstSeed = parser.value(QStringLiteral("first-seed")).toUInt(&ok);
    const double seconds = ok ? parser.value(QStringLiteral("seconds")).toDouble(&ok) : 0;
    const int albumSize = ok ? parser.value(QStringLiteral("album-size")).toInt(&ok) : 0;
    const int jobs = ok ? parser.value(QStringLiteral("jobs")).toInt(&ok) : 0;
    if (!ok || seconds <= 0 || albumSize < 0 || jobs < 0) {
        fail(QStringLiteral("--first-seed, --seconds, --album-size and --jobs take numbers"));
        return 2;
    }
    const QStringList formats =
        parser.value(QStringLiteral("formats")).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &format : formats) {
        if (!SyncCorpus::isSupportedFormat(format)) {
            fail(QStringLiteral("unknown format \"%1\"").arg(format));
            return 2;
        }
    }
    if (formats.isEmpty()) {
        fail(QStringLiteral("--formats is empty"));
        return 2;
    }
    const Pattern pattern{
        parser.value(QStringLiteral("title")), parser.value(QStringLiteral("artist")),
        parser.value(QStringLiteral("album")), parser.value(QStringLiteral("name"))};

    const QDir folder(out);
    QList<SyncCorpus::Job> jobsToRun;
    QStringList kept;
    for (int i = 0; i < count; ++i) {
        SyncCorpus::Song song;
        song.seed = firstSeed + uint(i);
        song.seconds = seconds;
        song.format = formats.at(i % formats.size());
        song.bitrate = parser.value(QStringLiteral("bitrate"));
        song.title = expand(pattern.title, i, albumSize, song);
        song.artist = expand(pattern.artist, i, albumSize, song);
        song.album = expand(pattern.album, i, albumSize, song);
        song.track = albumSize > 0 ? i % albumSize + 1 : 0;
        QString name = expand(pattern.name, i, albumSize, song);
        name.replace(QLatin1Char('/'), QLatin1Char('-'));
        const QString path = folder.absoluteFilePath(name);
        if (!parser.isSet(QStringLiteral("force")) && QFileInfo::exists(path))
            kept << path;
        else
            jobsToRun.append({path, song});
    }

    for (const QString &path : kept)
        std::printf("%s\n", qPrintable(path));
    std::fflush(stdout);
    std::mutex printing;
    const QStringList errors =
        SyncCorpus::writeSongs(jobsToRun, jobs, [&](const SyncCorpus::Job &job, bool written) {
            if (!written)
                return;
            std::lock_guard guard(printing);
            std::printf("%s\n", qPrintable(job.path));
            std::fflush(stdout);
        });
    for (const QString &error : errors)
        fail(error);
    return errors.isEmpty() ? 0 : 1;
}
