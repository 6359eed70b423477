#include "DownloadSongsFromCloud.h"

#include "DownloadTarget.h"
#include "MainThreadCall.h"
#include "SyncState.h"
#include "TransferPace.h"
#include "TransferSupport.h"
#include "service/LibraryListing.h"
#include "service/RequestGate.h"
#include "service/SecretMasking.h"
#include "service/TransferRequests.h"
#include "settings/Logging.h"
#include "settings/Utility.h"
#include "store/GenericDAO.h"
#include "store/StoreSetup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrlQuery>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace {

constexpr int kTimeoutMs = 60 * 1000;
constexpr int kMaximumRedirects = 10;
// Room for " (n)" and the file system's 255-byte limit.
constexpr qsizetype kMaximumNameBytes = 240;

QString nameOf(const Audio &song) {
    return song.name.value_or(QString());
}

bool isKnown(const std::optional<QString> &part) {
    return part && !part->isEmpty() && *part != QLatin1String("Unknown");
}

bool acceptedStatus(int status) {
    return status == 200 || status == 204;
}

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool sameOrigin(const QUrl &a, const QUrl &b) {
    return a.scheme() == b.scheme() && a.host() == b.host() &&
           a.port(a.scheme() == QLatin1String("https") ? 443 : 80) ==
               b.port(b.scheme() == QLatin1String("https") ? 443 : 80);
}

// The address without the credentials it may carry: the session of the
// gateway's address, and whatever a delivery address signs itself with (its
// query is a short-lived key to the file).
QString urlForLog(const QUrl &url) {
    QUrl shown = url.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveFragment);
    QUrlQuery query(url);
    if (query.hasQueryItem(QStringLiteral("jsessionId"))) {
        const QString session = query.queryItemValue(QStringLiteral("jsessionId"));
        QUrlQuery masked;
        masked.addQueryItem(QStringLiteral("jsessionId"), SecretMasking::masked(session));
        shown.setQuery(masked);
    } else if (url.hasQuery()) {
        shown.setQuery(QStringLiteral("(hidden)"));
    }
    return shown.toString();
}

// What a downloaded song records (album, artist and fingerprint ID stay as the
// cloud gave them); a song still owed to the music library keeps synced 0.
void markDownloaded(Audio &song) {
    song.downloaded = 1;
    song.downloadable = true;
    song.partiallyDownloaded = 0;
    if (!song.synced)
        song.synced = 1;
    song.encrypted = false;
    song.retries = 0;
}

// A downloaded song still owed to the music player's library: its file waits
// in the download folder.
bool handOffOwed(const Audio &song) {
    return song.downloaded == 1 && song.synced == 0;
}

// Moves songs that were listed but not downloaded back into the next
// listing: the listing only names changes since its last position, so the
// run's goes back to where it started.
void listAgain(SyncRun &run) {
    if (run.startListingPosition() < run.listingPosition()) {
        run.setListingPosition(run.startListingPosition());
        qCInfo(lcSync) << "Download: songs not downloaded are listed again by the next sync";
    }
}

} // namespace

DownloadSongsFromCloud::DownloadSongsFromCloud(SyncState &state, iTunesModifier *handOff,
                                               QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_handOff(handOff)
    , m_network(new QNetworkAccessManager(this))
    , m_pace(new TransferPace(TransferPace::Direction::Download, this)) {}

DownloadSongsFromCloud::~DownloadSongsFromCloud() {
    forgetRun();
    // The hand-off works on the music library, which outlives this object
    // only until the engine goes.
    m_handOffFuture.waitForFinished();
}

QString DownloadSongsFromCloud::fileNameFor(const Audio &song) {
    QString title = song.songName.value_or(QString());
    if (title.isEmpty())
        title = QFileInfo(nameOf(song)).completeBaseName();
    if (title.isEmpty())
        title = QStringLiteral("Unknown-%1").arg(song.userMediaID.value_or(QString()));
    const QString extension = song.fileExtension.value_or(QString());
    QString prefix;
    if (isKnown(song.artist))
        prefix += *song.artist + QStringLiteral(" - ");
    if (isKnown(song.album))
        prefix += *song.album + QStringLiteral(" - ");
    const QString suffix = extension.isEmpty() ? QString() : QLatin1Char('.') + extension;

    // The parts come from the service: a "/" must not lead out of the folder,
    // and a leading "." would hide the song (or look like an unfinished
    // download of ours).
    const auto safe = [](QString text) {
        text.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QChar(0), QLatin1Char('_'));
        return text;
    };
    QString name = safe(prefix + title);
    const QString tail = safe(suffix);
    while (!name.isEmpty() && (name + tail).toUtf8().size() > kMaximumNameBytes)
        name.chop(name.size() > 1 && name.back().isLowSurrogate() ? 2 : 1);
    name += tail;
    if (name.startsWith(QLatin1Char('.')))
        name[0] = QLatin1Char('_');
    return name;
}

void DownloadSongsFromCloud::syncCloudMediaWithLocal(const SyncRunPtr &run,
                                                     const std::function<void()> &completion) {
    qCInfo(lcSync) << "[syncCloudMediaWithLocal:] @class:DownloadSongsFromCloud";
    if (m_state.stopRequested(*run)) {
        m_state.applicationWasStopped();
        return;
    }
    // A restarted sync: the earlier run gives way before the listing, so that
    // its songs are listed again.
    callOnThreadOf(this, [&] { abandonEarlierRun(run->downloadFolder()); });

    // Without the listing there is nothing to download against: the sync
    // stops and says why (on the progress page, in the status and in the
    // headless program's output).
    QString whyNot;
    if (!fetchListing(*run, &whyNot)) {
        if (!run->isStopped())
            m_state.stopSyncBecause(whyNot);
        return;
    }
    // Read once for the whole listing: it is a preference on disk.
    const bool toMusicPlayer = m_state.userPickedMediaLibrary() == LibraryChoice::MusicPlayer;
    if (toMusicPlayer)
        handOffOwedSongs(*run);
    const QList<AudioPtr> cloud = run->cloudLibraryTracks();
    if (cloud.isEmpty()) {
        qCInfo(lcSync) << "No tracks to download";
        completion();
        return;
    }

    // The store's identifiers and checksums, read once: a listing of a
    // whole library is matched in memory.
    GenericDAO &dao = m_state.store();
    GenericDAO::TrackIndex stored = dao.storedTrackIndex();
    QList<AudioPtr> songs;
    for (const AudioPtr &song : cloud) {
        if (m_state.stopRequested(*run)) {
            m_state.applicationWasStopped();
            listAgain(*run);
            return;
        }
        if (!song || song->markedForDeletion == true)
            continue;
        const QString mediaID = song->userMediaID.value_or(QString());
        const QString line = QStringLiteral("%1 | %2 | %3")
                                 .arg(nameOf(*song), mediaID, song->songName.value_or(QString()));
        if (stored.userMediaIDs.contains(mediaID)) {
            if (song->downloadable == true)
                qCInfo(lcSync).noquote() << QStringLiteral("Match | ") + line;
            continue;
        }
        if (adopt(*song, stored, *run)) {
            qCInfo(lcSync).noquote() << QStringLiteral("Adopted | ") + line;
            continue;
        }
        if (song->downloadable != true)
            continue;
        if (!toMusicPlayer && adoptDownloaded(song, *run)) {
            qCInfo(lcSync).noquote() << QStringLiteral("Already downloaded | ") + line;
            stored.userMediaIDs.insert(mediaID);
            continue;
        }
        qCInfo(lcSync).noquote() << QStringLiteral("No Match | ") + line;
        songs << song;
    }
    qCInfo(lcSync).noquote() << QStringLiteral("Songs to Download: %1").arg(songs.size());

    const StageOperationPtr operation = m_state.operation_downloadFilesFromCloud();
    if (songs.isEmpty() || (operation && operation->isCancelled())) {
        if (!songs.isEmpty())
            listAgain(*run);
        completion();
        return;
    }
    callOnThreadOf(this, [&] { beginRun(run, songs, completion); });
}

bool DownloadSongsFromCloud::fetchListing(SyncRun &run, QString *whyNot) {
    const LibraryListing::Result fetched =
        LibraryListing::fetch(m_state.serviceClient(), run.context(), run.listingPosition());
    if (fetched.status)
        m_state.setReplyStatus(*fetched.status);
    if (!fetched.listing) {
        if (whyNot)
            *whyNot = fetched.whyNot;
        if (fetched.refused)
            m_state.stopSyncBecause(fetched.whyNot);
        return false;
    }
    run.setListingPosition(fetched.listing->milliseconds);
    run.setCloudLibraryTracks(fetched.listing->tracks);
    return true;
}

bool DownloadSongsFromCloud::adopt(const Audio &song, GenericDAO::TrackIndex &stored,
                                   const SyncRun &run) {
    // A listed song whose content a stored track has is that track: the
    // answer to its upload or its catalogue request was lost (the program was
    // killed, the connection dropped), or the store was made anew over the
    // same music. Downloading it would bring the person's own file back as a
    // copy, and uploading it would send it twice.
    const QString checksum = song.checksum.value_or(QString());
    const auto it = stored.byChecksum.constFind(checksum);
    if (checksum.isEmpty() || it == stored.byChecksum.constEnd() || run.isStopped())
        return false;
    GenericDAO &dao = m_state.store();
    const AudioPtr track = dao.getByObjectID(*it);
    if (!track)
        return false;
    track->userMediaID = song.userMediaID;
    track->downloadable = true;
    track->synced = 1;
    dao.save(track);
    stored.userMediaIDs.insert(song.userMediaID.value_or(QString()));
    return true;
}

bool DownloadSongsFromCloud::adoptDownloaded(const AudioPtr &song, const SyncRun &run) {
    // A store made anew (a reinstall) over a download folder that already
    // holds the song under its name: that file is the song, not a reason to
    // fetch a second copy beside it.
    const QString checksum = song->checksum.value_or(QString());
    if (checksum.isEmpty() || run.isStopped())
        return false;
    const QString path = QDir(run.downloadFolder()).filePath(fileNameFor(*song));
    if (!QFileInfo(path).isFile() || Utility::getMD5FromFile(path) != checksum)
        return false;
    song->fileURL = path;
    markDownloaded(*song);
    if (m_state.store().addTrackToDB(song, true))
        m_state.addDuplicateLibraryTrack(song);
    return true;
}

void DownloadSongsFromCloud::handOffOwedSongs(const SyncRun &run) {
    // Songs downloaded while the music player's library could not take them
    // wait in the download folder; they are handed over first.
    const std::lock_guard<std::mutex> oneAtATime(*m_handOffLock);
    GenericDAO &dao = m_state.store();
    for (const AudioPtr &song : dao.tracksByDownloadable(true)) {
        if (run.isStopped() || !handOffOwed(*song))
            continue;
        const QString path = song->fileURL.value_or(QString());
        if (!QFileInfo::exists(path)) {
            // Gone from the folder: downloaded again by this sync.
            qCWarning(lcSync).noquote()
                << QStringLiteral("Download: %1 | its file is gone; downloading it again")
                       .arg(path);
            dao.delete_(song);
            continue;
        }
        if (!handOffAndRecord(song)) {
            qCWarning(lcSync).noquote()
                << QStringLiteral("Download: %1 | the music library still cannot take it; it stays "
                                  "in the download folder")
                       .arg(path);
            // One refusal says the library is still away: the rest waits too.
            return;
        }
    }
}

std::optional<QString> DownloadSongsFromCloud::handOffAndRecord(const AudioPtr &song) {
    const QString path = song->fileURL.value_or(QString());
    const std::optional<QString> location =
        m_handOff ? m_handOff->addSongsToItunes(path) : std::optional<QString>();
    if (!location)
        return std::nullopt;
    song->fileURL = Utility::normalizeFilePath(*location);
    song->synced = 1;
    if (song->isStored())
        m_state.store().save(song);
    // The library keeps its own copy.
    if (*song->fileURL != path)
        QFile::remove(path);
    qCInfo(lcSync).noquote() << QStringLiteral("Download: %1 | handed to the music library: %2")
                                    .arg(nameOf(*song), *song->fileURL);
    return song->fileURL;
}

void DownloadSongsFromCloud::abandonEarlierRun(const QString &folder) {
    if (m_running) {
        qCInfo(lcSync) << "=== Download Process RESTARTED: the earlier run is abandoned";
        listAgain(*m_run);
        forgetRun();
    }
    // Left behind by a process that was killed while downloading.
    if (const int removed = DownloadTarget::removeStale(folder)) {
        qCInfo(lcSync).noquote() << QStringLiteral("Removed %1 unfinished download(s) from %2")
                                        .arg(QString::number(removed), folder);
    }
}

void DownloadSongsFromCloud::beginRun(const SyncRunPtr &run, QList<AudioPtr> songs,
                                      std::function<void()> completion) {
    if (m_running)
        abandonEarlierRun(run->downloadFolder());
    ++m_runId;
    m_run = run;
    // A stop (a log-out above all) ends the download in flight at once.
    m_stopConnection = QObject::connect(run.get(), &SyncRun::stopped, this, [this, id = m_runId] {
        if (id != m_runId || !m_running)
            return;
        qCInfo(lcSync) << "=== Download Process STOPPED";
        m_state.applicationWasStopped();
        listAgain(*m_run);
        forgetRun();
    });
    m_songsToDownload = std::move(songs);
    m_mediaToDownloadIndex = 0;
    m_dlCompletionBlock = std::move(completion);
    m_running = true;
    m_anyFailed = false;
    // The music player's library takes the song from the download folder,
    // so that a song it could not take stays there, in a place the person
    // knows, until it can.
    m_folder = run->downloadFolder();
    startDownloadProcess();
}

void DownloadSongsFromCloud::startDownloadProcess() {
    if (!m_running || m_songsToDownload.isEmpty())
        return;
    qCInfo(lcSync) << "=== Download Process STARTED";
    m_state.syncProgress().beginStage(SyncProgress::Stage::Downloading, m_songsToDownload.size());
    m_mediaToDownloadIndex = 0;
    connect(m_songsToDownload.first());
}

void DownloadSongsFromCloud::downloadNextMedia() {
    if (!m_running)
        return;
    ++m_mediaToDownloadIndex;
    if (m_state.stopRequested(*m_run)) {
        m_state.applicationWasStopped();
        listAgain(*m_run);
        forgetRun();
        return;
    }
    if (m_mediaToDownloadIndex >= m_songsToDownload.size()) {
        m_state.progressPage().setDescription(QStringLiteral("Download Finished"));
        qCInfo(lcSync) << "=== Download Process ENDED";
        if (!m_songsToDownload.isEmpty())
            m_state.notifyUser(QStringLiteral("Download Complete"),
                               QStringLiteral("Files from Sonarbox have been downloaded."));
        endRun();
        return;
    }
    connect(m_songsToDownload.at(m_mediaToDownloadIndex));
}

void DownloadSongsFromCloud::connect(const AudioPtr &song) {
    if (m_state.isAppOffline) {
        stopOffline();
        return;
    }
    qCInfo(lcSync).noquote() << QStringLiteral("Download: %1 | connect").arg(nameOf(*song));
    m_mediaToDownload = song;
    m_state.syncProgress().setCurrentItem(nameOf(*song), song->artist.value_or(QString()),
                                          song->songName.value_or(QString()));
    if (!RequestGate::allows(m_run->context(), QStringLiteral("download"))) {
        finishSong(false, QStringLiteral("not sent: a dry run changes nothing"), true);
        return;
    }

    m_target = std::make_unique<DownloadTarget>(m_folder);
    QString error;
    if (!m_target->open(&error)) {
        qCWarning(lcSync) << "Inform the user that the connection failed.";
        qCWarning(lcSync).noquote()
            << QStringLiteral("Failed to Download: %1 Due to failed connection (%2)")
                   .arg(nameOf(*song), error);
        m_target.reset();
        finishSong(false, error, true);
        return;
    }

    m_gateway = TransferRequests::downloadAddress(m_state.serviceClient(), m_run->context(),
                                                  song->userMediaID.value_or(QString()));
    m_redirects = 0;
    request(m_gateway, true);
}

void DownloadSongsFromCloud::request(const QUrl &url, bool withCredentials) {
    TransferRequests::Credentials sent = TransferRequests::Credentials::None;
    const QNetworkRequest request = TransferRequests::download(
        m_state.serviceClient(), url, m_run->context(), withCredentials, kTimeoutMs, &sent);
    const QString name = nameOf(*m_mediaToDownload);
    if (sent == TransferRequests::Credentials::Password) {
        qCInfo(lcSync).noquote() << QStringLiteral("Download: %1 | USERNAME: %2 | PASSWORD: %3")
                                        .arg(name, QString::fromUtf8(request.rawHeader("USERNAME")),
                                             SecretMasking::masked(
                                                 QString::fromUtf8(request.rawHeader("PASSWORD"))));
    } else if (sent == TransferRequests::Credentials::FacebookToken) {
        qCInfo(lcSync).noquote() << QStringLiteral("Download: %1 | FACEBOOK_TOKEN: %2")
                                        .arg(name, SecretMasking::masked(QString::fromUtf8(
                                                       request.rawHeader("FACEBOOK_TOKEN"))));
    }
    QNetworkReply *reply = m_network->get(request);
    m_pace->bound(reply);
    m_reply = reply;
    m_expectedLength = -1;
    m_bytesReceived = 0;
    QObject::connect(reply, &QNetworkReply::metaDataChanged, this,
                     [this, reply] { onResponse(reply); });
    QObject::connect(reply, &QNetworkReply::readyRead, this, [this, reply] { onData(reply); });
    QObject::connect(reply, &QNetworkReply::finished, this, [this, reply] { onFinished(reply); });
    // Bytes the download limit held back, and the end that waited for them.
    m_pace->setWake(reply, [this, reply] {
        if (reply->isFinished())
            onFinished(reply);
        else
            onData(reply);
    });
}

void DownloadSongsFromCloud::onResponse(QNetworkReply *reply) {
    if (reply != m_reply)
        return;
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!statusAttribute.isValid())
        return;
    const int status = statusAttribute.toInt();
    const QString name = nameOf(*m_mediaToDownload);

    if (isRedirect(status)) {
        const QUrl next = reply->url().resolved(
            reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl());
        dropReply();
        const bool downgrade =
            m_gateway.scheme() == QLatin1String("https") && next.scheme() != QLatin1String("https");
        if (++m_redirects > kMaximumRedirects || !next.isValid() || downgrade ||
            (next.scheme() != QLatin1String("http") && next.scheme() != QLatin1String("https"))) {
            failSong(QStringLiteral("Download: %1 | Download failed! Error - %2 %3")
                         .arg(name, QStringLiteral("refused redirect"), urlForLog(next)),
                     QStringLiteral("refused redirect"));
            return;
        }
        // The account's credentials are for the service, not for whoever
        // delivers the file.
        request(next, sameOrigin(next, m_gateway));
        return;
    }

    m_bytesReceived = 0;
    qCInfo(lcSync).noquote() << QStringLiteral("Download: %1 | didReceiveResponse %2")
                                    .arg(name, QString::number(status));
    if (!acceptedStatus(status)) {
        // Cancelled, so that no finish of this reply follows.
        dropReply();
        failSong(QStringLiteral("Download %1 | Error on downloading media response code: %2")
                     .arg(name, QString::number(status)),
                 TransferSupport::refusalReason(status));
        return;
    }
    qCInfo(lcSync).noquote() << QStringLiteral("Download: %1 | Started").arg(name);
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    m_expectedLength = length.isValid() ? length.toLongLong() : -1;
}

void DownloadSongsFromCloud::onData(QNetworkReply *reply) {
    if (reply != m_reply || !m_target)
        return;
    const QByteArray bytes = m_pace->read(reply);
    QString error;
    if (!m_target->write(bytes, &error)) {
        dropReply();
        failSong(QStringLiteral("Download: %1 | Download failed! Error - %2 %3")
                     .arg(nameOf(*m_mediaToDownload), error,
                          m_target ? m_target->temporaryPath() : QString()),
                 error);
        return;
    }
    m_bytesReceived += bytes.size();
    m_state.syncProgress().addBytes(bytes.size());
    if (m_expectedLength < 0) {
        qCInfo(lcSync).noquote() << QStringLiteral("Bytes received - %1").arg(m_bytesReceived);
        return;
    }
    m_state.progressPage().setDescription(QStringLiteral("Downloading..."));
}

void DownloadSongsFromCloud::onFinished(QNetworkReply *reply) {
    if (reply != m_reply)
        return;
    onData(reply); // whatever arrived with the end
    if (reply != m_reply)
        return;
    if (reply->bytesAvailable() > 0)
        return; // held back by the download limit: a wake reads on and ends it
    m_reply = nullptr;
    reply->deleteLater();
    const AudioPtr song = m_mediaToDownload;
    const QString name = nameOf(*song);
    const auto failed = [&](const QString &why) {
        failSong(QStringLiteral("Download: %1 | Download failed! Error - %2 %3")
                     .arg(name, why, urlForLog(reply->url())),
                 why);
    };
    if (reply->error() != QNetworkReply::NoError) {
        // The network layer's text may quote the address, signature and all.
        QString why = reply->errorString();
        why.replace(reply->url().toString(), urlForLog(reply->url()));
        why.replace(reply->url().toString(QUrl::FullyEncoded), urlForLog(reply->url()));
        return failed(why);
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (!acceptedStatus(status))
        return failed(TransferSupport::refusalReason(status));
    // The network layer asks again by itself when a connection closes early,
    // and the repeated body then follows the bytes already delivered: only
    // the count tells such a file from a whole one.
    if (m_expectedLength >= 0 && m_bytesReceived != m_expectedLength)
        return failed(
            QStringLiteral("received %1 of %2 bytes")
                .arg(QString::number(m_bytesReceived), QString::number(m_expectedLength)));
    if (m_bytesReceived == 0)
        return failed(QStringLiteral("the service sent no content"));

    QString error;
    const std::optional<QString> path = m_target->commit(fileNameFor(*song), &error);
    m_target.reset();
    if (!path)
        return failed(error);
    qCInfo(lcSync).noquote()
        << QStringLiteral("Download: %1 | Final file destination: %2").arg(name, *path);
    song->fileURL = *path;
    qCInfo(lcSync).noquote() << QStringLiteral("Download: %1 | Song downloaded").arg(name);
    if (m_state.userPickedMediaLibrary() == LibraryChoice::MusicPlayer) {
        // Recorded before the hand-off, as owed to the library: a hand-off
        // that fails, or a program killed during it, leaves a song that the
        // next sync hands over, not one downloaded again or lost.
        song->synced = 0;
        store(song, false);
        handOff(song);
    } else {
        store(song);
    }
}

void DownloadSongsFromCloud::handOff(const AudioPtr &song) {
    // The music library may take seconds to answer: it works on the pool
    // while the interface goes on, and the run continues here afterwards.
    // The pool records a copy of the song, so that the run's own record is
    // only ever touched on this thread.
    const QString path = song->fileURL.value_or(QString());
    const auto handed = std::make_shared<Audio>(*song);
    auto *watcher = new QFutureWatcher<std::optional<QString>>(this);
    QObject::connect(watcher, &QFutureWatcherBase::finished, this,
                     [this, watcher, song, path, run = m_runId] {
                         watcher->deleteLater();
                         const std::optional<QString> location = watcher->result();
                         if (run != m_runId) {
                             // Recorded all the same: the next sync finds it
                             // in the library, not owed to it.
                             qCInfo(lcSync).noquote()
                                 << QStringLiteral("Download: %1 | handed off after its run ended")
                                        .arg(nameOf(*song));
                             return;
                         }
                         if (!location) {
                             qCWarning(lcSync).noquote()
                                 << QStringLiteral("Download: %1 | the music library could not "
                                                   "take it; it stays in %2 until the next sync")
                                        .arg(nameOf(*song), path);
                             finishSong(false, QStringLiteral("the music library could not be "
                                                              "reached; kept in the download "
                                                              "folder"));
                             return;
                         }
                         song->fileURL = location;
                         song->synced = 1;
                         finishSong(true, QString());
                     });
    m_handOffFuture = QtConcurrent::run([this, handed, lock = m_handOffLock] {
        const std::lock_guard<std::mutex> oneAtATime(*lock);
        return handOffAndRecord(handed);
    });
    watcher->setFuture(m_handOffFuture);
}

void DownloadSongsFromCloud::store(const AudioPtr &song, bool finish) {
    markDownloaded(*song);
    // A file whose content a stored track has (the same song under two
    // media IDs) is a duplicate: it stays where it is, but is not recorded.
    if (m_state.store().addTrackToDB(song, true)) {
        m_state.addDuplicateLibraryTrack(song);
    } else if (song->synced == 0) {
        // The hand-off below updates the stored record, found by media ID.
        const AudioPtr stored = m_state.store().getById(
            QStringLiteral("audioByUserMediaID"), song->userMediaID.value_or(QString()),
            QStringLiteral("userMediaID"), m_state.store().setup().managedObjectContext());
        if (stored)
            song->objectID = stored->objectID;
    }
    qCInfo(lcSync) << "=========";
    if (finish)
        finishSong(true, QString());
}

void DownloadSongsFromCloud::failSong(const QString &logLine, const QString &reason) {
    qCWarning(lcSync).noquote() << logLine;
    m_target.reset();
    finishSong(false, reason);
}

void DownloadSongsFromCloud::finishSong(bool succeeded, const QString &reason, bool deferred) {
    if (!succeeded)
        m_anyFailed = true;
    TransferSupport::finishItem(
        m_state, this, nameOf(*m_mediaToDownload), succeeded, reason, deferred,
        [this, run = m_runId] { return run == m_runId; }, [this] { downloadNextMedia(); });
}

void DownloadSongsFromCloud::stopOffline() {
    listAgain(*m_run);
    forgetRun();
    TransferSupport::stopSyncOffline(m_state);
}

void DownloadSongsFromCloud::endRun() {
    if (m_anyFailed)
        listAgain(*m_run);
    std::function<void()> completion = std::move(m_dlCompletionBlock);
    forgetRun();
    if (completion)
        completion();
}

void DownloadSongsFromCloud::forgetRun() {
    QObject::disconnect(m_stopConnection);
    m_run.reset();
    dropReply();
    m_target.reset();
    m_running = false;
    m_dlCompletionBlock = {};
    ++m_runId;
}

void DownloadSongsFromCloud::dropReply() {
    TransferSupport::abandon(m_reply, this);
}
