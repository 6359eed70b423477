#pragma once

#include "sync/SyncProgress.h"

#include <QString>
#include <QStringList>

#include <optional>

// The texts the headless program prints about a running sync: one line per
// stage and per finished track, the live progress bar and the summary.
namespace ProgressFormat {

// "512 B", "4.1 KB", "12.0 MB", "1.25 GB" (powers of 1000).
QString bytes(qint64 count);
// "0 s", "20 s", "3 min 5 s", "5 min", "2 h 10 min".
QString duration(qint64 ms);
// The time left in the stage of the snapshot, from its bytes when their
// total is known, else from its items; nothing before anything was done.
std::optional<qint64> msLeft(const SyncProgress::State &state);

// "[Uploading] 10 tracks, 12.0 MB"
QString stageStarted(const SyncProgress::State &state);
// "[Uploading 3/10] Song.mp3 uploaded (4.1 MB, 12.0 MB/s, about 20 s left)";
// `itemBytes` is what this track moved.
QString itemFinished(const SyncProgress::Event &event, qint64 itemBytes);
// "Sync Completed in 1 min 5 s: 12 found, 5 matched without upload, 6 uploaded,
// 1 downloaded, 0 failed"
QString summary(const QString &how, const SyncProgress::State &totals, qint64 elapsedMs);
// Nothing when `paths` is empty; else "1 file is still being written and
// waits for the next sync: /music/a.mp3", or "3 files are still being written
// and wait for the next sync:" and a line per file (the first ten).
QStringList leftStillWritten(const QStringList &paths);
// One terminal line of at most `width` characters: stage, counts, a bar,
// bytes, time left and the current track.
QString bar(const SyncProgress::State &state, int width);

} // namespace ProgressFormat
