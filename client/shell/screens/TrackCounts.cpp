#include "TrackCounts.h"

#include "engine/TrackStates.h"

#include <QtConcurrent/QtConcurrentRun>

TrackCounts TrackCounts::count() {
    TrackCounts counts;
    for (const TrackStates::Row &row : TrackStates::load()) {
        ++counts.all;
        switch (row.state) {
        case TrackStates::State::Matched:
        case TrackStates::State::Uploaded:
        case TrackStates::State::Downloaded:
            ++counts.synced;
            break;
        case TrackStates::State::WaitingForUpload:
        case TrackStates::State::NotAnswered:
        case TrackStates::State::Failed:
            break;
        }
    }
    return counts;
}

QFuture<TrackCounts> TrackCounts::countInBackground() {
    return QtConcurrent::run([] { return count(); });
}
