#include "TrayStatus.h"

namespace TrayStatus {

TrayState stateFor(bool signedIn, bool offline, bool syncing, qint64 lastSyncFailures) {
    if (offline)
        return TrayState::Offline;
    if (!signedIn)
        return TrayState::NeedsAttention;
    if (syncing)
        return TrayState::Syncing;
    return lastSyncFailures > 0 ? TrayState::NeedsAttention : TrayState::Idle;
}

QString toolTip(const QString &statusLine, const QString &lastSyncSummary) {
    QString tip = QStringLiteral("Sonarbox");
    if (!statusLine.isEmpty())
        tip += QStringLiteral(" — ") + statusLine;
    if (!lastSyncSummary.isEmpty())
        tip += QLatin1Char('\n') + lastSyncSummary;
    return tip;
}

} // namespace TrayStatus
