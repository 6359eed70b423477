#include "SyncCorpus.h"

#include "music_synth.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>

#include <mutex>

namespace SyncCorpus {

namespace {

struct Encoding {
    const char *extension;
    const char *muxer;
    const char *codec; // nullptr: the muxer's default
    bool lossy;
};

constexpr Encoding kEncodings[] = {
    {"mp3", "mp3", "libmp3lame", true}, {"m4a", "ipod", "aac", true},
    {"aac", "adts", "aac", true},       {"flac", "flac", nullptr, false},
    {"ogg", "ogg", "libvorbis", true},  {"wav", "wav", nullptr, false},
    {"aif", "aiff", nullptr, false},    {"wma", "asf", "wmav2", true},
};

const Encoding *encodingFor(const QString &format) {
    const QString ext = format.toLower();
    for (const Encoding &e : kEncodings) {
        if (ext == QLatin1String(e.extension))
            return &e;
    }
    return nullptr;
}

constexpr int kEncodeTimeoutMs = 300000;

} // namespace

QStringList formats() {
    QStringList list;
    for (const Encoding &e : kEncodings)
        list << QLatin1String(e.extension);
    return list;
}

bool isSupportedFormat(const QString &format) {
    return encodingFor(format) != nullptr;
}

bool writeSong(const QString &path, const Song &song, QString *error) {
    const auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    };
    const Encoding *encoding = encodingFor(song.format);
    if (!encoding)
        return fail(QStringLiteral("unknown format \"%1\"").arg(song.format));

    recog::testaudio::SongSpec recipe;
    recipe.seed = song.seed;
    recipe.seconds = song.seconds;
    const std::vector<int16_t> pcm = recog::testaudio::synthesizeSong(recipe);

    const QFileInfo target(path);
    if (!QDir().mkpath(target.absolutePath()))
        return fail(QStringLiteral("cannot make the folder"));
    const QString partial =
        target.absoluteDir().filePath(QStringLiteral(".%1.partial").arg(target.fileName()));

    QStringList args{
        QStringLiteral("-y"),        QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"),
        QStringLiteral("-loglevel"), QStringLiteral("error"),    QStringLiteral("-f"),
        QStringLiteral("s16le"),     QStringLiteral("-ar"),      QString::number(recipe.sampleRate),
        QStringLiteral("-ac"),       QStringLiteral("2"),        QStringLiteral("-i"),
        QStringLiteral("pipe:0")};
    const auto tag = [&](const char *key, const QString &value) {
        if (!value.isEmpty())
            args << QStringLiteral("-metadata")
                 << QStringLiteral("%1=%2").arg(QLatin1String(key), value);
    };
    tag("title", song.title);
    tag("artist", song.artist);
    tag("album", song.album);
    if (song.track > 0)
        tag("track", QString::number(song.track));
    if (encoding->codec)
        args << QStringLiteral("-c:a") << QLatin1String(encoding->codec);
    if (encoding->lossy && !song.bitrate.isEmpty())
        args << QStringLiteral("-b:a") << song.bitrate;
    args << QStringLiteral("-f") << QLatin1String(encoding->muxer) << partial;

    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), args);
    if (!ffmpeg.waitForStarted())
        return fail(QStringLiteral("ffmpeg did not start"));
    ffmpeg.write(reinterpret_cast<const char *>(pcm.data()), qint64(pcm.size() * sizeof(int16_t)));
    ffmpeg.closeWriteChannel();
    const bool finished = ffmpeg.waitForFinished(kEncodeTimeoutMs);
    if (!finished || ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0) {
        if (!finished)
            ffmpeg.kill();
        ffmpeg.waitForFinished();
        QFile::remove(partial);
        return fail(QStringLiteral("ffmpeg failed: %1")
                        .arg(QString::fromLocal8Bit(ffmpeg.readAllStandardError()).trimmed()));
    }
    QFile::remove(path);
    if (!QFile::rename(partial, path)) {
        QFile::remove(partial);
        return fail(QStringLiteral("cannot rename the encoded file into place"));
    }
    return true;
}

QStringList writeSongs(const QList<Job> &jobs, int parallel,
                       const std::function<void(const Job &, bool ok)> &done) {
    QThreadPool pool;
    pool.setMaxThreadCount(parallel > 0 ? parallel : QThread::idealThreadCount());
    std::mutex lock;
    QStringList errors;
    QtConcurrent::blockingMap(&pool, jobs, [&](const Job &job) {
        QString error;
        const bool ok = writeSong(job.path, job.song, &error);
        if (!ok) {
            std::lock_guard guard(lock);
            errors << error;
        }
        if (done)
            done(job, ok);
    });
    return errors;
}

} // namespace SyncCorpus
