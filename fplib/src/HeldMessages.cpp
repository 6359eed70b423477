#include "HeldMessages.h"

#include <cerrno>
#include <cstring>

extern "C" {
#include <libavutil/log.h>
}

namespace {
thread_local HeldMessages *t_held = nullptr;

std::string formatted(const char *format, va_list arguments) {
    va_list again;
    va_copy(again, arguments);
    char small[256];
    const int length = std::vsnprintf(small, sizeof small, format, arguments);
    std::string text;
    if (length < 0) {
        // Not representable: nothing is printed, as fprintf would print nothing.
    } else if (static_cast<std::size_t>(length) < sizeof small) {
        text.assign(small, static_cast<std::size_t>(length));
    } else {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(again);
    return text;
}
} // namespace

HeldMessages::Scope::Scope(HeldMessages &held)
    : previous(t_held) {
    t_held = &held;
}

HeldMessages::Scope::~Scope() {
    t_held = previous;
}

void HeldMessages::print() {
    for (const Message &message : messages) {
        if (message.stream != nullptr) {
            std::fputs(message.text.c_str(), message.stream);
        } else {
            // Through av_log, so FFmpeg's printer sees the line as if it had
            // been logged now (its level filter, its repeat folding).
            av_log(nullptr, message.level, "%s", message.text.c_str());
        }
    }
    messages.clear();
    logLineStart = 1;
}

bool HeldMessages::keep(FILE *stream, const std::string &text) {
    if (t_held == nullptr) {
        return false;
    }
    t_held->messages.push_back(Message{stream, 0, text});
    return true;
}

void HeldMessages::holdFFmpegLog(bool hold) {
    av_log_set_callback(hold ? &HeldMessages::logLine : &av_log_default_callback);
}

void HeldMessages::logLine(void *context, int level, const char *format, va_list arguments) {
    HeldMessages *held = t_held;
    if (held == nullptr) {
        av_log_default_callback(context, level, format, arguments);
        return;
    }
    // The level without its colour bits, as FFmpeg's printer filters it.
    const int plainLevel = level >= 0 ? level & 0xff : level;
    if (plainLevel > av_log_get_level()) {
        return;
    }
    va_list again;
    va_copy(again, arguments);
    const int start = held->logLineStart;
    char line[1024];
    const int length = av_log_format_line2(context, plainLevel, format, arguments, line,
                                           static_cast<int>(sizeof line), &held->logLineStart);
    std::string text;
    if (length >= 0 && static_cast<std::size_t>(length) < sizeof line) {
        text.assign(line, static_cast<std::size_t>(length));
    } else if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        held->logLineStart = start;
        av_log_format_line2(context, plainLevel, format, again, text.data(),
                            static_cast<int>(text.size()), &held->logLineStart);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(again);
    held->messages.push_back(Message{nullptr, level, std::move(text)});
}

void PrintMessage(FILE *stream, const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const std::string text = formatted(format, arguments);
    va_end(arguments);
    if (!HeldMessages::keep(stream, text)) {
        std::fputs(text.c_str(), stream);
    }
}

void PrintSystemError(const char *text) {
    const int error = errno;
    if (t_held == nullptr) {
        errno = error;
        std::perror(text);
        return;
    }
    const std::string prefix = text != nullptr && text[0] != '\0' ? std::string(text) + ": " : "";
    HeldMessages::keep(stderr, prefix + std::strerror(error) + "\n");
}
