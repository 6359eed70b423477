#include "TransferSupport.h"

#include "SyncState.h"
#include "settings/Logging.h"

#include <QNetworkReply>

#include <cmath>

namespace TransferSupport {

void abandon(QPointer<QNetworkReply> &reply, QObject *receiver) {
    if (QNetworkReply *r = reply) {
        reply = nullptr;
        QObject::disconnect(r, nullptr, receiver, nullptr);
        r->abort();
        r->deleteLater();
    }
}

void stopSyncOffline(SyncState &state) {
    qCWarning(lcSync) << "!!! APP OFFLINE";
    state.stopSyncAction();
    state.applicationWasStopped();
}

void finishItem(SyncState &state, QObject *context, const QString &name, bool succeeded,
                const QString &reason, bool deferred, std::function<bool()> stillCurrent,
                std::function<void()> next) {
    state.syncProgress().finishItem(
        name, succeeded ? SyncProgress::Outcome::Succeeded : SyncProgress::Outcome::Failed, reason);
    if (!deferred) {
        next();
        return;
    }
    QMetaObject::invokeMethod(
        context,
        [stillCurrent = std::move(stillCurrent), next = std::move(next)] {
            if (stillCurrent())
                next();
        },
        Qt::QueuedConnection);
}

QString sizeText(qint64 bytes) {
    constexpr qint64 kKiB = 1024;
    constexpr qint64 kMiB = 1024 * kKiB;
    if (bytes < kMiB)
        return QStringLiteral("%1 KiB").arg((bytes + kKiB - 1) / kKiB);
    if (bytes % kMiB == 0)
        return QStringLiteral("%1 MiB").arg(bytes / kMiB);
    return QStringLiteral("%1 MiB").arg(std::ceil(double(bytes) * 10 / kMiB) / 10, 0, 'f', 1);
}

QString refusalReason(int status) {
    switch (status) {
    case 401:
    case 403:
        return QStringLiteral("refused (not signed in)");
    case 413:
        return QStringLiteral("refused (file too large)");
    case 415:
        return QStringLiteral("refused (not an accepted audio file)");
    case 507:
        return QStringLiteral("refused (quota full)");
    default:
        return QStringLiteral("HTTP status %1").arg(status);
    }
}

} // namespace TransferSupport
