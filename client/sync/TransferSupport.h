#pragma once

#include <QPointer>
#include <QString>

#include <functional>

class QNetworkReply;
class QObject;
class SyncState;

// What the upload and the download runs do alike: one transfer in flight,
// one progress item and one advance per song, and a run that ends as a
// stopped sync when the network goes away.
namespace TransferSupport {

// Aborts the reply in flight so that none of its signals reaches `receiver`
// any more, and forgets it.
void abandon(QPointer<QNetworkReply> &reply, QObject *receiver);

// Without a network the run cannot go on, and a transfer that never starts
// would leave it waiting for ever: the sync ends as stopped.
void stopSyncOffline(SyncState &state);

// Why the service refused a transfer with this HTTP status, in words for the
// sync's outcome: "refused (quota full)", "HTTP status 500".
QString refusalReason(int status);

// A file's size for a person: "120 MiB", "1.5 MiB" (rounded up, so that a
// file over a limit never reads as the limit itself), "300 KiB".
QString sizeText(qint64 bytes);

// Reports the end of one song to the state's progress model, then calls `next`: at
// once, or from `context`'s event loop when `deferred` (nothing was sent, and
// a long row of such failures must not nest calls), and then only while
// `stillCurrent` answers yes.
void finishItem(SyncState &state, QObject *context, const QString &name, bool succeeded,
                const QString &reason, bool deferred, std::function<bool()> stillCurrent,
                std::function<void()> next);

} // namespace TransferSupport
