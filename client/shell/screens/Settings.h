#pragma once

#include "CustomView.h"
#include "TrackCounts.h"
#include "ui_Settings.h"

#include <QFutureWatcher>

// The settings overlay: the account and the service it lives on, where the
// collection lives (its folders by path) and where downloads go, how many
// of the stored tracks are synced, and the switches for timed syncs, start at login,
// usage statistics and desktop notifications. Made anew each time it is shown; it reads its
// values then and does not refresh while open.
class Settings : public CustomView {
    Q_OBJECT
public:
    explicit Settings(QWidget *parent = nullptr);

    // Display name of the chosen collection source.
    QString localPickedLibrary() const { return m_localPickedLibrary; }
    // True once the track counts have arrived (they are taken off the main thread).
    bool countsShown() const { return m_countsShown; }

public slots:
    void automaticallySyncToggle(bool on);
    void openAtLoginToggle(bool on);
    void showNotificationsToggle(bool on);
    void shareUsageToggle(bool on);
    // Either limit box changed: both limits are saved and take hold at once.
    void transferLimitsChanged();
    void syncOnMeteredToggle(bool on);
    // Pauses syncing, or resumes it when paused.
    void pauseSyncToggle();
    void changeCollectionLocation();
    // Asks for a new download folder (a sheet on this window; the answer
    // comes later) and shows it once chosen.
    void changeDownloadFolder();
    void logOut();
    void closeSettingsScreen();

signals:
    void countsArrived();

private:
    void showCounts(const TrackCounts &counts);
    void showPauseState();
    void showDownloadFolder();

    Ui::Settings ui;
    QString m_localPickedLibrary;
    QFutureWatcher<TrackCounts> m_counting;
    bool m_countsShown = false;
};
