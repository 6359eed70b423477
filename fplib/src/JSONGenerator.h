#pragma once

#include <cstdint>
#include <vector>

// Streaming writer of human-readable JSON: one item per line, nesting shown by
// tabs, every scalar a string. It never holds a tree; the text grows in one
// buffer that doubles from 4096 bytes.
class JSONGenerator {
public:
    JSONGenerator();
    ~JSONGenerator();
    JSONGenerator(const JSONGenerator &) = delete;
    JSONGenerator &operator=(const JSONGenerator &) = delete;

    void OpenObject(const char *name);
    void OpenArray(const char *name);
    void CloseObject();
    void CloseArray();
    // A null value writes nothing, not even the separator.
    void AddString(const char *name, const char *value);
    // Embeds a text written by another generator as one item, re-indented to
    // the current depth line by line. The text is left unchanged.
    void AddJSONAsString(const char *text);
    // Valid until the next write or the generator's destruction.
    const char *getJSONString() const { return textBuffer; }

    static char GetEscapingChar(unsigned char byte);

private:
    void CreateChild(const char *opener, const char *name);
    void CloseChild(const char *closer);
    void PrepareNewItemLine();
    void WriteName(const char *name);
    void WriteToBuffer(const char *text, bool escape);
    void WriteToBuffer(const char *text, std::size_t length, bool escape);
    void WriteToBufferLines(const char *text);
    void PrintToBuffer(const char *text, std::size_t length, bool escape);
    void StoreByte(char byte);
    void ExtendBufferSize();

    char *textBuffer = nullptr;
    int32_t bufferSize = 4096;
    // Length of the text in textBuffer: kept instead of measured on every
    // append, so large documents are written in linear time.
    std::size_t textLength = 0;
    int32_t depth = 0;
    bool atLineStart = true;
    std::vector<int32_t> itemCounts;
};
