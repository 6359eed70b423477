#include "TestSongs.h"

#include "ChildProcess.h"
#include "music_synth.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace TestSongs {

namespace {

bool run(const QString &program, const QStringList &args, int timeoutMs = 120000) {
    return ChildProcess::run(program, args, {}, timeoutMs, {}).exitCode == 0;
}

QString muxerFor(const QString &extension) {
    const QString ext = extension.toLower();
    if (ext == QLatin1String("m4a") || ext == QLatin1String("aac"))
        return QStringLiteral("ipod");
    return ext;
}

} // namespace

bool make(const QString &path, uint32_t seed, double seconds, const Tags &tags,
          const QString &bitrate) {
    QTemporaryDir work;
    const QString wav = work.filePath(QStringLiteral("song.wav"));
    recog::testaudio::SongSpec recipe;
    recipe.seed = seed;
    recipe.seconds = seconds;
    const std::vector<int16_t> pcm = recog::testaudio::synthesizeSong(recipe);
    if (!recog::testaudio::writeWav(wav.toStdString(), pcm, recipe.sampleRate, 2))
        return false;
    QStringList args{QStringLiteral("-y"),        QStringLiteral("-nostdin"),
                     QStringLiteral("-loglevel"), QStringLiteral("error"),
                     QStringLiteral("-i"),        wav};
    const auto meta = [&](const char *key, const QString &value) {
        if (!value.isEmpty())
            args << QStringLiteral("-metadata")
                 << QStringLiteral("%1=%2").arg(QLatin1String(key), value);
    };
    meta("title", tags.title);
    meta("artist", tags.artist);
    meta("album", tags.album);
    if (tags.track > 0)
        meta("track", QString::number(tags.track));
    if (!bitrate.isEmpty())
        args << QStringLiteral("-b:a") << bitrate;
    const QString extension = QFileInfo(path).suffix();
    if (extension.toLower() == QLatin1String("ogg"))
        args << QStringLiteral("-c:a") << QStringLiteral("libvorbis");
    args << QStringLiteral("-f") << muxerFor(extension) << path;
    QDir().mkpath(QFileInfo(path).absolutePath());
    return run(QStringLiteral("ffmpeg"), args);
}

bool makeFileOfSize(const QString &path, qint64 bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.resize(bytes);
}

bool makeSilenceOfSize(const QString &path, qint64 bytes) {
    if (bytes < 44 || bytes > 0xFFFFFFFFll || !makeFileOfSize(path, bytes))
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    QByteArray header;
    const auto put = [&header](quint32 value, int size) {
        for (int i = 0; i < size; ++i)
            header.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    header.append("RIFF");
    put(static_cast<quint32>(bytes - 8), 4);
    header.append("WAVEfmt ");
    put(16, 4);
    put(1, 2);         // PCM
    put(1, 2);         // mono
    put(22050, 4);     // samples a second
    put(22050 * 2, 4); // bytes a second
    put(2, 2);
    put(16, 2);
    header.append("data");
    put(static_cast<quint32>((bytes - 44) & ~qint64{1}), 4);
    return f.write(header) == header.size();
}

QString catalogTool() {
    return QStringLiteral(TONEMILL_CATALOG_EXE);
}

bool makeCatalog(const QString &database, const QStringList &files) {
    QFile::remove(database);
    return run(catalogTool(), {QStringLiteral("create"), database}) &&
           (files.isEmpty() ||
            run(catalogTool(), QStringList{QStringLiteral("add"), database} + files));
}

QString writeEngineConfig(const QString &folder, const QString &database) {
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(QStringLiteral("engine.conf"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    f.write("catalog=" + QFileInfo(database).absoluteFilePath().toUtf8() + "\n");
    return path;
}

} // namespace TestSongs
