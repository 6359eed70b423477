#pragma once

#include <QFuture>

// The store's track counts the settings view shows. Counting walks the store,
// so it runs on the background pool; a failed fetch is logged and counts 0.
struct TrackCounts {
    int all = 0;
    int withoutServiceId = 0; // no userMediaID at all

    static TrackCounts count();
    static QFuture<TrackCounts> countInBackground();
};
