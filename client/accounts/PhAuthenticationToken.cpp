#include "PhAuthenticationToken.h"

PhAuthenticationToken::PhAuthenticationToken(const QString &token, double secondsToExpiry,
                                             const QString &permissions)
    : m_authenticationToken(token)
    , m_permissions(permissions) {
    if (secondsToExpiry != 0)
        m_expiry = QDateTime::currentDateTimeUtc().addMSecs(qint64(secondsToExpiry * 1000.0));
}
