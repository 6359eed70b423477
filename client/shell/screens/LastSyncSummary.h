#pragma once

#include "sync/SyncProgress.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

// What the last sync did, for the progress page and the tray's tooltip:
// "Last sync 14:03 — Sync Completed in 5 s: 7 found, 4 matched without
// upload, 3 uploaded, 1 downloaded, 0 failed". It follows the coordinator's
// progress events and keeps the line in the preferences, so that the next
// start shows it before its own first sync ends. Beside it, the last sync
// that changed something ("Last change 09:19: 4 matched, 3 uploaded, 1
// downloaded"): an hourly sync with nothing to do does not hide what the
// one before it did.
class LastSyncSummary : public QObject {
    Q_OBJECT
public:
    // The program's one summary, following Sonarbox's progress (main thread).
    static LastSyncSummary &instance();
    explicit LastSyncSummary(SyncProgress &progress, QObject *parent = nullptr);

    // Empty until a sync has ended (here or in an earlier run).
    QString text() const { return m_text; }
    // How many tracks failed in that sync.
    qint64 failed() const { return m_failed; }
    // The last sync that matched, uploaded or downloaded a track; empty
    // until one has (here or in an earlier run).
    QString lastChange() const;

    // The line for a sync that ended at `when` after `elapsedMs`.
    static QString describe(const QString &how, const SyncProgress::State &totals, qint64 elapsedMs,
                            const QDateTime &when);
    // The line of a change: what a sync that ended at `when` matched,
    // uploaded and downloaded.
    static QString describeChange(const SyncProgress::State &totals, const QDateTime &when);

signals:
    void changed(const QString &text);

private:
    void onEvent(const SyncProgress::Event &event);

    void recordChange(const SyncProgress::State &totals, const QDateTime &when);

    QElapsedTimer m_clock;
    QString m_text;
    qint64 m_failed = 0;
    // The last change's time (invalid: none yet) and counts; only the
    // matched, uploaded and downloaded totals are kept.
    QDateTime m_changeTime;
    SyncProgress::State m_change;
};
