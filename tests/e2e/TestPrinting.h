#pragma once

#include <QString>

#include <ostream>

// GoogleTest shows Qt strings as text rather than as their bytes.
inline void PrintTo(const QString &text, std::ostream *os) {
    *os << '"' << text.toStdString() << '"';
}
