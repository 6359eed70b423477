#pragma once

#include <QString>

#include <optional>

// A self-signed certificate (PEM) and its key for the names a test server
// answers on, 127.0.0.1 and localhost, made with the openssl command.
struct TestCertificate {
    QString certificateFile;
    QString keyFile;

    // Writes `<name>.pem` and `<name>.key` into `folder`; nothing when the
    // openssl command fails.
    static std::optional<TestCertificate> make(const QString &folder, const QString &name);
};
