#pragma once

#include "SyncRun.h"
#include "UploadRate.h"

#include "store/Audio.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

class QNetworkAccessManager;
class SyncState;
class QNetworkReply;
class TransferPace;

// The last stage of a sync: uploads, one after another, the files of the
// stored tracks the service could not supply from its catalogue, and records
// the media ID it assigns. The run starts on the stage queue; the uploads
// run on the main thread (this object lives there).
//
// Whatever happens to an upload (refused, cut off, unreadable reply, file
// gone, changed since it was hashed), the run moves on to the next candidate
// exactly once, and the completion is called exactly once per run; a failed
// candidate stays a candidate for the next sync. What is sent is hashed as it
// goes: a file that is no longer the one its checksum named is never sent
// whole.
class UploadFilesToCloud : public QObject {
    Q_OBJECT
public:
    explicit UploadFilesToCloud(SyncState &state, QObject *parent = nullptr);
    ~UploadFilesToCloud() override;

    // Starts the stage for `run`: its account's session; its stop ends the
    // upload in flight. `completion` is called once when every candidate has
    // been tried (not after a stop).
    void uploadUnSyncedFiles(const SyncRunPtr &run, const std::function<void()> &completion);

    // Main thread only: uploads the first candidate, moves to the next one or
    // ends the run, and starts the upload of one candidate.
    void startUploadProcess();
    void uploadNextSong();
    void upload(const AudioPtr &track);

private:
    void beginRun(const SyncRunPtr &run, QList<AudioPtr> candidates,
                  std::function<void()> completion);
    void endRun();
    void forgetRun();
    void dropReply();
    void stopOffline();
    // Ends the current candidate (one progress item) and moves on.
    // `deferred`: the move happens from the event loop (nothing was sent).
    void finishCandidate(bool succeeded, const QString &reason, bool deferred = false);

    void onResponse(QNetworkReply *reply);
    void onData(QNetworkReply *reply);
    void onBodySent(QNetworkReply *reply, qint64 sent);
    void onFinished(QNetworkReply *reply);
    // The file is not what its checksum named, or could not be read: the
    // upload in flight is abandoned before its body is complete.
    void onFileFailed(const QString &reason);
    // Why the service refused the upload in flight with `status`: a file
    // over its limit says the file's size and the limit the service gave.
    QString refusal(const QNetworkReply &reply, int status) const;
    // Asks the service what it answers an upload of this file before reading
    // its body, and ends the candidate with that refusal, else `otherwise`.
    void askWhyCutOff(const QString &otherwise);
    // Records the media ID of a complete reply; false when it holds none.
    bool recordUpload(const QByteArray &body);

    SyncState &m_state;
    QNetworkAccessManager *m_network;
    TransferPace *m_pace; // the upload limit, over all the uploads
    QList<AudioPtr> m_songsToUpload;
    int m_songUploadCounter = 0;
    AudioPtr m_songBeingUploaded;
    std::function<void()> m_upCompletionBlock;
    bool m_running = false;
    SyncRunPtr m_run; // the run of the uploads in flight
    QMetaObject::Connection m_stopConnection;
    int m_uploaded = 0;  // files of this run the service took
    quint64 m_runId = 0; // changes whenever a run begins or ends
    QPointer<QNetworkReply> m_reply;
    QByteArray m_receivedData;
    qint64 m_expectedLength = 0;
    qint64 m_bytesSent = 0;
    qint64 m_fileSize = 0; // of the upload in flight
    UploadRate m_rate;
};
