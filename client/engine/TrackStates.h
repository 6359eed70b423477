#pragma once

#include <QList>
#include <QString>

// Every stored track with what became of it, for the desktop's track view
// and `sonarbox-headless --tracks`: one statement over the store, rows small
// enough to hold a whole collection.
namespace TrackStates {

enum class State {
    Matched,          // the service supplied it from its catalogue: no upload
    Uploaded,         // this client uploaded the file
    Downloaded,       // it came from the cloud library
    WaitingForUpload, // the service has no copy; the next upload sends it
    NotAnswered,      // the service has not said yet whether it has a copy
    Failed,           // its last upload failed (see reason)
};

struct Row {
    QString title; // the tag's title, else the file's name
    QString artist;
    QString album;
    QString file;
    State state = State::NotAnswered;
    QString reason; // Failed only
};

// What a track's stored fields say of it (the fields as the store keeps them:
// absent ones as null variants).
State stateOf(bool downloaded, const QVariant &downloadable, bool uploaded,
              const QString &failureReason);

// "matched from the catalogue", "uploaded", "downloaded", "waiting for upload",
// "not answered yet", "failed: <reason>".
QString describe(State state, const QString &reason);

// The stored tracks by artist, album and title; only the failed ones when
// asked. Empty without a store.
QList<Row> load(bool failedOnly = false);

// One line of `--tracks`: "<state>  <artist> — <title>  (<file>)".
QString line(const Row &row);

} // namespace TrackStates
