#pragma once

#include "Guarded.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <optional>

// What a person sees of a running sync: the stage, its counts and bytes, the
// current track, the bar and percentage made from the counts, the totals of
// the whole sync and an estimate of the time left. The stages report here
// and nowhere else; the progress page, the status menu and the headless
// program render from it. Every operation may be called from any thread;
// `event` and `changed` are emitted on the caller's thread (connect with an
// automatic or queued connection).
class SyncProgress : public QObject {
    Q_OBJECT
public:
    enum class Stage { Idle, Scanning, Matching, Downloading, Uploading };
    Q_ENUM(Stage)
    // How one item of a stage ended. Matching: Succeeded = added from the
    // catalogue without upload, Unmatched = left for the upload stage.
    enum class Outcome { Succeeded, Unmatched, Skipped, Failed };
    Q_ENUM(Outcome)

    struct State {
        Stage stage = Stage::Idle;
        qint64 itemsDone = 0;  // items of this stage finished, whatever the outcome
        qint64 itemsTotal = 0; // 0 when not known (a scan)
        qint64 bytesDone = 0;
        qint64 bytesTotal = 0; // 0 when not known
        QString currentItem;
        // The current track as the page shows it (matching names the album
        // in `song`: it identifies a whole album at once).
        QString artist;
        QString song;
        // What the bar shows, made from itemsDone/itemsTotal while a stage
        // that counts tracks runs (matching, downloading, uploading): the
        // bar is filled to whole percents only, and `percentage` is empty
        // while nothing is counted. Full once a sync completed; a stopped
        // sync keeps what it showed.
        double fraction = 0;
        int percent = 0;
        QString percentage;
        qint64 stageElapsedMs = 0; // at the time of the snapshot
        // Totals of the whole sync, since beginSync().
        qint64 tracksFound = 0;
        qint64 tracksMatched = 0;
        qint64 tracksUnmatched = 0;
        qint64 tracksUploaded = 0;
        qint64 tracksDownloaded = 0;
        qint64 tracksFailed = 0;
        qint64 bytesUploaded = 0;
        qint64 bytesDownloaded = 0;
        // The failed items of the whole sync, by stage and reason.
        struct Failures {
            Stage stage = Stage::Idle;
            QString reason;
            qint64 count = 0;
        };
        QList<Failures> failures;
    };

    struct Event {
        enum class Kind { SyncStarted, StageStarted, ItemFinished, SyncEnded };
        Kind kind = Kind::StageStarted;
        QString item; // ItemFinished: the track
        Outcome outcome = Outcome::Succeeded;
        QString detail; // ItemFinished: why it failed; SyncEnded: how it ended
        State state;    // a snapshot after the change
    };

    State state() const;
    // The time left in this stage, from the bytes when their total is known,
    // else from the items; nothing before anything was done.
    std::optional<qint64> estimatedMsLeft() const;
    static QString stageName(Stage stage);
    // The status menu's word for a stage that counts tracks ("Importing"
    // while matching); empty for the others.
    static QString activityName(Stage stage);
    // The whole percentage of `done` of `total`, through one single-precision
    // step as it has always been shown (53 of 100 gives 52); 0 for a total
    // below 1.
    static int percentOf(qint64 done, qint64 total);
    // What failed in this sync, for a person: "3 uploads refused (quota
    // full), 1 download failed (HTTP status 404)"; empty when nothing did.
    QString failureSummary() const;

    void beginSync();
    // The sync went through every stage: the bar is full and no track is
    // named (shown before the end, whose listeners may quit at once).
    void showCompleted();
    // `how`: "Sync Completed", "Sync stopped" …; the bar stays as it was.
    void endSync(const QString &how);
    void beginStage(Stage stage, qint64 itemsTotal, qint64 bytesTotal = 0);
    // Adds to the stage's totals once they are known better (a scan's count).
    void setTotals(qint64 itemsTotal, qint64 bytesTotal);
    void setCurrentItem(const QString &item, const QString &artist = QString(),
                        const QString &song = QString());
    // The stage has ended: the bar is empty and no track is named until the
    // next stage begins (the counts stay for the summary).
    void clearShownProgress();
    void addBytes(qint64 bytes);
    // One item of the current stage has ended; `bytes` of it not yet reported
    // through addBytes() are added.
    void finishItem(const QString &item, Outcome outcome, const QString &detail = QString());
    // The scan found tracks.
    void trackFound(qint64 count = 1);

signals:
    void event(const SyncProgress::Event &event);
    void changed();

private:
    static void showCounts(State &s);
    void emitEvent(Event::Kind kind, const State &s, const QString &item = QString(),
                   Outcome outcome = Outcome::Succeeded, const QString &detail = QString());

    struct Data {
        State state;
        qint64 stageStartedMs = 0;
    };
    Guarded<Data> m_data;
};

Q_DECLARE_METATYPE(SyncProgress::Event)
