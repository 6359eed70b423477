#pragma once

#include "SyncRun.h"
#include "iTunesModifier.h"
#include "store/Audio.h"
#include "store/GenericDAO.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>
#include <mutex>

class DownloadTarget;
class SyncState;
class QNetworkAccessManager;
class QNetworkReply;
class TransferPace;

// The third stage of a sync: fetches the cloud library's changes, downloads
// each downloadable cloud song that no stored track carries, hands it to the
// music player's library when that is where the collection lives, and stores
// a record for it. The run starts on the stage queue; the downloads run on
// the main thread (this object lives there).
//
// A song's bytes go to a temporary file beside its destination and take the
// song's name (the first free one) only once complete. Every song advances
// the run exactly once, and a song that failed is listed again by the next
// sync, which tries it again.
class DownloadSongsFromCloud : public QObject {
    Q_OBJECT
public:
    DownloadSongsFromCloud(SyncState &state, iTunesModifier *handOff, QObject *parent = nullptr);
    ~DownloadSongsFromCloud() override;

    // Starts the stage for `run`: its account's listing and credentials, its
    // download folder; its stop ends the download in flight. `completion` is
    // called once when every song has been tried (not after a stop or a
    // failed listing); the run's listing position then says where the next
    // listing starts.
    void syncCloudMediaWithLocal(const SyncRunPtr &run, const std::function<void()> &completion);

    // Main thread only: downloads the first song, moves to the next one or
    // ends the run, and starts the download of one song.
    void startDownloadProcess();
    void downloadNextMedia();
    void connect(const AudioPtr &song);

    // Fetches the changes of the run's cloud library since the run's listing
    // position into the run's cloud tracks, and moves the run's position on.
    // A listing the service refuses stops the running sync. On failure
    // `whyNot` (when given) gets the reason in words for the person. Blocks
    // for one exchange: never call it on the main thread.
    bool fetchListing(SyncRun &run, QString *whyNot = nullptr);

    // The songs of the current (or last) run.
    QList<AudioPtr> songsToDownload() const { return m_songsToDownload; }

    // "artist - album - song.ext", leaving out the parts that are "Unknown";
    // made safe as one file name.
    static QString fileNameFor(const Audio &song);

private:
    void beginRun(const SyncRunPtr &run, QList<AudioPtr> songs, std::function<void()> completion);
    // A listed song that a stored track is already (same checksum): the
    // track takes the song's media ID. Answers whether it did.
    bool adopt(const Audio &song, GenericDAO::TrackIndex &stored, const SyncRun &run);
    // A song whose file is in the download folder already, under its name
    // and with its checksum, is recorded as downloaded (not when songs go to the
    // music player, which takes them instead). Answers whether it was.
    bool adoptDownloaded(const AudioPtr &song, const SyncRun &run);
    void handOffOwedSongs(const SyncRun &run);
    // Hands the song's file to the music library and records where it went,
    // whether or not its run is still going: the library holds it now, and a
    // record still saying "owed" would have the next sync add it again.
    // Answers the location.
    std::optional<QString> handOffAndRecord(const AudioPtr &song);
    // `folder`: the download folder of the run that replaces it, cleared of
    // what a killed process left.
    void abandonEarlierRun(const QString &folder);
    void endRun();
    void forgetRun();
    void dropReply();
    void stopOffline();
    void request(const QUrl &url, bool withCredentials);
    // Ends the current song (one progress item) and moves on.
    void finishSong(bool succeeded, const QString &reason, bool deferred = false);
    void failSong(const QString &logLine, const QString &reason);

    void onResponse(QNetworkReply *reply);
    void onData(QNetworkReply *reply);
    void onFinished(QNetworkReply *reply);
    void handOff(const AudioPtr &song);
    // Records the downloaded song; `finish`: the song's item ends here.
    void store(const AudioPtr &song, bool finish = true);

    SyncState &m_state;
    iTunesModifier *m_handOff;
    QNetworkAccessManager *m_network;
    TransferPace *m_pace; // the download limit, over all the downloads
    QList<AudioPtr> m_songsToDownload;
    int m_mediaToDownloadIndex = 0;
    AudioPtr m_mediaToDownload;
    std::function<void()> m_dlCompletionBlock;
    bool m_running = false;
    SyncRunPtr m_run; // the run of the downloads in flight
    QMetaObject::Connection m_stopConnection;
    quint64 m_runId = 0; // changes whenever a run begins or ends
    bool m_anyFailed = false;
    QString m_folder;
    QPointer<QNetworkReply> m_reply;
    QUrl m_gateway; // the address the credentials belong to
    int m_redirects = 0;
    std::unique_ptr<DownloadTarget> m_target;
    qint64 m_expectedLength = -1;
    qint64 m_bytesReceived = 0;
    QFuture<std::optional<QString>> m_handOffFuture;
    // One hand-off at a time: a run's hand-off still in flight is recorded
    // before a later sync looks for songs owed to the library.
    std::shared_ptr<std::mutex> m_handOffLock = std::make_shared<std::mutex>();
};
