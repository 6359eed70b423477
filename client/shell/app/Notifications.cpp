#include "Notifications.h"

#include "engine/Sonarbox.h"
#include "sync/DesktopNotifier.h"

#include <utility>

namespace {

// "Sync stopped" is the person's own stop; one with a reason could not go on.
const QString kStoppedBecause = QStringLiteral("Sync stopped: ");

qint64 quotaRefusals(const SyncProgress::State &state) {
    qint64 count = 0;
    for (const SyncProgress::State::Failures &failure : state.failures) {
        if (failure.stage == SyncProgress::Stage::Uploading &&
            failure.reason.contains(QLatin1String("quota")))
            count += failure.count;
    }
    return count;
}

} // namespace

Notifications::Notifications(SyncProgress &progress, QObject *parent)
    : QObject(parent) {
    qRegisterMetaType<SyncProgress::Event>();
    connect(&progress, &SyncProgress::event, this, &Notifications::onEvent, Qt::QueuedConnection);
}

bool Notifications::signInNeeded() {
    return DesktopNotifier::notify(
        QStringLiteral("Sign-in needed"),
        QStringLiteral("Sonarbox could not sign you in. Open Sonarbox and "
                       "sign in again to keep your music in step."));
}

void Notifications::onEvent(const SyncProgress::Event &event) {
    if (event.kind != SyncProgress::Event::Kind::SyncEnded)
        return;
    if (event.detail.startsWith(kStoppedBecause)) {
        if (event.detail == std::exchange(m_failureTold, event.detail))
            return;
        DesktopNotifier::notify(QStringLiteral("Sync failed"),
                                QStringLiteral("The sync could not go on: %1.")
                                    .arg(event.detail.mid(kStoppedBecause.size())));
        return;
    }
    m_failureTold.clear();
    const qint64 refused = quotaRefusals(event.state);
    if (refused > 0 && !Sonarbox::instance().settings_showNotifications) {
        DesktopNotifier::notify(
            QStringLiteral("Uploads refused"),
            refused == 1
                ? QStringLiteral("1 track was not uploaded: your cloud library is full.")
                : QStringLiteral("%1 tracks were not uploaded: your cloud library is full.")
                      .arg(refused));
    }
}
