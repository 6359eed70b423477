#pragma once

#include <QElapsedTimer>

#include <optional>

class NSDefaultsUtility;

// The measured rate of the uploads: the upload stage times the files it
// sends and keeps the rate of its last run's uploads in the preferences, from
// which a preview of a sync estimates how long its uploads would take.
class UploadRate {
public:
    // Keeps the rate in `preferences`.
    explicit UploadRate(const NSDefaultsUtility &preferences)
        : m_preferences(preferences) {}

    // Bytes per second of the last uploads, or nothing when none was measured.
    static std::optional<double> measured(const NSDefaultsUtility &preferences);
    // Seconds that `bytes` take at `bytesPerSecond` (at least 1 for any bytes).
    static qint64 secondsFor(qint64 bytes, double bytesPerSecond);

    // A new run: its uploads replace the rate once one of them succeeded.
    void beginRun();
    void uploadStarted();
    // A file's `bytes` went up: the run's rate so far is kept.
    void uploadSucceeded(qint64 bytes);

private:
    const NSDefaultsUtility &m_preferences;
    QElapsedTimer m_timer;
    qint64 m_bytes = 0;
    qint64 m_nanoseconds = 0;
};
