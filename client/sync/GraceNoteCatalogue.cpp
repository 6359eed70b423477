// The catalogue side of the fingerprint and match stage: telling the service
// about new tracks, storing them, and asking again about the stored tracks
// that the service never answered for.
#include "GraceNote.h"

#include "CollectionChanges.h"
#include "SyncState.h"
#include "service/CommonRequest.h"
#include "service/JSONDictionary.h"
#include "service/JSONRecievedDataParser.h"
#include "service/JSONRequestBuilder.h"
#include "service/SecretMasking.h"
#include "settings/Logging.h"
#include "settings/Utility.h"
#include "store/GenericDAO.h"

#include <QJsonDocument>

namespace {

bool hasText(const std::optional<QString> &value) {
    return value && !value->isEmpty();
}

QString displayName(const Audio &track) {
    return hasText(track.name) ? *track.name : track.fileURL.value_or(QString());
}

} // namespace

void GraceNote::notifyServerAndAddToDB() {
    SyncProgress &progress = m_state.syncProgress();
    for (const AudioPtr &record : std::as_const(songsInAlbumButNotInDB)) {
        const QString path = record->fileURL.value_or(QString());
        if (!hasText(record->checksum))
            record->checksum = Utility::getMD5FromFile(path);
        if (!record->fingerPrintID)
            record->fingerPrintID = QStringLiteral("-1");
        const QString name = displayName(*record);

        // A file that could not be read (gone since the scan, unreadable) has
        // no checksum. Stored, it would stand for every other such file (the
        // store keeps one track per checksum) and could be neither matched nor
        // uploaded; left out, the next scan that finds it tries again.
        if (record->checksum->isEmpty()) {
            qCWarning(lcSync).noquote()
                << QStringLiteral("=== Not stored: %1 could not be read").arg(path);
            progress.finishItem(name, SyncProgress::Outcome::Failed,
                                QStringLiteral("the file could not be read"));
            continue;
        }

        // A file written anew under another name by a tagger is the track
        // whose file went, recognised as the same recording.
        CollectionChanges::linkByRecognition(*record, m_gone);
        const Answer answer = askCatalogue(*record, songsInGNResponse);
        m_askedThisRun.insert(path);
        // After a log-out the store is someone else's: a run that was stopped
        // keeps nothing of its account there.
        if (runStopped())
            return;
        // A preview stores nothing: what it learnt is the record itself.
        if (context().dryRun) {
            m_previewed << record;
            progress.finishItem(name, SyncProgress::Outcome::Succeeded);
            continue;
        }
        if (m_state.store().addTrackToDB(record, true)) {
            m_state.addDuplicateLibraryTrack(record);
            // Kept, so that the copy is not read again at the next start.
            if (const auto stamp = stampOf(*record))
                m_state.store().rememberDuplicate(path, {*record->checksum, *stamp});
        }
        switch (answer) {
        case Answer::Success:
            progress.finishItem(name, SyncProgress::Outcome::Succeeded);
            break;
        case Answer::Fail:
            progress.finishItem(name, SyncProgress::Outcome::Unmatched);
            break;
        case Answer::Ignored:
            progress.finishItem(name, SyncProgress::Outcome::Failed,
                                QStringLiteral("the service gave no usable answer"));
            break;
        case Answer::None:
            progress.finishItem(name, SyncProgress::Outcome::Failed,
                                QStringLiteral("the service did not answer"));
            break;
        }
    }
}

GraceNote::Answer GraceNote::notifyServerOfNewCreatedMedia(Audio &track) {
    return askCatalogue(track, songsInGNResponse);
}

GraceNote::Answer GraceNote::askCatalogue(Audio &track, const QJsonArray &recognition) {
    CommonRequest request(m_state.serviceClient());
    const std::optional<QByteArray> reply = request.connect(
        context(),
        JSONRequestBuilder::buildMediaFromCatalogByChecksumOrFingerprint(track, recognition),
        QStringLiteral("createUserMediaFromCatalog"));
    if (!reply) {
        // A preview's request is held back on purpose, and said so once.
        if (!context().dryRun)
            qCWarning(lcSync).noquote() << QStringLiteral("!=!=! NULL RESPONSE for song %1")
                                               .arg(track.name.value_or(QString()));
        return Answer::None;
    }

    const std::optional<QJsonObject> parsed =
        JSONRecievedDataParser::parseCreateMediaRequest(*reply);
    Answer answer = Answer::Ignored;
    if (parsed && JSONValues::text(*parsed, QStringLiteral("purchaseResponseMessage")) !=
                      QStringLiteral("No Session")) {
        const std::optional<QString> status =
            JSONValues::text(*parsed, QStringLiteral("purchaseResponseStatus"));
        // A missing or empty "purchasedContent" reads as id 0, not downloadable.
        const QJsonObject content =
            parsed->value(QStringLiteral("purchasedContent")).toArray().at(0).toObject();
        if (status == QStringLiteral("SUCCESS")) {
            track.userMediaID =
                QString::number(JSONValues::integer(content, QStringLiteral("id")).value_or(0));
            track.downloadable =
                JSONValues::integer(content, QStringLiteral("downloadable")).value_or(0) != 0;
            const int matched = ++m_fingerprinted;
            if (m_state.flow_newUser && matched >= 1 &&
                m_state.progressPage().state().launchButtonHidden)
                showLauncSbxUIElements();
            answer = Answer::Success;
        } else if (status == QStringLiteral("FAIL")) {
            // Left for the upload stage.
            track.downloadable = false;
            answer = Answer::Fail;
        }
    }
    qCInfo(lcSync).noquote() << QStringLiteral("CREATE MEDIA RETURN: \n%1")
                                    .arg(parsed ? SecretMasking::bodyForLog(
                                                      QJsonDocument(*parsed).toJson())
                                                : QStringLiteral("(null)"));
    return answer;
}

bool GraceNote::askAgainAboutUnansweredTracks() {
    // A catalogue request that got no answer (service down, time-out, session
    // lost) leaves the stored track's `downloadable` unset: the download stage
    // takes it for present, the upload stage never picks it up, and nothing
    // else would ever ask again. So every run asks once more, from what the
    // store kept (checksum, fingerprint ID; the recognition document is gone).
    if (m_state.isAppOffline || !context().hasAccount())
        return true;
    QList<AudioPtr> unanswered;
    for (const AudioPtr &record : m_state.store().tracksByDownloadable(std::nullopt)) {
        const bool askable = hasText(record->checksum) ||
                             (hasText(record->fingerPrintID) && *record->fingerPrintID != "-1");
        if (askable && !m_askedThisRun.contains(record->fileURL.value_or(QString())))
            unanswered << record;
    }
    if (unanswered.isEmpty())
        return true;
    qCInfo(lcSync).noquote() << QStringLiteral(
                                    "=== Asking the service again about %1 unanswered tracks")
                                    .arg(unanswered.size());
    for (const AudioPtr &record : std::as_const(unanswered)) {
        if (m_run ? m_state.stopRequested(*m_run) : m_state.flow_stopProcesses.load())
            return false;
        const Answer answer = askCatalogue(*record, QJsonArray());
        if (answer == Answer::None) {
            // Still no answer: the others would wait for nothing as well.
            qCInfo(lcSync) << "=== The service did not answer; the rest waits for the next sync";
            break;
        }
        if ((answer == Answer::Success || answer == Answer::Fail) && !runStopped())
            m_state.store().save(record);
    }
    return true;
}

void GraceNote::showLauncSbxUIElements() {
    m_state.progressPage().showLaunchControls();
}
