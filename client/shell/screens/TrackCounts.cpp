#include "TrackCounts.h"

#include "settings/Logging.h"
#include "store/StoreContext.h"
#include "store/StoreError.h"
#include "store/StoreQueries.h"
#include "store/StoreSetup.h"
#include "store/StoreThread.h"

#include <QtConcurrent/QtConcurrentRun>

namespace {

// Runs one count on the store thread; a store failure is logged with
// `errorFormat` and counts as 0.
template <typename F> int countOnStore(const char *errorFormat, F &&work) {
    StoreContext *context = StoreSetup::instance().managedObjectContext();
    if (!context)
        return 0;
    return StoreThread::instance().call([&]() -> int {
        if (!StoreSetup::instance().isLive(context))
            return 0;
        try {
            return work(*context);
        } catch (const StoreError &error) {
            qCWarning(lcShell).noquote() << QString::fromLatin1(errorFormat).arg(error.message());
            return 0;
        }
    });
}

} // namespace

TrackCounts TrackCounts::count() {
    TrackCounts counts;
    counts.withoutServiceId = countOnStore("unSyncedSongs ERROR %1", [](StoreContext &store) {
        return int(
            StoreQueries::fetch<Audio>(store, QStringLiteral("\"userMediaID\" IS NULL")).size());
    });
    counts.all = countOnStore("syncedSongs ERROR %1", [](StoreContext &store) {
        return StoreQueries::count(store, QStringLiteral("Audio"));
    });
    return counts;
}

QFuture<TrackCounts> TrackCounts::countInBackground() {
    return QtConcurrent::run([] { return count(); });
}
