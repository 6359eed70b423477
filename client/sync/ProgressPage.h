#pragma once

#include <QObject>
#include <QString>

#include "Guarded.h"

// What the progress page shows besides the sync's progress (the bar, the
// percentage and the current track come from the progress model), kept by
// the coordinator whether or not a page is on screen. Setters may be called from any thread;
// `changed` is emitted on the caller's thread, so a page connects to it with an automatic (queued
// across threads) connection and reads `state()`.
class ProgressPage : public QObject {
    Q_OBJECT
public:
    struct State {
        QString description; // the text field with tag 112
        QString textContent; // the page's main text
        QString syncButtonTitle = QStringLiteral("Sync");
        bool syncButtonHidden = false;
        bool doneButtonHidden = false;
        // The ways on while a sync runs (a new account's Continue); a page
        // shows them only while `syncRunning`.
        bool nextArrowHidden = true;
        bool noNeedToWaitHidden = true;
        bool launchButtonHidden = true;
        bool syncRunning = false;
    };

    State state() const;

    void setDescription(const QString &text);
    void setTextContent(const QString &text);
    void setSyncButtonTitle(const QString &title);
    // The buttons that depend on whether the account is new to this installation.
    void showNewUserFlow(bool newUser);
    // Reveals the next arrow, the no-need-to-wait text and the launch button.
    void showLaunchControls();
    // A sync has started.
    void beginSync();
    // The sync has ended, however: the page offers Sync and Done, and the
    // controls that only a running sync has are hidden again.
    void endSync();

signals:
    void changed();

private:
    template <typename F> void update(F &&change);

    Guarded<State> m_state;
};
