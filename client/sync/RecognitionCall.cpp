#include "RecognitionCall.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace RecognitionCall {

ArgumentVector::ArgumentVector(const QStringList &items) {
    m_texts.reserve(size_t(items.size()));
    for (const QString &item : items)
        m_texts.push_back(item.toStdString());
    // Pointers are taken only once every text is in place: a text that moved
    // would leave a dangling pointer behind.
    m_pointers.reserve(m_texts.size() + 1);
    for (std::string &text : m_texts)
        m_pointers.push_back(text.data());
    m_pointers.push_back(nullptr);
}

namespace {
// The text before the first NUL, never reading past the buffer.
QByteArray textOf(const std::vector<char> &buffer) {
    const void *nul = std::memchr(buffer.data(), '\0', buffer.size());
    const size_t length =
        nul ? size_t(static_cast<const char *>(nul) - buffer.data()) : buffer.size();
    return QByteArray(buffer.data(), qsizetype(length));
}
// The recognition engine keeps one manager, and libtonemill one log
// callback and one collection, for the whole process: calls never overlap,
// whichever engine's stage queue makes them.
std::mutex g_oneCallAtATime;
} // namespace

Answer call(Function function, const QStringList &arguments, int responseSize, int userSize) {
    ArgumentVector argv(arguments);
    std::vector<char> response(size_t(std::max(responseSize, 1)), '\0');
    std::vector<char> user(size_t(std::max(userSize, 1)), '\0');
    Answer answer;
    std::lock_guard oneAtATime(g_oneCallAtATime);
    answer.result =
        function(argv.count(), argv.data(), response.data(), responseSize, user.data(), userSize);
    answer.response = textOf(response);
    answer.user = QString::fromUtf8(textOf(user));
    return answer;
}

} // namespace RecognitionCall
