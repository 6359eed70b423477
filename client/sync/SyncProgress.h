#pragma once

#include "Guarded.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <optional>

// What a person sees of a running sync: the stage, its counts and bytes, the
// current track, the totals of the whole sync and an estimate of the time
// left. The stages report here; the progress page, the status menu and the
// headless program read it. Every operation may be called from any thread;
// `event` is emitted on the caller's thread (connect with an automatic or
// queued connection).
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
    // What failed in this sync, for a person: "3 uploads refused (quota
    // full), 1 download failed (HTTP status 404)"; empty when nothing did.
    QString failureSummary() const;

    void beginSync();
    // `how`: "Sync Completed", "Sync stopped" …
    void endSync(const QString &how);
    void beginStage(Stage stage, qint64 itemsTotal, qint64 bytesTotal = 0);
    // Adds to the stage's totals once they are known better (a scan's count).
    void setTotals(qint64 itemsTotal, qint64 bytesTotal);
    void setCurrentItem(const QString &item);
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
    void emitEvent(Event::Kind kind, const State &s, const QString &item = QString(),
                   Outcome outcome = Outcome::Succeeded, const QString &detail = QString());

    struct Data {
        State state;
        qint64 stageStartedMs = 0;
    };
    Guarded<Data> m_data;
};

Q_DECLARE_METATYPE(SyncProgress::Event)
