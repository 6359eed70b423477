#include "JSONGenerator.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

JSONGenerator::JSONGenerator()
    : textBuffer(static_cast<char *>(std::malloc(4096)))
    , itemCounts{0} {
    if (textBuffer == nullptr) {
        // The callers have no error path: running on without a buffer would
        // only corrupt the result document.
        std::fputs("JSONGenerator: out of memory\n", stderr);
        std::abort();
    }
    textBuffer[0] = '\0';
}

JSONGenerator::~JSONGenerator() {
    std::free(textBuffer);
}

void JSONGenerator::OpenObject(const char *name) {
    CreateChild("{", name);
}
void JSONGenerator::OpenArray(const char *name) {
    CreateChild("[", name);
}
void JSONGenerator::CloseObject() {
    CloseChild("}");
}
void JSONGenerator::CloseArray() {
    CloseChild("]");
}

void JSONGenerator::PrepareNewItemLine() {
    if (itemCounts.back() > 0) {
        WriteToBuffer(",\n", false);
    } else if (itemCounts.size() > 1) {
        WriteToBuffer("\n", false);
    }
    ++itemCounts.back();
}

void JSONGenerator::WriteName(const char *name) {
    if (name == nullptr) {
        return;
    }
    WriteToBuffer("\"", false);
    WriteToBuffer(name, true);
    WriteToBuffer("\": ", false);
}

void JSONGenerator::CreateChild(const char *opener, const char *name) {
    PrepareNewItemLine();
    WriteName(name);
    WriteToBuffer(opener, false);
    ++depth;
    itemCounts.push_back(0);
}

void JSONGenerator::CloseChild(const char *closer) {
    if (itemCounts.back() > 0) {
        WriteToBuffer("\n", false);
    }
    --depth;
    // A close without an open is a caller error; never leave the stack empty.
    if (itemCounts.size() > 1) {
        itemCounts.pop_back();
    }
    WriteToBuffer(closer, false);
}

void JSONGenerator::AddString(const char *name, const char *value) {
    if (value == nullptr) {
        return;
    }
    PrepareNewItemLine();
    WriteName(name);
    WriteToBuffer("\"", false);
    WriteToBuffer(value, true);
    WriteToBuffer("\"", false);
}

void JSONGenerator::AddJSONAsString(const char *text) {
    if (text == nullptr) {
        return;
    }
    PrepareNewItemLine();
    WriteToBufferLines(text);
}

void JSONGenerator::WriteToBufferLines(const char *text) {
    const char *line = text;
    for (;;) {
        const char *newline = std::strchr(line, '\n');
        if (newline == nullptr) {
            WriteToBuffer(line, std::strlen(line), false);
            return;
        }
        WriteToBuffer(line, static_cast<std::size_t>(newline - line), false);
        WriteToBuffer("\n", false);
        line = newline + 1;
    }
}

void JSONGenerator::WriteToBuffer(const char *text, bool escape) {
    if (text == nullptr) {
        return;
    }
    WriteToBuffer(text, std::strlen(text), escape);
}

void JSONGenerator::WriteToBuffer(const char *text, std::size_t length, bool escape) {
    if (atLineStart) {
        for (int32_t i = 0; i < depth; ++i) {
            PrintToBuffer("\t", 1, false);
        }
    }
    PrintToBuffer(text, length, escape);
}

void JSONGenerator::StoreByte(char byte) {
    while (textLength + 1 >= static_cast<std::size_t>(bufferSize)) {
        ExtendBufferSize();
    }
    textBuffer[textLength++] = byte;
}

void JSONGenerator::PrintToBuffer(const char *text, std::size_t length, bool escape) {
    for (std::size_t i = 0; i < length; ++i) {
        const char c = text[i];
        if (escape) {
            const char letter = GetEscapingChar(static_cast<unsigned char>(c));
            if (letter != '\0') {
                StoreByte('\\');
                StoreByte(letter);
            } else {
                StoreByte(c);
            }
        } else {
            StoreByte(c);
            if (c != '\0') {
                atLineStart = (c == '\n');
            }
        }
    }
    textBuffer[textLength] = '\0';
}

void JSONGenerator::ExtendBufferSize() {
    const int32_t newSize = bufferSize * 2;
    char *grown = static_cast<char *>(std::realloc(textBuffer, static_cast<std::size_t>(newSize)));
    if (grown == nullptr || newSize <= bufferSize) {
        std::fputs("JSONGenerator: cannot grow the text buffer\n", stderr);
        std::abort();
    }
    textBuffer = grown;
    bufferSize = newSize;
    textBuffer[bufferSize - 1] = '\0';
}

char JSONGenerator::GetEscapingChar(unsigned char byte) {
    switch (byte) {
    case 0x08:
        return 'b';
    case 0x09:
        return 't';
    case 0x0A:
        return 'n';
    case 0x0C:
        return 'f';
    case 0x0D:
        return 'r';
    case 0x22:
        return '"';
    case 0x2F:
        return '/';
    case 0x5C:
        return '\\';
    default:
        return '\0';
    }
}
