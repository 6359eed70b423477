#pragma once

#include <QSqlError>
#include <QString>

// A failure inside the store layer. Thrown only on the store thread and caught
// by the data-access operation that started the work, which turns it into its
// empty result; it never leaves the store.
class StoreError {
public:
    explicit StoreError(QString message)
        : m_message(std::move(message)) {}
    explicit StoreError(const QSqlError &error)
        : m_message(error.text()) {}
    const QString &message() const { return m_message; }

private:
    QString m_message;
};
