#pragma once

#include "store/User.h"

#include <QFuture>
#include <QString>

#include <optional>

// Creating an account on the service: the checks of the form, the account
// record, and the registration exchange. The screen decides what to show.
class SignUpFlow {
public:
    struct Fields {
        QString email;
        QString firstName;
        QString lastName;
        QString password;
        QString passwordConfirm;
        bool termsAccepted = false;
    };

    // The message key of the first failing check, or nothing when the form
    // may be sent. The texts are trimmed for the checks only.
    static std::optional<QString> validateFields(const Fields &fields);
    // The account to register: the texts as typed, id "1", this device.
    static UserPtr newUser(const Fields &fields);
    // Sends the registration and answers whether the service accepted it;
    // on refusal the coordinator's syncStatus holds the localised reason.
    // Blocks for one exchange: never call it on the main thread.
    static bool registerUser(const UserPtr &user);
    static QFuture<bool> registerUserInBackground(const UserPtr &user);
};
