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

void ChangeSettler::syncStarted() {
    m_syncing = true;
}

void ChangeSettler::syncEnded() {
    m_syncing = false;
}

std::optional<ChangeSettler::TimePoint> ChangeSettler::dueAt() const {
    if (m_syncing || !m_first)
        return std::nullopt;
    return std::min(m_last + m_quiet, *m_first + m_longest);
}

bool ChangeSettler::takeDue(TimePoint now) {
    const std::optional<TimePoint> due = dueAt();
    if (!due || now < *due)
        return false;
    clear();
    return true;
}

void ChangeSettler::clear() {
    m_first.reset();
    m_last = {};
}
