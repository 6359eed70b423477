#pragma once

#include "ServiceClient.h"
#include "store/Audio.h"
#include "store/User.h"

#include <QByteArray>
#include <QJsonArray>
#include <QString>

#include <optional>

// The JSON body of every request the client sends, and the request signature
// that proves the account's credentials for login and sign-up. Stateless;
// the bodies that need a signature perform one exchange (the token request)
// through the client they are given, and must run off the main thread.
class JSONRequestBuilder {
public:
    // "loginDesktop" (with a fresh signature) or, for an account with a
    // Facebook token, "loginDesktopThroughFacebook". Nothing when the account
    // lacks a value the login needs.
    static std::optional<QByteArray> loginRequest(const ServiceClient &client, const User &user);
    // "registerWithErrorCodes", with a fresh signature.
    static std::optional<QByteArray> buildRegisterUserRequest(const ServiceClient &client,
                                                              const User &user);
    static QByteArray buildGetTokenRequest();
    static QByteArray buildStatusObject(const QString &status, int tracksFound);
    // The listing of the changes since `milliseconds` (0: everything).
    static QByteArray buildGetUserMediaRequest(qint64 milliseconds);
    static QByteArray buildNewUserHandleForGracenote(const QString &handle);
    // `withGNResponse` is the recognition result document: one object per
    // input file.
    static QByteArray
    buildMediaFromCatalogByChecksumOrFingerprint(const Audio &track,
                                                 const QJsonArray &withGNResponse);

    // A fresh token from the service, or NoToken when none could be had.
    static QString getUserToken(const ServiceClient &client, const UserPtr &user = {});
    // MD5 (upper-case hex) of username, password, device id and a fresh token.
    static QString getUserSignature(const ServiceClient &client, const User &user);

    static inline const QString NoToken = QStringLiteral("NO TOKEN!!!");
};
