#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

// Messages printed while a file is prepared (its digest and its decoding):
// the library's own lines and FFmpeg's log lines. Worker threads prepare
// files ahead of the caller; each file's messages are held and printed when
// the caller reaches that file, so the output is exactly that of one thread.
class HeldMessages {
public:
    // While a Scope is alive, the messages of its thread go into `held`.
    class Scope {
    public:
        explicit Scope(HeldMessages &held);
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        HeldMessages *previous;
    };

    // Prints what is held, in the order it was written, and forgets it.
    void print();
    bool empty() const { return messages.empty(); }

    // Keeps `text` for `stream` when this thread holds its messages; false
    // when the caller is to print it now.
    static bool keep(FILE *stream, const std::string &text);

    // true: FFmpeg's log lines go through the holding (the lines of threads
    // that hold nothing still go straight to FFmpeg's own printer); false:
    // FFmpeg's own printer again.
    static void holdFFmpegLog(bool hold);

private:
    static void logLine(void *context, int level, const char *format, va_list arguments);

    struct Message {
        FILE *stream; // null: an FFmpeg log line of `level`
        int level;
        std::string text;
    };
    std::vector<Message> messages;
    int logLineStart = 1; // FFmpeg's "a prefix is due" state for these lines
};

// fprintf for the messages of a file's preparation; held while a Scope is
// alive on the calling thread.
void PrintMessage(FILE *stream, const char *format, ...) __attribute__((format(printf, 2, 3)));
// perror, likewise.
void PrintSystemError(const char *text);
