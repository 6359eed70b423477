#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// A Facebook access token with its expiry and the permissions it was granted
// for (the permission names joined by ",").
class PhAuthenticationToken {
public:
    // The expiry is now plus `secondsToExpiry`; exactly 0 means the token
    // never expires.
    PhAuthenticationToken(const QString &token, double secondsToExpiry, const QString &permissions);

    QString authenticationToken() const { return m_authenticationToken; }
    std::optional<QDateTime> expiry() const { return m_expiry; }
    QString permissions() const { return m_permissions; }

    // No expiry, or an expiry not earlier than `now`.
    bool isValidAt(const QDateTime &now) const { return !m_expiry || *m_expiry >= now; }

private:
    QString m_authenticationToken;
    std::optional<QDateTime> m_expiry;
    QString m_permissions;
};
