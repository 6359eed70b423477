#include "PauseCommands.h"

#include "EngineInstance.h"
#include "engine/Sonarbox.h"

namespace PauseCommands {

namespace {

QString state() {
    const SyncPause &pause = Sonarbox::instance().syncPause();
    if (pause.pausedByUser())
        return QStringLiteral("ok Syncing paused.");
    const QString status = pause.statusText();
    return status.isEmpty() ? QStringLiteral("ok Syncing resumed.")
                            : QStringLiteral("ok Syncing resumed; still %1.").arg(status);
}

} // namespace

void install(EngineInstance &instance) {
    for (const bool pause : {true, false}) {
        instance.setHandler(pause ? QStringLiteral("pause") : QStringLiteral("resume"),
                            [pause](const QString &) {
                                Sonarbox::instance().syncPause().setPausedByUser(pause);
                                return state();
                            });
    }
}

std::optional<QString> send(const QString &storeFolder, bool pause) {
    return EngineInstance::send(storeFolder,
                                pause ? QStringLiteral("pause") : QStringLiteral("resume"));
}

} // namespace PauseCommands
