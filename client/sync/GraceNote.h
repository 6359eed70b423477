#pragma once

#include "IdentificationCache.h"
#include "RecognitionCall.h"
#include "SyncRun.h"
#include "store/Audio.h"
#include "store/TrackFiles.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// The fingerprint and match stage: sends the new files of each album group to
// libtonemill in one call, copies what the recognition engine says into the
// records, tells the service about every new track so that it can add the
// tracks its catalogue holds without an upload, and stores the records. Runs
// on the stage queue.
class SyncState;

class GraceNote {
public:
    // libtonemill's entry point (tests may hand in another engine call).
    using Recognize = RecognitionCall::Function;
    explicit GraceNote(SyncState &state, Recognize recognize = nullptr);

    // The stage for `run`: the tracks its scan found, its account asked
    // about; calls `completion` once when every track has been gone
    // through, not when it stops on a stop request or the run's stop.
    void fingderPrintLocalMediaFiles(const SyncRunPtr &run,
                                     const std::function<void()> &completion);

    // The new tracks a dry run identified, as the sync would have offered
    // them to the service (checksum, recognition data); none are stored.
    QList<AudioPtr> previewed() const { return m_previewed; }

    int amoundOfSongsFingerprinted() const { return m_fingerprinted.load(); }
    void setAmoundOfSongsFingerprinted(int amount) { m_fingerprinted = amount; }

    bool hasAlbumNameBeenProcessed(const QString &key) const;
    // Copies the recognition data of one result object into the record.
    static void replaceID3WithGraceNote(const QJsonObject &result, Audio &withAudioObj);
    // Catalogue request and storing for each record of the current group.
    void notifyServerAndAddToDB();
    // How the service answered the catalogue request for one record.
    enum class Answer { Success, Fail, Ignored, None };
    Answer notifyServerOfNewCreatedMedia(Audio &track);
    void showLauncSbxUIElements();

    // Buffer sizes of one call.
    static constexpr int ResponseBytesPerTrack = 10240;
    static constexpr int UserBufferBytes = 2048;

private:
    // The account of the run in progress (none outside a run).
    const RunContext &context() const;
    bool runStopped() const;
    void callRecognition(qsizetype groupSize);
    // The library's call for those of the group's files the cache does not
    // know; answers whether it was made and succeeded.
    bool callLibrary(qsizetype groupSize, const QString &handle);
    void keepRecognitionUser(const QString &handedBack);
    Answer askCatalogue(Audio &track, const QJsonArray &recognition);
    // Answers false when a stop request ended it.
    bool askAgainAboutUnansweredTracks();

    // The run's state; kept after the run until the next one starts.
    QStringList albumNamesProcessed;
    QList<AudioPtr> songsInAlbumButNotInDB;
    QStringList initGNMessage;
    QStringList gnMessage;
    QByteArray gnResponse;
    QJsonArray songsInGNResponse;

    SyncState &m_state;
    Recognize m_recognize;
    SyncRunPtr m_run;
    // The run's account, with the recognition user it was handed meanwhile.
    UserPtr m_account;
    std::atomic<int> m_fingerprinted{0};
    // Recognition calls of this run that answered nothing (the library logs why).
    int m_failedCalls = 0;
    int m_calls = 0;
    // Paths sent to the service in this run: they are not asked about twice.
    QSet<QString> m_askedThisRun;
    IdentificationCache m_identified;
    QList<AudioPtr> m_previewed;
    // Stored tracks whose files went, that a new file may yet turn out to
    // replace (stage queue only).
    QList<StoredFile> m_gone;
};
