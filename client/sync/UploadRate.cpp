#include "UploadRate.h"

#include "settings/NSDefaultsUtility.h"
#include "settings/PreferenceKeys.h"

#include <cmath>

std::optional<double> UploadRate::measured(const NSDefaultsUtility &preferences) {
    const std::optional<double> rate = preferences.number(PreferenceKeys::LastUploadBytesPerSecond);
    if (!rate || !std::isfinite(*rate) || *rate <= 0)
        return std::nullopt;
    return rate;
}

qint64 UploadRate::secondsFor(qint64 bytes, double bytesPerSecond) {
    if (bytes <= 0 || bytesPerSecond <= 0)
        return 0;
    return std::max<qint64>(1, qint64(std::ceil(double(bytes) / bytesPerSecond)));
}

void UploadRate::beginRun() {
    m_bytes = 0;
    m_nanoseconds = 0;
    m_timer.invalidate();
}

void UploadRate::uploadStarted() {
    m_timer.start();
}

void UploadRate::uploadSucceeded(qint64 bytes) {
    if (!m_timer.isValid() || bytes <= 0)
        return;
    m_bytes += bytes;
    // A file on a fast link may go up within a millisecond: at least one
    // microsecond, so that the rate stays finite.
    m_nanoseconds += std::max<qint64>(1000, m_timer.nsecsElapsed());
    m_timer.invalidate();
    m_preferences.setNumber(PreferenceKeys::LastUploadBytesPerSecond,
                            double(m_bytes) * 1e9 / double(m_nanoseconds));
    m_preferences.synchronize();
}
