#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

// Safe reading of reply members. Replies come from the network, so every
// member may be missing, JSON null, or of an unexpected type; these helpers
// turn all of that into "absent" instead of a wrong value.

// The member's value when the key is present and the value is not null.
std::optional<QJsonValue> retrieveValue(const QJsonObject &dictionary, const QString &key);
// Whether the key is among the object's keys (also when its value is null).
bool containsKey(const QJsonObject &dictionary, const QString &key);

namespace JSONValues {

// Text members: only JSON strings count.
std::optional<QString> text(const QJsonObject &dictionary, const QString &key);
// Integer members: a JSON number (truncated toward zero, when it fits in 64
// bits), a text holding a decimal integer, or a boolean (0/1).
std::optional<qint64> integer(const QJsonObject &dictionary, const QString &key);
std::optional<qint64> integer(const QJsonValue &value);
// Identifier members: a number as decimal text, or a text as it stands.
std::optional<QString> identifier(const QJsonObject &dictionary, const QString &key);

} // namespace JSONValues
