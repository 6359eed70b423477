#pragma once

// Small file and text helpers of the entry points.
class Gnutils {
public:
    // Length + 1 with a newly allocated NUL-terminated copy of the whole file
    // in *out (free()), or -1.
    static long ReadFileToBuffer(const char *path, char **out);
    // Appends "key:value\n" after the text in buffer, within size bytes of
    // text, and stores a NUL at position size (buffer holds size + 1 bytes).
    static void AppendKeyValueToBuffer(char *buffer, int size, const char *key, const char *value);
};
