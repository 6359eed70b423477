#pragma once

#include "StoreContext.h"
#include "TrackFiles.h"

// The statements behind what a scan asks of the store about files: run on the
// store thread, changes into the pending changes.
namespace TrackFileQueries {

// The stored tracks whose file is under the folder key `root` (a path with
// its trailing slash), in one statement over the path index.
QList<StoredFile> storedFilesUnder(StoreContext &context, const QString &root);
// Sets the file stamps of stored tracks, by objectID.
void recordStamps(StoreContext &context, const QHash<qint64, FileStamp> &stamps);
// The stored track now lives at `path`, as `stamp` shows it.
void moveTrack(StoreContext &context, qint64 objectID, const QString &path, const FileStamp &stamp);

// The stored track no longer has a file here (another was written over it);
// it stays, as a deleted file's track does.
void detachFile(StoreContext &context, qint64 objectID);

QHash<QString, KnownDuplicate> knownDuplicates(StoreContext &context);
void rememberDuplicate(StoreContext &context, const QString &path, const KnownDuplicate &duplicate);
void forgetDuplicates(StoreContext &context, const QList<QString> &paths);

} // namespace TrackFileQueries
