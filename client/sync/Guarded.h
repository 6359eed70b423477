#pragma once

#include <mutex>
#include <utility>

// A value shared between threads: read as a copy, written whole or changed in
// place, always under its own lock.
template <typename T> class Guarded {
public:
    Guarded() = default;
    explicit Guarded(T value)
        : m_value(std::move(value)) {}

    T get() const {
        std::lock_guard lock(m_lock);
        return m_value;
    }
    void set(T value) {
        std::lock_guard lock(m_lock);
        m_value = std::move(value);
    }
    template <typename F> void update(F &&change) {
        std::lock_guard lock(m_lock);
        change(m_value);
    }

private:
    mutable std::mutex m_lock;
    T m_value{};
};
