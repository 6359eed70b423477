#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

// Process-wide pool of text conversions and zero-filled blocks that live
// until the end of an entry-point call. On this platform texts are already in
// their multibyte and wide forms, so the conversions return their argument.
class MBCollection {
public:
    static MBCollection *getIncance();
    virtual ~MBCollection();

    char *getMBString(char *text) { return text; }
    const char *getMBString(const char *text) { return text; }
    char *getUnicodeString(char *text) { return text; }
    void *allocateNewItem(std::size_t count, std::size_t size);
    void clear();
    std::size_t itemCount();

private:
    MBCollection() = default;
    std::mutex mutex;
    std::vector<void *> items;
};
