#pragma once

#include <QString>

#include <functional>

// An error as the client presents it to the user: a domain, a code, a
// description and an optional reason.
struct AppError {
    QString domain;
    int code = 0;
    QString description;
    QString failureReason;
};

// Error-report and alert hooks. The report hooks only log: they are where a
// crash or error reporter would plug in. Error presentation goes through one
// presenter that the desktop shell installs; until it does, errors are logged.
class Utils {
public:
    static void sendException(const QString &message, const QString &exception);
    static void sendError(const QString &message, const AppError &error);
    static void showAlert(const QString &text);

    // Returns whether the presentation resolved the error (the user fixed it).
    using ErrorPresenter = std::function<bool(const AppError &)>;
    static void setErrorPresenter(ErrorPresenter presenter);
    static bool presentError(const AppError &error);
};
