// The server's SQL connection: one SQLite file for a household server, or a
// PostgreSQL database that any number of server processes share. Prepared
// statements with bound parameters, and transactions that roll back unless
// committed. Errors throw DbError; the request handlers turn them into replies.
//
// Statements are written once for both engines: `?` and `?N` parameters, and
// the few spellings that differ come from the Database (nocase, greatest …).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cloud {

class DbError : public std::runtime_error {
public:
    explicit DbError(const std::string &what, bool constraint = false)
        : std::runtime_error(what)
        , constraint_(constraint) {}
    // A uniqueness or reference rule refused the change.
    bool constraintViolation() const { return constraint_; }

private:
    bool constraint_ = false;
};

namespace sql {

// One prepared statement of a connection.
class Cursor {
public:
    virtual ~Cursor() = default;
    virtual void bindInteger(int index, std::int64_t value) = 0;
    virtual void bindText(int index, std::string_view value) = 0;
    virtual void bindBlob(int index, std::string_view value) = 0;
    virtual void bindNull(int index) = 0;
    virtual bool step() = 0;
    virtual std::int64_t integer(int column) const = 0;
    virtual std::string text(int column) const = 0;
    virtual bool isNull(int column) const = 0;
};

enum class Engine { SQLite, PostgreSQL };

class Connection {
public:
    virtual ~Connection() = default;
    virtual Engine engine() const = 0;
    virtual void exec(std::string_view sql) = 0;
    virtual std::unique_ptr<Cursor> prepare(std::string_view sql) = 0;
    virtual std::int64_t lastInsertId() = 0;
    virtual int changes() const = 0;
    // A write transaction. Writers are serialised across every process that
    // shares the database, as SQLite's immediate transactions are, so a read
    // followed by a write inside one sees no other writer in between.
    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
};

std::unique_ptr<Connection> openSqlite(const std::string &path, bool readOnly);
std::unique_ptr<Connection> openPostgres(const std::string &url);

} // namespace sql

class Database;

class Statement {
public:
    Statement(Database &db, std::string_view sql);
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
    std::unique_ptr<sql::Cursor> cursor_;
};

class Database {
public:
    enum class Mode { ReadWrite, ReadOnly };
    // `location` is a SQLite file's path, or a "postgresql://" address.
    explicit Database(const std::string &location, Mode mode = Mode::ReadWrite);
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    static bool isPostgresUrl(std::string_view location);

    void exec(std::string_view sql);
    std::int64_t lastInsertId() const;
    int changes() const;
    // A trivial query: throws DbError when the database does not answer (a
    // lost PostgreSQL connection is opened again first).
    void ping();
    sql::Engine engine() const { return engine_; }
    bool postgres() const { return engine_ == sql::Engine::PostgreSQL; }
    sql::Connection &connection() const { return *connection_; }

    // Spellings that differ between the engines.
    // `column` ordered and compared without regard to ASCII case.
    std::string nocase(std::string_view column) const;
    // The larger and smaller of two values (not the aggregates).
    const char *greatest() const { return postgres() ? "GREATEST" : "MAX"; }
    const char *least() const { return postgres() ? "LEAST" : "MIN"; }
    // Pattern matching that ignores ASCII case, as SQLite's LIKE does.
    const char *like() const { return postgres() ? "ILIKE" : "LIKE"; }
    // A table of (key, value) rows from one parameter holding integerList(),
    // key counting from 0 in the list's order.
    const char *integerRows() const;
    std::string integerList(const std::vector<std::int64_t> &values) const;

private:
    std::unique_ptr<sql::Connection> connection_;
    sql::Engine engine_;
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
