#include "MpdLibrary.h"

#include "MpdDatabaseWatch.h"

#include "settings/DeploymentConfig.h"
#include "settings/Logging.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QThread>

#include <mpd/client.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

QString errorOf(mpd_connection *c) {
    return QString::fromUtf8(mpd_connection_get_error_message(c));
}

QString tagOf(const mpd_song *song, mpd_tag_type type) {
    const char *value = mpd_song_get_tag(song, type, 0);
    const QString text = value ? QString::fromUtf8(value) : QString();
    return text.trimmed().isEmpty() ? QString() : text;
}

// The number a tag starts with: 2011 of "2011-05-01", 3 of "3/12".
std::optional<int> leadingNumber(const QString &text) {
    qsizetype digits = 0;
    while (digits < text.size() && digits < 9 && text.at(digits).isDigit())
        ++digits;
    const int value = text.left(digits).toInt();
    return value > 0 ? std::optional<int>(value) : std::nullopt;
}

LibraryTrack trackOf(const mpd_song *song, const QString &musicFolder) {
    const QString uri = QString::fromUtf8(mpd_song_get_uri(song));
    LibraryTrack track;
    track.location = musicFolder + QLatin1Char('/') + uri;
    track.name = tagOf(song, MPD_TAG_TITLE);
    // As players show an untitled song: by its file name.
    if (track.name.isEmpty())
        track.name = QFileInfo(uri).completeBaseName();
    track.artist = tagOf(song, MPD_TAG_ARTIST);
    track.album = tagOf(song, MPD_TAG_ALBUM);
    track.year = leadingNumber(tagOf(song, MPD_TAG_DATE));
    track.trackNumber = leadingNumber(tagOf(song, MPD_TAG_TRACK));
    if (const time_t modified = mpd_song_get_last_modified(song); modified > 0)
        track.modDate = QDateTime::fromSecsSinceEpoch(modified, Qt::UTC);
    return track;
}

// Whether MPD's running update job `current` comes after `job`. Job ids count
// up to 2^15 and start again at 1; at most a few dozen jobs are ever queued.
bool isLaterJob(unsigned current, unsigned job) {
    const unsigned ids = 1u << 15;
    const unsigned distance = (current + ids - job) % ids;
    return distance != 0 && distance < ids / 2;
}

} // namespace

void MpdLibrary::ConnectionFree::operator()(mpd_connection *c) const {
    mpd_connection_free(c);
}

MpdLibrary::Settings MpdLibrary::fromDeployment(const DeploymentConfig &c) {
    Settings s;
    s.host = c.mpdHost;
    s.port = c.mpdPort;
    s.musicFolder = c.mpdMusicFolderPath();
    s.timeoutMs = c.mpdTimeoutMs;
    return s;
}

MpdLibrary::MpdLibrary(Settings settings)
    : m_settings(std::move(settings)) {}

QString MpdLibrary::musicFolder() const {
    QString folder = m_settings.musicFolder;
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

MpdLibrary::Connection MpdLibrary::connect() const {
    const QByteArray host = m_settings.host.toUtf8();
    Connection c(mpd_connection_new(host.isEmpty() ? nullptr : host.constData(), m_settings.port,
                                    unsigned(qMax(1, m_settings.timeoutMs))));
    if (!c) {
        qCWarning(lcSync) << "MPD could not be reached: out of memory";
        return {};
    }
    if (mpd_connection_get_error(c.get()) != MPD_ERROR_SUCCESS) {
        qCWarning(lcSync).noquote() << QStringLiteral("MPD at %1:%2 could not be reached: %3")
                                           .arg(m_settings.host)
                                           .arg(m_settings.port)
                                           .arg(errorOf(c.get()));
        return {};
    }
    return c;
}

std::optional<QList<LibraryTrack>> MpdLibrary::tracks() {
    const QString folder = musicFolder();
    if (folder.isEmpty()) {
        qCWarning(lcSync) << "MPD: no music folder is configured, so its songs cannot be found";
        return std::nullopt;
    }
    const Connection c = connect();
    if (!c)
        return std::nullopt;

    // Folder by folder: one answer for the whole database can outgrow MPD's
    // output buffer on a large collection.
    QList<LibraryTrack> tracks;
    QStringList folders{QString()};
    for (qsizetype next = 0; next < folders.size(); ++next) {
        if (!mpd_send_list_meta(c.get(), folders.at(next).toUtf8().constData()))
            break;
        while (mpd_entity *entity = mpd_recv_entity(c.get())) {
            if (mpd_entity_get_type(entity) == MPD_ENTITY_TYPE_DIRECTORY)
                folders.append(
                    QString::fromUtf8(mpd_directory_get_path(mpd_entity_get_directory(entity))));
            else if (mpd_entity_get_type(entity) == MPD_ENTITY_TYPE_SONG)
                tracks.append(trackOf(mpd_entity_get_song(entity), folder));
            mpd_entity_free(entity);
        }
        if (mpd_connection_get_error(c.get()) != MPD_ERROR_SUCCESS || !mpd_response_finish(c.get()))
            break;
    }
    if (mpd_connection_get_error(c.get()) != MPD_ERROR_SUCCESS) {
        qCWarning(lcSync).noquote()
            << QStringLiteral("MPD: listing the library failed: %1").arg(errorOf(c.get()));
        return std::nullopt;
    }
    return tracks;
}

std::optional<QString> MpdLibrary::addSong(const QString &path) {
    const QString folder = musicFolder();
    if (folder.isEmpty()) {
        qCWarning(lcSync) << "MPD: no music folder is configured, so no song can be added";
        return std::nullopt;
    }
    const Connection c = connect();
    if (!c)
        return std::nullopt;
    const std::optional<QString> uri = copyIntoLibrary(path);
    if (!uri)
        return std::nullopt;
    const QString location = folder + QLatin1Char('/') + *uri;

    if (updateAndWait(c.get(), *uri) && knowsSong(c.get(), *uri)) {
        if (mpd_run_playlist_add(c.get(), playlistName().toUtf8().constData(),
                                 uri->toUtf8().constData()))
            return location;
        qCWarning(lcSync).noquote()
            << QStringLiteral("MPD: adding %1 to the playlist \"%2\" failed: %3")
                   .arg(*uri, playlistName(), errorOf(c.get()));
    }
    QFile::remove(location);
    // MPD may already list the song; have it forget the file again.
    if (mpd_connection_get_error(c.get()) == MPD_ERROR_SERVER)
        mpd_connection_clear_error(c.get());
    if (mpd_connection_get_error(c.get()) == MPD_ERROR_SUCCESS)
        mpd_run_update(c.get(), uri->toUtf8().constData());
    qCWarning(lcSync).noquote()
        << QStringLiteral("MPD: %1 could not be added to the library").arg(path);
    return std::nullopt;
}

std::optional<QString> MpdLibrary::copyIntoLibrary(const QString &path) const {
    const QDir target(musicFolder() + QLatin1Char('/') + songFolderName());
    const auto fail = [&](const QString &why) {
        qCWarning(lcSync).noquote() << QStringLiteral("MPD: %1 could not be copied into %2: %3")
                                           .arg(path, target.path(), why);
        return std::nullopt;
    };
    if (!target.mkpath(QStringLiteral(".")))
        return fail(QStringLiteral("the folder cannot be made"));

    QFile source(path);
    if (!source.open(QIODevice::ReadOnly))
        return fail(source.errorString());
    // A hidden name while copying: MPD skips hidden files, so it never sees a
    // half-copied song, and a crash leaves no song-like leftover.
    QTemporaryFile copy(target.filePath(QStringLiteral(".sonarbox-XXXXXX")));
    if (!copy.open())
        return fail(copy.errorString());
    QByteArray chunk;
    while (!(chunk = source.read(1 << 20)).isEmpty()) {
        if (copy.write(chunk) != chunk.size())
            return fail(copy.errorString());
    }
    if (source.error() != QFileDevice::NoError)
        return fail(source.errorString());
    if (!copy.flush() || ::fsync(copy.handle()) != 0)
        return fail(copy.errorString());
    // MPD may run as a user of its own.
    copy.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                        QFileDevice::ReadOther);

    const QFileInfo info(path);
    QString base = info.completeBaseName();
    while (base.startsWith(QLatin1Char('.')))
        base.remove(0, 1);
    if (base.isEmpty())
        base = QStringLiteral("song");
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    const QByteArray temporary = QFile::encodeName(copy.fileName());

    for (int n = 1; n < 10000; ++n) {
        const QString name =
            n == 1 ? base + suffix : QStringLiteral("%1 (%2)%3").arg(base).arg(n).arg(suffix);
        const QByteArray destination = QFile::encodeName(target.filePath(name));
        // Never replaces a file: an existing name only moves on to the next.
        if (::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, destination.constData(),
                        RENAME_NOREPLACE) == 0) {
            copy.setAutoRemove(false);
            return songFolderName() + QLatin1Char('/') + name;
        }
        if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
            // A file system without no-replace renames: a hard link never
            // replaces either, and the temporary name goes with the copy.
            if (::link(temporary.constData(), destination.constData()) == 0)
                return songFolderName() + QLatin1Char('/') + name;
        }
        if (errno != EEXIST)
            return fail(QString::fromLocal8Bit(std::strerror(errno)));
    }
    return fail(QStringLiteral("no free name"));
}

bool MpdLibrary::updateAndWait(mpd_connection *c, const QString &uri) const {
    const unsigned job = mpd_run_update(c, uri.toUtf8().constData());
    if (job == 0) {
        qCWarning(lcSync).noquote()
            << QStringLiteral("MPD: the update of %1 failed: %2").arg(uri, errorOf(c));
        return false;
    }
    // Polled rather than idled on: a job that ends before the idle command
    // arrives would leave the idle waiting for the next change.
    const QDeadlineTimer deadline(m_settings.timeoutMs);
    for (int pause = 1;; pause = qMin(pause * 2, 50)) {
        mpd_status *status = mpd_run_status(c);
        if (!status) {
            qCWarning(lcSync).noquote()
                << QStringLiteral("MPD: the update of %1 failed: %2").arg(uri, errorOf(c));
            return false;
        }
        const unsigned current = mpd_status_get_update_id(status);
        mpd_status_free(status);
        if (current == 0 || isLaterJob(current, job))
            return true;
        if (deadline.hasExpired()) {
            qCWarning(lcSync).noquote()
                << QStringLiteral("MPD: the update of %1 did not finish in time").arg(uri);
            return false;
        }
        QThread::msleep(pause);
    }
}

bool MpdLibrary::knowsSong(mpd_connection *c, const QString &uri) const {
    const QByteArray wanted = uri.toUtf8();
    bool known = false;
    if (mpd_send_list_meta(c, wanted.constData())) {
        while (mpd_entity *entity = mpd_recv_entity(c)) {
            if (mpd_entity_get_type(entity) == MPD_ENTITY_TYPE_SONG &&
                wanted == mpd_song_get_uri(mpd_entity_get_song(entity)))
                known = true;
            mpd_entity_free(entity);
        }
        mpd_response_finish(c);
    }
    if (!known)
        qCWarning(lcSync).noquote()
            << QStringLiteral("MPD does not know %1 after its update: %2")
                   .arg(uri, mpd_connection_get_error(c) == MPD_ERROR_SUCCESS
                                 ? QStringLiteral("not a song it can play")
                                 : errorOf(c));
    return known;
}

std::unique_ptr<LibraryWatch> MpdLibrary::watchChanges(std::function<void()> changed) {
    return std::make_unique<MpdDatabaseWatch>(m_settings, std::move(changed));
}
