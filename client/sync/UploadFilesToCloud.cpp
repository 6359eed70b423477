#include "UploadFilesToCloud.h"

#include "MainThreadCall.h"
#include "MultipartUploadBody.h"
#include "SyncState.h"
#include "TransferPace.h"
#include "TransferSupport.h"
#include "service/RequestGate.h"
#include "service/SecretMasking.h"
#include "service/TransferRequests.h"
#include "settings/GAUtility.h"
#include "settings/Logging.h"
#include "settings/Utility.h"
#include "store/GenericDAO.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {

constexpr int kTimeoutMs = 60 * 1000;
// Asking why an upload was cut off: a quick question, without a body.
constexpr int kCheckTimeoutMs = 15 * 1000;

QString displayName(const Audio &track) {
    if (track.name && !track.name->isEmpty())
        return *track.name;
    return track.songName.value_or(QFileInfo(track.fileURL.value_or(QString())).fileName());
}

bool acceptedStatus(int status) {
    return status == 200 || status == 204;
}

} // namespace

UploadFilesToCloud::UploadFilesToCloud(SyncState &state, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_network(new QNetworkAccessManager(this))
    , m_pace(new TransferPace(TransferPace::Direction::Upload, this))
    , m_rate(state.preferences()) {}

UploadFilesToCloud::~UploadFilesToCloud() {
    dropReply();
}

void UploadFilesToCloud::uploadUnSyncedFiles(const SyncRunPtr &run,
                                             const std::function<void()> &completion) {
    if (m_state.stopRequested(*run)) {
        m_state.applicationWasStopped();
        return;
    }
    // Only the tracks the service could not supply, in one query. Records
    // whose downloadable flag is unset are not candidates: the service has
    // not answered for them yet.
    const QList<AudioPtr> candidates = m_state.store().tracksByDownloadable(false);
    qCInfo(lcSync).noquote()
        << QStringLiteral("uploadUnSyncedFiles | songsToUpload: %1").arg(candidates.size());
    callOnThreadOf(this, [&] { beginRun(run, candidates, completion); });
}

void UploadFilesToCloud::beginRun(const SyncRunPtr &run, QList<AudioPtr> candidates,
                                  std::function<void()> completion) {
    if (m_running) {
        // A restarted sync: the earlier run's transfer must not advance this one.
        qCInfo(lcSync) << "=== Upload Process RESTARTED: the earlier run is abandoned";
        forgetRun();
    }
    ++m_runId;
    m_run = run;
    m_uploaded = 0;
    m_rate.beginRun();
    // A stop (a log-out above all) ends the upload in flight at once: no
    // byte more of this account's files goes out.
    m_stopConnection = connect(run.get(), &SyncRun::stopped, this, [this, id = m_runId] {
        if (id != m_runId || !m_running)
            return;
        qCInfo(lcSync) << "=== Upload Process STOPPED";
        m_state.applicationWasStopped();
        forgetRun();
    });
    m_songsToUpload = std::move(candidates);
    m_songUploadCounter = 0;
    m_upCompletionBlock = std::move(completion);
    m_running = true;
    if (m_songsToUpload.isEmpty()) {
        qCInfo(lcSync) << "No Songs to Upload";
        m_state.syncProgress().beginStage(SyncProgress::Stage::Uploading, 0);
        endRun();
        return;
    }
    startUploadProcess();
}

void UploadFilesToCloud::startUploadProcess() {
    if (!m_running || m_songsToUpload.isEmpty())
        return;
    qint64 totalBytes = 0;
    for (const AudioPtr &track : m_songsToUpload)
        totalBytes +=
            QFileInfo(Utility::normalizeFilePath(track->fileURL.value_or(QString()))).size();
    m_state.syncProgress().beginStage(SyncProgress::Stage::Uploading, m_songsToUpload.size(),
                                      totalBytes);
    m_songUploadCounter = 0;
    m_songBeingUploaded = m_songsToUpload.first();
    upload(m_songBeingUploaded);
}

void UploadFilesToCloud::uploadNextSong() {
    if (!m_running)
        return;
    ++m_songUploadCounter;
    if (m_state.stopRequested(*m_run)) {
        m_state.applicationWasStopped();
        forgetRun();
        return;
    }
    if (m_songUploadCounter >= m_songsToUpload.size()) {
        qCInfo(lcSync) << "=== Upload Process ENDED";
        GAUtility::instance().GASongsUploaded(m_uploaded);
        // Said only of files that did go up; the sync's outcome tells the rest.
        const int failed = m_songUploadCounter - m_uploaded;
        if (m_uploaded > 0 && failed == 0)
            m_state.notifyUser(QStringLiteral("Import Complete"),
                               QStringLiteral("Your files have been uploaded to Sonarbox"));
        else if (m_uploaded > 0)
            m_state.notifyUser(QStringLiteral("Import Complete"),
                               QStringLiteral("%1 of your files have been uploaded to Sonarbox; "
                                              "%2 could not be")
                                   .arg(m_uploaded)
                                   .arg(failed));
        else
            m_state.notifyUser(QStringLiteral("Import Failed"),
                               QStringLiteral("None of your files could be uploaded to Sonarbox"));
        endRun();
        return;
    }
    m_songBeingUploaded = m_songsToUpload.at(m_songUploadCounter);
    upload(m_songBeingUploaded);
}

void UploadFilesToCloud::upload(const AudioPtr &track) {
    if (m_state.isAppOffline) {
        stopOffline();
        return;
    }
    m_songBeingUploaded = track;
    const QString name = displayName(*track);
    if (!RequestGate::allows(m_run->context(), QStringLiteral("upload"))) {
        finishCandidate(false, QStringLiteral("not sent: a dry run changes nothing"), true);
        return;
    }
    // What is sent is checked against it.
    if (track->checksum.value_or(QString()).isEmpty()) {
        finishCandidate(false, QStringLiteral("not sent: the track has no checksum"), true);
        return;
    }
    const QString path = Utility::normalizeFilePath(track->fileURL.value_or(QString()));
    const QByteArray url = TransferRequests::uploadAddress(m_state.serviceClient(), *track);
    qCInfo(lcSync).noquote() << QStringLiteral("UploadUrl: %1").arg(QString::fromLatin1(url));
    m_state.syncProgress().setCurrentItem(name, track->artist.value_or(QString()),
                                          track->songName.value_or(QString()));

    auto *body = new MultipartUploadBody(path, track->name.value_or(QString()),
                                         track->checksum.value_or(QString()));
    body->setPace(m_pace);
    if (!body->open(QIODevice::ReadOnly)) {
        // Deleted or made unreadable since it was stored.
        const QString reason = body->errorString();
        delete body;
        qCWarning(lcSync).noquote()
            << QStringLiteral(
                   "Failed to Upload: %1 | cannot read %2: %3 | Skipping to next song...")
                   .arg(name, path, reason);
        finishCandidate(false, reason, true);
        return;
    }

    // A redirect counts as a refusal: the body cannot be sent twice.
    const QNetworkRequest request = TransferRequests::upload(
        m_state.serviceClient(), url, m_run->context(), MultipartUploadBody::Boundary, body->size(),
        body->fileSize(), kTimeoutMs);
    const std::optional<QString> &session = m_run->context().session;
    qCInfo(lcSync).noquote()
        << QStringLiteral("Upload headers: Content-Type: %1 | Cookie: %2 | mobileUpload: true")
               .arg(QString::fromLatin1(request.rawHeader("Content-Type")),
                    session ? SecretMasking::masked(*session) : QStringLiteral("(none)"));

    QNetworkReply *reply = m_network->post(request, body);
    if (!reply) {
        delete body;
        qCWarning(lcSync).noquote()
            << QStringLiteral("Failed to Upload: %1 Due to failed connection")
                   .arg(QString::fromLatin1(url));
        finishCandidate(false, QStringLiteral("no connection"), true);
        return;
    }
    body->setParent(reply);
    m_fileSize = body->fileSize();
    m_reply = reply;
    m_receivedData.clear();
    m_bytesSent = 0;
    m_rate.uploadStarted();
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] { onResponse(reply); });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { onData(reply); });
    connect(reply, &QNetworkReply::uploadProgress, this,
            [this, reply](qint64 sent, qint64) { onBodySent(reply, sent); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onFinished(reply); });
    // From the event loop: the body tells it from within the network
    // layer's read.
    connect(
        body, &MultipartUploadBody::fileFailed, this,
        [this, reply = QPointer<QNetworkReply>(reply), body] {
            if (reply && reply == m_reply)
                onFileFailed(body->errorString());
        },
        Qt::QueuedConnection);
}

void UploadFilesToCloud::onResponse(QNetworkReply *reply) {
    if (reply != m_reply)
        return;
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!statusAttribute.isValid())
        return;
    const int status = statusAttribute.toInt();
    qCInfo(lcSync) << "didReceiveResponse";
    qCInfo(lcSync).noquote() << QStringLiteral("UploadResponse.responseCode: %1").arg(status);
    if (!acceptedStatus(status)) {
        qCWarning(lcSync).noquote()
            << QStringLiteral("Error on Uploading media: %1 response code: %2 | Skipping to next "
                              "song...")
                   .arg(m_songBeingUploaded->name.value_or(QString()), QString::number(status));
        // Cancelled, so that no finish of this reply follows.
        const QString why = refusal(*reply, status);
        dropReply();
        m_receivedData.clear();
        finishCandidate(false, why);
        return;
    }
    qCInfo(lcSync) << "Started uploading bytes...";
    m_state.progressPage().setDescription(QStringLiteral("Uploading..."));
    m_receivedData.clear();
}

void UploadFilesToCloud::onData(QNetworkReply *reply) {
    if (reply != m_reply)
        return;
    qCInfo(lcSync) << "didReceiveData";
    m_receivedData += reply->readAll();
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    m_expectedLength = length.isValid() ? length.toLongLong() : -1;
    if (m_expectedLength > 0) {
        qCInfo(lcSync).noquote() << QStringLiteral("Percent complete - %1")
                                        .arg(double(m_receivedData.size()) /
                                                 double(m_expectedLength),
                                             0, 'f', 6);
    }
}

void UploadFilesToCloud::onBodySent(QNetworkReply *reply, qint64 sent) {
    if (reply != m_reply || sent <= m_bytesSent)
        return;
    m_state.syncProgress().addBytes(sent - m_bytesSent);
    m_bytesSent = sent;
    m_state.progressPage().setDescription(QStringLiteral("Uploading..."));
}

void UploadFilesToCloud::onFileFailed(const QString &reason) {
    // The tail of the body was held back, so the service never gets a
    // whole body of other bytes than the checksum named; the track waits
    // for the next sync, which reads the file again.
    qCWarning(lcSync).noquote() << QStringLiteral(
                                       "Failed to Upload: %1 | %2 | Skipping to next song...")
                                       .arg(m_songBeingUploaded->name.value_or(QString()), reason);
    dropReply();
    finishCandidate(false, reason);
}

void UploadFilesToCloud::onFinished(QNetworkReply *reply) {
    if (reply != m_reply)
        return;
    m_reply = nullptr;
    reply->deleteLater();
    const QVariant answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (reply->error() != QNetworkReply::NoError) {
        qCWarning(lcSync).noquote() << QStringLiteral("Connection failed! Error - %1 %2")
                                           .arg(reply->errorString(), reply->url().toString());
        // A service that refuses a file may answer before it has read the
        // body and close the connection on the rest: the answer says why.
        const int status = answered.isValid() ? answered.toInt() : 0;
        if (status != 0 && !acceptedStatus(status)) {
            finishCandidate(false, refusal(*reply, status));
            return;
        }
        QString why = QStringLiteral("the connection closed while the file was being sent");
        if (reply->error() != QNetworkReply::UnknownNetworkError)
            why += QStringLiteral(" (%1)").arg(reply->errorString());
        // But the network layer drops such an answer while it is still
        // sending (and what it handed to the system counts as sent): when
        // no answer came, the service is asked again, without the body.
        if (status == 0 && !m_state.isAppOffline) {
            askWhyCutOff(why);
            return;
        }
        finishCandidate(false, why);
        return;
    }
    const int status = answered.toInt();
    if (!acceptedStatus(status)) {
        qCWarning(lcSync).noquote()
            << QStringLiteral("Error on Uploading media: %1 response code: %2 | Skipping to next "
                              "song...")
                   .arg(m_songBeingUploaded->name.value_or(QString()), QString::number(status));
        finishCandidate(false, refusal(*reply, status));
        return;
    }
    m_receivedData += reply->readAll();
    const QVariant declared = reply->header(QNetworkRequest::ContentLengthHeader);
    if (declared.isValid() && declared.toLongLong() != m_receivedData.size()) {
        qCWarning(lcSync).noquote() << QStringLiteral("Song not entirely Uploaded: %1")
                                           .arg(m_songBeingUploaded->name.value_or(QString()));
        finishCandidate(false, QStringLiteral("the reply was cut off"));
        return;
    }
    if (!recordUpload(m_receivedData)) {
        finishCandidate(false, QStringLiteral("the reply could not be read"));
        return;
    }
    qCInfo(lcSync).noquote()
        << QStringLiteral("Succeeded! Received %1 bytes of data").arg(m_receivedData.size());
    ++m_uploaded;
    m_rate.uploadSucceeded(
        reply->request().header(QNetworkRequest::ContentLengthHeader).toLongLong());
    finishCandidate(true, QString());
}

QString UploadFilesToCloud::refusal(const QNetworkReply &reply, int status) const {
    if (status != 413)
        return TransferSupport::refusalReason(status);
    // The service refuses a file over its limit from the declared length,
    // before it reads the body, and says the limit in a header, which
    // arrives even when the connection closes on the rest of the body.
    const QString size = TransferSupport::sizeText(m_fileSize);
    bool known = false;
    const qint64 limit = reply.rawHeader("X-Upload-Limit").trimmed().toLongLong(&known);
    if (!known || limit <= 0)
        return QStringLiteral("the server refused a file of %1 as too large").arg(size);
    return QStringLiteral("the server refused a file of %1: its limit is %2")
        .arg(size, TransferSupport::sizeText(limit));
}

void UploadFilesToCloud::askWhyCutOff(const QString &otherwise) {
    QNetworkReply *check = m_network->get(TransferRequests::uploadSizeCheck(
        m_state.serviceClient(), m_run->context(), m_fileSize, kCheckTimeoutMs));
    m_reply = check;
    connect(check, &QNetworkReply::finished, this, [this, check, otherwise] {
        if (check != m_reply)
            return;
        m_reply = nullptr;
        check->deleteLater();
        // Only the refusals an upload gets before its body is read count; a
        // service that cannot be asked leaves the closed connection as the
        // reason.
        const int status = check->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const bool refused = status == 401 || status == 403 || status == 413 || status == 507;
        const QString why = refused ? refusal(*check, status) : otherwise;
        qCWarning(lcSync).noquote() << QStringLiteral("Upload: %1 | cut off while sending: %2")
                                           .arg(displayName(*m_songBeingUploaded), why);
        finishCandidate(false, why);
    });
}

bool UploadFilesToCloud::recordUpload(const QByteArray &body) {
    const TransferRequests::UploadReply reply = TransferRequests::readUploadReply(body);
    if (!reply.parsed) {
        qCWarning(lcSync).noquote() << QStringLiteral("JSON Error: %1").arg(reply.parseError);
        return false;
    }
    qCInfo(lcSync).noquote()
        << QStringLiteral("UploadResponse NSDictionary: %1").arg(SecretMasking::bodyForLog(body));
    const std::optional<QString> &mediaID = reply.mediaID;
    if (!mediaID) {
        qCWarning(lcSync) << "JSON Error: the reply holds no media ID";
        return false;
    }
    const Audio &track = *m_songBeingUploaded;
    const AudioPtr stored =
        m_state.store().getById(QStringLiteral("audioByCode"), track.checksum.value_or(QString()));
    if (stored) {
        stored->userMediaID = *mediaID;
        stored->downloadable = true;
        stored->uploaded = true;
        stored->failureReason.reset();
        m_state.store().save(stored);
    } else {
        qCWarning(lcSync).noquote()
            << QStringLiteral("Upload: %1 | no longer stored, its media ID is not kept")
                   .arg(track.name.value_or(QString()));
    }
    qCInfo(lcSync).noquote() << QStringLiteral("Song Uploaded: %1 with a new UserMediaID: %2")
                                    .arg(track.name.value_or(QString()), *mediaID);
    return true;
}

void UploadFilesToCloud::finishCandidate(bool succeeded, const QString &reason, bool deferred) {
    if (!succeeded) {
        // Kept with the track, so that the person can see later why it is
        // not in the cloud (the track view, `--tracks --failed`).
        const AudioPtr stored = m_state.store().getById(
            QStringLiteral("audioByCode"), m_songBeingUploaded->checksum.value_or(QString()));
        if (stored) {
            stored->failureReason = reason.isEmpty() ? QStringLiteral("the upload failed") : reason;
            m_state.store().save(stored);
        }
    }
    TransferSupport::finishItem(
        m_state, this, displayName(*m_songBeingUploaded), succeeded, reason, deferred,
        [this, run = m_runId] { return run == m_runId; }, [this] { uploadNextSong(); });
}

void UploadFilesToCloud::stopOffline() {
    forgetRun();
    TransferSupport::stopSyncOffline(m_state);
}

void UploadFilesToCloud::endRun() {
    std::function<void()> completion = std::move(m_upCompletionBlock);
    forgetRun();
    if (completion)
        completion();
}

void UploadFilesToCloud::forgetRun() {
    disconnect(m_stopConnection);
    m_run.reset();
    dropReply();
    m_running = false;
    m_upCompletionBlock = {};
    ++m_runId;
}

void UploadFilesToCloud::dropReply() {
    TransferSupport::abandon(m_reply, this);
}
