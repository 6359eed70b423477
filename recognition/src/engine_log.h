#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace recog {

enum class LogLevel : uint32_t { Error = 0x01, Warning = 0x02, Info = 0x04, Debug = 0x08 };

// The engine's log file: one line per event, off until enabled. Safe to use
// from the query worker and the caller's thread at once.
class EngineLog {
public:
    ~EngineLog();
    bool enable(const std::string &path, uint32_t levelMask, uint64_t maxBytes, std::string &error);
    void disable();
    bool enabled(LogLevel level) const;
    void write(LogLevel level, const std::string &message);
    // Every line from now on (at any level) is also kept in `lines`, which
    // must outlive this log or the next capture(nullptr).
    void capture(std::vector<std::string> *lines);

private:
    mutable std::mutex mutex_;
    FILE *file_ = nullptr;
    uint32_t mask_ = 0;
    uint64_t maxBytes_ = 0;
    uint64_t written_ = 0;
    std::vector<std::string> *captured_ = nullptr;
};

} // namespace recog
