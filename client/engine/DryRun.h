#pragma once

#include "store/RunContext.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class SyncEngine;

// What the next sync would do, worked out without doing it.
struct DryRunReport {
    // Empty when the preview ran to its end; otherwise why it did not.
    QString error;
    qsizetype filesFound = 0;      // accepted music files the scan found
    qsizetype filesToIdentify = 0; // of them, the new ones: fingerprinted and offered
    qsizetype tracksKnown = 0;     // of them, the ones the store already holds
    // Of the new ones, those the service is expected to supply without an
    // upload: recognised, or held by the account already.
    qsizetype expectedFromCatalogue = 0;
    qsizetype songsToDownload = 0; // listed in the cloud library, missing here
    qsizetype tracksToUpload = 0;
    qint64 uploadBytes = 0;
    // The rate of the last real uploads; nothing when none was measured.
    std::optional<double> uploadBytesPerSecond;

    bool completed() const { return error.isEmpty(); }
    // The report for people, one line each.
    QStringList lines() const;
};

// A sync's preview: the scan, the identification of new files (whose results
// are kept, so that the sync does not fingerprint them again) and the cloud
// library's listing, with every request that would change the service held
// back (the run context's dryRun) and nothing stored or downloaded. The
// service's catalogue is not asked, so a new file counts as supplied from the
// catalogue when the recognition engine knew it or its content is the
// account's already, and as an upload otherwise.
namespace DryRun {

// On the stage thread (never the main one: it blocks for the requests).
DryRunReport run(SyncEngine &engine, const RunContext &context);
// Queues run() on the coordinator's stage queue, behind any sync, with the
// signed-in account; `done` is called on the main thread.
void start(SyncEngine &engine, std::function<void(const DryRunReport &)> done);
// The same on the engine installed in the coordinator (an error report when
// there is none).
void start(std::function<void(const DryRunReport &)> done);

} // namespace DryRun
