// The run of the fingerprint and match stage: grouping by album, progress,
// the recognition call per group and the recognition user it hands back.
#include "GraceNote.h"

#include "AlbumGroups.h"
#include "RecognitionInitData.h"
#include "SyncState.h"
#include "service/CommonRequest.h"
#include "service/JSONDictionary.h"
#include "service/JSONRecievedDataParser.h"
#include "service/JSONRequestBuilder.h"
#include "service/SecretMasking.h"
#include "settings/DeploymentConfig.h"
#include "settings/GAUtility.h"
#include "settings/Localization.h"
#include "settings/Logging.h"
#include "settings/LoggingSetup.h"
#include "settings/Utility.h"
#include "store/GenericDAO.h"
#include "store/StoreSetup.h"

#include <tonemill/tonemill.h>

#include <QScopeGuard>

#include <algorithm>

namespace {

bool hasText(const std::optional<QString> &value) {
    return value && !value->isEmpty();
}

} // namespace

GraceNote::GraceNote(SyncState &state, Recognize recognize)
    : m_state(state)
    , m_recognize(recognize ? recognize : &tonemill_doGraceNote) {}

bool GraceNote::hasAlbumNameBeenProcessed(const QString &key) const {
    return albumNamesProcessed.contains(key);
}

void GraceNote::fingderPrintLocalMediaFiles(const SyncRunPtr &run,
                                            const std::function<void()> &completion) {
    if (m_state.stopRequested(*run)) {
        m_state.applicationWasStopped();
        return;
    }
    m_run = run;
    m_account = run->context().account;
    m_previewed.clear();
    m_identified.open(
        IdentificationCache::fileIn(m_state.store().setup().applicationFilesDirectory()));
    const auto endRun = qScopeGuard([this] {
        m_identified.save();
        m_run.reset();
        m_account.reset();
    });

    const QList<AudioPtr> snapshot = run->localLibraryTracks();
    const qsizetype total = snapshot.size();
    qCInfo(lcSync).noquote() << QStringLiteral("=== Will Fingerprint %1 Songs").arg(total);

    m_state.progressPage().setDescription(Localization::localizedString(
        QStringLiteral("TaskbarIconViewModel_StartSynchronizationMessage")));

    // Those of the tracks' paths the store knows, asked in one pass, and the
    // files known to repeat a stored track: neither is fingerprinted again.
    QList<QString> paths;
    paths.reserve(total);
    for (const AudioPtr &track : snapshot)
        // A new version of a stored file is identified as a new file is.
        if (track->fileURL && track->previousObjectID == 0)
            paths.append(*track->fileURL);
    QSet<QString> known = m_state.store().storedAmong(paths);
    m_gone = run->goneLibraryTracks();
    known.unite(m_state.duplicatePaths());
    const QList<AlbumGroups::Call> calls =
        m_state.isAppOffline ? QList<AlbumGroups::Call>() : AlbumGroups::calls(snapshot, known);
    qsizetype newTracks = 0;
    for (const AlbumGroups::Call &call : calls)
        newTracks += call.tracks.size();
    m_state.syncProgress().beginStage(SyncProgress::Stage::Matching, newTracks);

    albumNamesProcessed.clear();
    m_askedThisRun.clear();
    m_failedCalls = 0;
    m_calls = 0;
    SyncProgress &progress = m_state.syncProgress();

    for (const AlbumGroups::Call &call : calls) {
        if (m_state.stopRequested(*run)) {
            m_state.applicationWasStopped();
            return;
        }
        if (m_state.isAppOffline)
            break;
        const Audio &track = *snapshot.at(call.tracks.first());
        qCInfo(lcSync).noquote()
            << QStringLiteral("Fingerprint Song: %1").arg(track.fileURL.value_or(QString()));
        const QString albumText =
            AlbumGroups::hasAlbum(track) ? *track.album : QStringLiteral("Unknown Album");
        const QString artistText =
            hasText(track.artist) ? *track.artist : QStringLiteral("Unknown Artist");
        // A call identifies a whole album: the page names it where a song goes.
        progress.setCurrentItem(albumText, artistText, albumText);

        songsInAlbumButNotInDB.clear();
        for (const qsizetype index : call.tracks)
            songsInAlbumButNotInDB << snapshot.at(index);
        callRecognition(songsInAlbumButNotInDB.size());
        notifyServerAndAddToDB();

        if (!albumNamesProcessed.contains(call.key))
            albumNamesProcessed << call.key;
    }

    // The library's own lines, which say why, go to the log only: the
    // person is told once that matching did not happen.
    if (m_failedCalls > 0)
        qCWarning(lcSync).noquote()
            << QStringLiteral("%1 of %2 recognition calls failed, so their songs were not matched "
                              "from the catalogue (the reasons are in %3)")
                   .arg(m_failedCalls)
                   .arg(m_calls)
                   .arg(Logging::logFilePath());

    if (!askAgainAboutUnansweredTracks()) {
        m_state.applicationWasStopped();
        return;
    }

    if (total == 0 && m_state.flow_newUser)
        showLauncSbxUIElements();
    if (!context().dryRun)
        GAUtility::instance().GASongsSuccessfullyFingerprinted(m_fingerprinted.load());
    qCInfo(lcSync).noquote() << QStringLiteral("=== Fingerprint Finished | Fingerprinted: %1")
                                    .arg(m_fingerprinted.load());
    if (completion)
        completion();
}

const RunContext &GraceNote::context() const {
    static const RunContext none;
    return m_run ? m_run->context() : none;
}

bool GraceNote::runStopped() const {
    return m_run && m_run->isStopped();
}

void GraceNote::callRecognition(qsizetype groupSize) {
    const DeploymentConfig &config = m_state.deployment();
    const UserPtr user = m_account;
    const QString handle = user ? user->gracenoteUser.value_or(QString()) : QString();

    QString initDataError;
    const QString initData = RecognitionInitData::path(config, &initDataError);
    if (initData.isEmpty())
        qCWarning(lcSync).noquote() << initDataError;
    initGNMessage = {QStringLiteral("Main"), config.recognitionClientId,
                     config.recognitionClientTag, initData};
    // Without a recognition user of its own the account gets a new one ("-C"),
    // which the library hands back for keeping.
    if (handle.isEmpty())
        initGNMessage << QStringLiteral("-C");
    else
        initGNMessage << QStringLiteral("-u") << handle;
    gnMessage = initGNMessage;

    // Files a preview identified are not decoded and fingerprinted again:
    // their kept result stands in for the library's. A sync uses it once (the
    // store holds the track afterwards); a preview keeps what it learns.
    const bool dryRun = context().dryRun;
    QJsonArray known;
    for (const AudioPtr &record : std::as_const(songsInAlbumButNotInDB)) {
        record->userMediaID = QStringLiteral("-1");
        record->downloaded = 0;
        record->synced = 1;
        record->encrypted = false;
        record->retries = 0;
        qCInfo(lcSync).noquote() << QStringLiteral("ALBUM: %1 SONG: %2")
                                        .arg(record->album.value_or(QString()),
                                             record->name.value_or(QString()));
        const QString path = Utility::normalizeFilePath(record->fileURL.value_or(QString()));
        if (const std::optional<QJsonObject> kept = m_identified.find(path)) {
            known.append(*kept);
            if (!dryRun)
                m_identified.forget(path);
            continue;
        }
        gnMessage << path;
    }
    if (!known.isEmpty())
        qCInfo(lcSync).noquote()
            << QStringLiteral("Identified before: %1 of the group's files").arg(known.size());

    const bool called = gnMessage.size() > initGNMessage.size() && callLibrary(groupSize, handle);
    if (!called && known.isEmpty())
        return;
    QJsonArray results = known;
    if (called) {
        for (const QJsonValue &entry : std::as_const(songsInGNResponse)) {
            results.append(entry);
            const QJsonValue input = entry.toObject().value(QStringLiteral("input"));
            if (dryRun && input.isString())
                m_identified.keep(input.toString(), entry.toObject());
        }
    }
    songsInGNResponse = results;
    for (const QJsonValue &entry : std::as_const(songsInGNResponse)) {
        const QJsonObject result = entry.toObject();
        const QJsonValue input = result.value(QStringLiteral("input"));
        for (const AudioPtr &record : std::as_const(songsInAlbumButNotInDB)) {
            if (input.isString() && record->fileURL == input.toString())
                replaceID3WithGraceNote(result, *record);
        }
    }
}

bool GraceNote::callLibrary(qsizetype groupSize, const QString &handle) {
    RecognitionCall::Answer answer = RecognitionCall::call(
        m_recognize, gnMessage, int(groupSize) * ResponseBytesPerTrack, UserBufferBytes);
    if (answer.result == 0 && answer.user.isEmpty() && !handle.isEmpty()) {
        // The library hands the user back whenever it could start it, so an
        // empty user buffer means the stored handle itself was refused (made
        // for other credentials, or damaged). Keeping it would leave every
        // later track of the account unrecognised: a new user replaces it.
        qCWarning(lcSync) << "The stored recognition user was refused; making a new one";
        QStringList again = gnMessage;
        again.remove(4, 2);
        again.insert(4, QStringLiteral("-C"));
        answer = RecognitionCall::call(m_recognize, again, int(groupSize) * ResponseBytesPerTrack,
                                       UserBufferBytes);
    }
    keepRecognitionUser(answer.user);
    ++m_calls;
    if (answer.result == 0) {
        ++m_failedCalls;
        return false;
    }
    gnResponse = answer.response;
    // A document cut at the buffer's end does not parse: the records then
    // get their checksum from the file itself.
    songsInGNResponse =
        JSONRecievedDataParser::parseGracenoteResponse(gnResponse).value_or(QJsonArray());
    return true;
}

void GraceNote::replaceID3WithGraceNote(const QJsonObject &result, Audio &withAudioObj) {
    if (const auto hash = JSONValues::text(result, QStringLiteral("hash")))
        withAudioObj.checksum = *hash;
    const QJsonArray candidates = result.value(QStringLiteral("graceNoteTrackInfo")).toArray();
    if (candidates.isEmpty())
        return;
    const QJsonObject first = candidates.first().toObject();
    if (const auto v = JSONValues::text(first, QStringLiteral("trackId")))
        withAudioObj.fingerPrintID = *v;
    if (const auto v = JSONValues::text(first, QStringLiteral("trackName")))
        withAudioObj.songName = *v;
    if (const auto v = JSONValues::text(first, QStringLiteral("artistName")))
        withAudioObj.artist = *v;
    if (const auto v = JSONValues::text(first, QStringLiteral("albumName")))
        withAudioObj.album = *v;
    if (const auto v = JSONValues::integer(first, QStringLiteral("trackNumber")))
        withAudioObj.sequence = *v;
}

void GraceNote::keepRecognitionUser(const QString &handedBack) {
    const UserPtr user = m_account;
    // A preview keeps nothing of the account: the sync makes its own.
    if (!user || handedBack.isEmpty() || user->gracenoteUser == handedBack || context().dryRun)
        return;
    // The handle is the run's account's: it is kept only while that account
    // is still the one signed in.
    const UserPtr signedIn = m_state.loggedUser();
    if (runStopped() || !signedIn || signedIn->username != user->username)
        return;
    // The signed-in record may be read on other threads: it is replaced, not
    // changed in place.
    auto updated = std::make_shared<User>(*user);
    updated->gracenoteUser = handedBack;
    m_state.store().save(updated);
    m_state.setLoggedUser(updated);
    // The rest of the run uses it too, rather than asking for yet another.
    m_account = updated;
    CommonRequest request(m_state.serviceClient());
    RunContext updatedContext = context();
    updatedContext.account = updated;
    request.connect(updatedContext, JSONRequestBuilder::buildNewUserHandleForGracenote(handedBack),
                    QStringLiteral("setUserGNHandle"));
    // The handle is a credential of the account with the recognition engine.
    qCInfo(lcSync).noquote()
        << QStringLiteral("NEW USER %1").arg(SecretMasking::masked(handedBack));
}
