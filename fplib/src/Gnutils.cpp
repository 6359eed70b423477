#include "Gnutils.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

long Gnutils::ReadFileToBuffer(const char *path, char **out) {
    if (path == nullptr || path[0] == '\0' || out == nullptr) {
        return -1;
    }
    FILE *file = std::fopen(path, "rb");
    if (file == nullptr) {
        std::printf("Unable to open %s", path);
        return -1;
    }
    long length = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        length = std::ftell(file);
    }
    if (length < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return -1;
    }
    char *text = static_cast<char *>(std::malloc(static_cast<std::size_t>(length) + 1));
    if (text == nullptr) {
        std::fclose(file);
        return -1;
    }
    // A file that shrank meanwhile yields what could be read.
    const std::size_t got = std::fread(text, 1, static_cast<std::size_t>(length), file);
    std::fclose(file);
    text[got] = '\0';
    *out = text;
    return static_cast<long>(got) + 1;
}

void Gnutils::AppendKeyValueToBuffer(char *buffer, int size, const char *key, const char *value) {
    if (buffer == nullptr || size <= 0 || key == nullptr || value == nullptr) {
        return;
    }
    const std::size_t used = strnlen(buffer, static_cast<std::size_t>(size));
    if (used < static_cast<std::size_t>(size)) {
        std::snprintf(buffer + used, static_cast<std::size_t>(size) - used + 1, "%s:%s\n", key,
                      value);
    }
    buffer[size] = '\0';
}
