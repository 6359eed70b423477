#include "NamedQueries.h"

#include <array>

namespace NamedQueries {

std::optional<NamedQuery> find(const QString &name) {
    static const std::array<NamedQuery, 2> queries{{
        {QStringLiteral("audioByCode"), QStringLiteral("Audio"), QStringLiteral("checksum"),
         QStringLiteral("checksum")},
        {QStringLiteral("audioByUserMediaID"), QStringLiteral("Audio"),
         QStringLiteral("userMediaID"), QStringLiteral("userMediaID")},
    }};
    for (const auto &query : queries) {
        if (query.name == name)
            return query;
    }
    return std::nullopt;
}

} // namespace NamedQueries
