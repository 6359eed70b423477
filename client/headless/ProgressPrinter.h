#pragma once

#include "sync/SyncProgress.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

// Prints a running sync for a person: a line when a stage starts and when a
// track is done, a summary when the sync ends, and, on a terminal, a live
// progress bar redrawn ten times a second. Lives on the main thread; the
// progress model's events arrive through a queued connection, because the
// stages emit them on their own threads.
class ProgressPrinter : public QObject {
    Q_OBJECT
public:
    explicit ProgressPrinter(SyncProgress &progress, QObject *parent = nullptr);

    // Where the end of a sync learns which files the scan left because they
    // were still being written.
    void setFilesLeft(std::function<QStringList()> filesLeft) {
        m_filesLeft = std::move(filesLeft);
    }

private:
    void onEvent(const SyncProgress::Event &event);
    void redraw();

    SyncProgress &m_progress;
    QTimer m_barTimer;
    QElapsedTimer m_syncClock;
    qint64 m_stageBytesPrinted = 0; // bytes of the stage already told with a track
    std::function<QStringList()> m_filesLeft;
};
