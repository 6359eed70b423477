// A thin RAII layer over the SQLite C interface: one connection, prepared
// statements with bound parameters, and transactions that roll back unless
// committed. Errors throw DbError; the request handlers turn them into replies.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace cloud {

class DbError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Database;

class Statement {
public:
    Statement(Database &db, std::string_view sql);
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int index, std::int64_t value);
    Statement &bind(int index, int value) { return bind(index, static_cast<std::int64_t>(value)); }
    Statement &bind(int index, std::string_view value);
    Statement &bind(int index, const char *value) { return bind(index, std::string_view(value)); }
    Statement &bind(int index, const std::string &value) {
        return bind(index, std::string_view(value));
    }
    Statement &bindBlob(int index, std::string_view value);
    Statement &bindNull(int index);
    Statement &bind(int index, const std::optional<std::string> &value);

    // Advances to the next row; false when done.
    bool step();
    // Runs a statement that returns no rows.
    void run();

    std::int64_t integer(int column) const;
    std::string text(int column) const;
    bool isNull(int column) const;
    std::optional<std::string> optionalText(int column) const;

private:
    Database &db_;
    sqlite3_stmt *stmt_ = nullptr;
};

class Database {
public:
    enum class Mode { ReadWrite, ReadOnly };
    explicit Database(const std::string &path, Mode mode = Mode::ReadWrite);
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    void exec(std::string_view sql);
    std::int64_t lastInsertId() const;
    int changes() const;
    sqlite3 *handle() { return db_; }
    [[noreturn]] void fail(std::string_view what) const;

private:
    sqlite3 *db_ = nullptr;
};

class Transaction {
public:
    explicit Transaction(Database &db);
    ~Transaction();
    void commit();

private:
    Database &db_;
    bool done_ = false;
};

} // namespace cloud
