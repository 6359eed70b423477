#pragma once

#include <QString>

#include <optional>

// The store's named queries: each selects Audio records whose one column
// equals one substitution variable (an absent value matches absent fields).
struct NamedQuery {
    QString name;     // "audioByCode"
    QString entity;   // "Audio"
    QString column;   // the compared column
    QString variable; // the substitution variable's name
};

namespace NamedQueries {
// The query of that name, or nothing when the store defines none.
std::optional<NamedQuery> find(const QString &name);
} // namespace NamedQueries
