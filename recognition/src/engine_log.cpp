#include "engine_log.h"

#include <ctime>

namespace recog {

EngineLog::~EngineLog() {
    disable();
}

bool EngineLog::enable(const std::string &path, uint32_t levelMask, uint64_t maxBytes,
                       std::string &error) {
    std::lock_guard lock(mutex_);
    FILE *f = std::fopen(path.c_str(), "a");
    if (!f) {
        error = "cannot open log file " + path;
        return false;
    }
    if (file_)
        std::fclose(file_);
    file_ = f;
    mask_ = levelMask;
    maxBytes_ = maxBytes;
    written_ = 0;
    return true;
}

void EngineLog::disable() {
    std::lock_guard lock(mutex_);
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
    mask_ = 0;
}

bool EngineLog::enabled(LogLevel level) const {
    std::lock_guard lock(mutex_);
    return file_ && (mask_ & uint32_t(level));
}

void EngineLog::capture(std::vector<std::string> *lines) {
    std::lock_guard lock(mutex_);
    captured_ = lines;
}

void EngineLog::write(LogLevel level, const std::string &message) {
    std::lock_guard lock(mutex_);
    if (captured_)
        captured_->push_back(message);
    if (!file_ || !(mask_ & uint32_t(level)))
        return;
    if (maxBytes_ && written_ > maxBytes_)
        return;
    const char *name = level == LogLevel::Error     ? "error"
                       : level == LogLevel::Warning ? "warning"
                       : level == LogLevel::Info    ? "info"
                                                    : "debug";
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tm);
    const int n = std::fprintf(file_, "%s [%s] %s\n", stamp, name, message.c_str());
    std::fflush(file_);
    if (n > 0)
        written_ += uint64_t(n);
}

} // namespace recog
