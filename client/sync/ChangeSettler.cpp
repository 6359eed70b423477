#include "ChangeSettler.h"

#include <algorithm>

ChangeSettler::ChangeSettler(Duration quiet, Duration longest)
    : m_quiet(quiet)
    , m_longest(longest) {}

void ChangeSettler::setIntervals(Duration quiet, Duration longest) {
    m_quiet = quiet;
    m_longest = longest;
}

void ChangeSettler::changed(TimePoint now) {
    if (!m_first)
        m_first = now;
    m_last = std::max(m_last, now);
}

void ChangeSettler::opened(const QString &file, TimePoint now) {
    if (m_open.contains(file))
        return;
    m_open.insert(file);
    // Its first write is the change that starts the longest wait.
    changed(now);
}

void ChangeSettler::closed(const QString &file, TimePoint now) {
    m_open.remove(file);
    changed(now);
}

void ChangeSettler::syncStarted() {
    m_syncing = true;
}

void ChangeSettler::syncEnded() {
    m_syncing = false;
}

std::optional<ChangeSettler::TimePoint> ChangeSettler::dueAt() const {
    if (m_syncing || !m_first)
        return std::nullopt;
    const TimePoint latest = *m_first + m_longest;
    if (!m_open.isEmpty())
        return latest;
    return std::min(m_last + m_quiet, latest);
}

bool ChangeSettler::takeDue(TimePoint now) {
    const std::optional<TimePoint> due = dueAt();
    if (!due || now < *due)
        return false;
    m_first.reset();
    m_last = {};
    return true;
}

void ChangeSettler::clear() {
    m_first.reset();
    m_last = {};
    m_open.clear();
}
