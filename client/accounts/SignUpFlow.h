#pragma once

#include "service/ServiceClient.h"
#include "store/RunContext.h"
#include "store/User.h"

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
    // What a registration came to: whether the service accepted it, and the
    // status to keep (the reply's status when `answered`, which replaces the
    // other status texts; otherwise the localised reason there was none).
    struct Registration {
        bool accepted = false;
        bool answered = false;
        QString status;
    };

    // The account to register: the texts as typed, id "1", this device.
    static UserPtr newUser(const Fields &fields, const QString &deviceID);
    // Sends the registration through `client` with the session cookie and
    // device ID of `context`. Blocks for one exchange: never call it on the
    // main thread.
    static Registration registerUser(const ServiceClient &client, const UserPtr &user,
                                     const RunContext &context);
};
