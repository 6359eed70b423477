#pragma once

#include "store/User.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>

// What the service client writes to the log in place of secrets: passwords,
// tokens, signatures and the session cookie never reach a log line.
namespace SecretMasking {

// "********" for a non-empty secret; empty text stays empty, so the log
// still tells an empty value from a set one.
QString masked(const QString &secret);
// A copy of the JSON value with the value of every secret member masked, at
// any depth.
QJsonValue maskedJson(const QJsonValue &value);
// The text of a request or reply body for the log: JSON with its secrets
// masked, other text as it stands; long bodies are cut with a note of their
// size.
QString bodyForLog(const QByteArray &body);
// An account for the log: its id, user name and device ID, and its password
// and token masked.
QString describe(const User &user);
// The longest body text a log line carries.
inline constexpr qsizetype MaximumLoggedBody = 4096;

} // namespace SecretMasking
