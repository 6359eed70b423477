#pragma once

#include "sync/SyncProgress.h"

#include <QObject>

// Desktop notifications for what needs the person, whatever the settings
// say: a sign-in that is needed, a sync that failed, uploads the service
// refused because the cloud library is full. Summaries of a sync that went
// through come from the sync itself, and only when the person asked for
// them in the settings ("Tell me when a sync has finished"); with that
// switch on, the sync's own summary already names refused uploads.
class Notifications : public QObject {
    Q_OBJECT
public:
    explicit Notifications(SyncProgress &progress, QObject *parent = nullptr);

    // The stored account was refused at start: its password must be given
    // again. Answers whether the notification was handed to someone.
    bool signInNeeded();

private:
    void onEvent(const SyncProgress::Event &event);

    // The failure told last: a sync tried again that fails the same way is
    // not told again until a sync has gone through.
    QString m_failureTold;
};
