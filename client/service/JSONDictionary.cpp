#include "JSONDictionary.h"

#include <cmath>

std::optional<QJsonValue> retrieveValue(const QJsonObject &dictionary, const QString &key) {
    const auto it = dictionary.constFind(key);
    if (it == dictionary.constEnd() || it->isNull() || it->isUndefined())
        return std::nullopt;
    return it.value();
}

bool containsKey(const QJsonObject &dictionary, const QString &key) {
    return dictionary.contains(key);
}

namespace JSONValues {

std::optional<QString> text(const QJsonObject &dictionary, const QString &key) {
    const auto value = retrieveValue(dictionary, key);
    if (!value || !value->isString())
        return std::nullopt;
    return value->toString();
}

std::optional<qint64> integer(const QJsonValue &value) {
    if (value.isBool())
        return value.toBool() ? 1 : 0;
    if (value.isDouble()) {
        const double d = std::trunc(value.toDouble());
        // 2^63 is exactly representable; anything at or beyond it does not fit.
        constexpr double limit = 9223372036854775808.0;
        if (!std::isfinite(d) || d >= limit || d < -limit)
            return std::nullopt;
        return qint64(d);
    }
    if (value.isString()) {
        bool ok = false;
        const qint64 n = value.toString().trimmed().toLongLong(&ok);
        if (ok)
            return n;
    }
    return std::nullopt;
}

std::optional<qint64> integer(const QJsonObject &dictionary, const QString &key) {
    const auto value = retrieveValue(dictionary, key);
    return value ? integer(*value) : std::nullopt;
}

std::optional<QString> identifier(const QJsonObject &dictionary, const QString &key) {
    const auto value = retrieveValue(dictionary, key);
    if (!value)
        return std::nullopt;
    if (value->isString())
        return value->toString();
    if (value->isDouble()) {
        if (const auto n = integer(*value); n && double(*n) == value->toDouble())
            return QString::number(*n);
        return QString::number(value->toDouble(), 'g', 17);
    }
    return std::nullopt;
}

} // namespace JSONValues
