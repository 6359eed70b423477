#include "ProgressPage.h"

ProgressPage::State ProgressPage::state() const {
    return m_state.get();
}

template <typename F> void ProgressPage::update(F &&change) {
    m_state.update(change);
    emit changed();
}

void ProgressPage::setDescription(const QString &text) {
    update([&](State &s) { s.description = text; });
}

void ProgressPage::setTextContent(const QString &text) {
    update([&](State &s) { s.textContent = text; });
}

void ProgressPage::setSyncButtonTitle(const QString &title) {
    update([&](State &s) { s.syncButtonTitle = title; });
}

void ProgressPage::showNewUserFlow(bool newUser) {
    update([&](State &s) {
        s.syncButtonHidden = newUser;
        s.doneButtonHidden = newUser;
        s.nextArrowHidden = true;
        s.noNeedToWaitHidden = true;
        s.launchButtonHidden = true;
    });
}

void ProgressPage::showLaunchControls() {
    update([](State &s) {
        s.nextArrowHidden = false;
        s.noNeedToWaitHidden = false;
        s.launchButtonHidden = false;
    });
}

void ProgressPage::beginSync() {
    update([](State &s) { s.syncRunning = true; });
}

void ProgressPage::endSync() {
    update([](State &s) {
        s.syncRunning = false;
        s.syncButtonTitle = QStringLiteral("Sync");
        s.syncButtonHidden = false;
        s.doneButtonHidden = false;
        s.nextArrowHidden = true;
        s.noNeedToWaitHidden = true;
        s.launchButtonHidden = true;
    });
}
