#pragma once

#include <QFuture>

// The store's track counts the settings view shows, from the same rows the
// track view lists, so that both tell the same numbers. Counting reads the
// whole store, so it runs on the background pool; without a store both are 0.
struct TrackCounts {
    int all = 0;    // every stored track
    int synced = 0; // in the cloud library: matched, uploaded or downloaded

    static TrackCounts count();
    static QFuture<TrackCounts> countInBackground();
};
