#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

// One call of the recognition library (libtonemill's calling convention): the
// argument texts and both buffers belong to the caller, are allocated before
// the call and released after it.
namespace RecognitionCall {

using Function = int (*)(int argc, char *argv[], char *responseBuffer, int responseSize,
                         char *userBuffer, int userSize);

// The argument vector: NUL-terminated UTF-8 copies of the texts and a
// null-terminated array of pointers to them, released with the object.
class ArgumentVector {
public:
    explicit ArgumentVector(const QStringList &items);
    ArgumentVector(const ArgumentVector &) = delete;
    ArgumentVector &operator=(const ArgumentVector &) = delete;

    int count() const { return int(m_texts.size()); }
    char **data() { return m_pointers.data(); }

private:
    std::vector<std::string> m_texts;
    std::vector<char *> m_pointers;
};

struct Answer {
    int result = 0;
    QByteArray response; // the result document, up to its NUL
    QString user;        // the serialised recognition user handed back, or empty
};

// Calls `function` with the arguments, a result buffer of `responseSize`
// bytes and a user buffer of `userSize` bytes, both starting with a NUL.
// One call at a time in the whole process: a second waits for the first.
Answer call(Function function, const QStringList &arguments, int responseSize, int userSize);

} // namespace RecognitionCall
