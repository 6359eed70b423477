// The household server's database: one SQLite file.
#include "Database.h"

#include <sqlite3.h>

namespace cloud::sql {

namespace {

[[noreturn]] void fail(sqlite3 *db, std::string_view what) {
    const int code = sqlite3_errcode(db);
    throw DbError(std::string(what) + ": " + sqlite3_errmsg(db), code == SQLITE_CONSTRAINT);
}

class SqliteCursor final : public Cursor {
public:
    SqliteCursor(sqlite3 *db, std::string_view sql)
        : db_(db) {
        if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr) !=
            SQLITE_OK)
            fail(db_, "prepare");
    }
    ~SqliteCursor() override { sqlite3_finalize(stmt_); }

    void bindInteger(int index, std::int64_t value) override {
        check(sqlite3_bind_int64(stmt_, index, value));
    }
    void bindText(int index, std::string_view value) override {
        check(sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                                SQLITE_TRANSIENT));
    }
    void bindBlob(int index, std::string_view value) override {
        check(sqlite3_bind_blob(stmt_, index, value.data(), static_cast<int>(value.size()),
                                SQLITE_TRANSIENT));
    }
    void bindNull(int index) override { check(sqlite3_bind_null(stmt_, index)); }

    bool step() override {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        fail(db_, "step");
    }

    std::int64_t integer(int column) const override { return sqlite3_column_int64(stmt_, column); }
    std::string text(int column) const override {
        const auto *data = static_cast<const char *>(sqlite3_column_blob(stmt_, column));
        const int size = sqlite3_column_bytes(stmt_, column);
        return data ? std::string(data, static_cast<std::size_t>(size)) : std::string();
    }
    bool isNull(int column) const override {
        return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
    }

private:
    void check(int rc) const {
        if (rc != SQLITE_OK)
            fail(db_, "bind");
    }
    sqlite3 *db_;
    sqlite3_stmt *stmt_ = nullptr;
};

class SqliteConnection final : public Connection {
public:
    SqliteConnection(const std::string &path, bool readOnly) {
        const int flags =
            readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_FULLMUTEX, nullptr) !=
            SQLITE_OK) {
            const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            db_ = nullptr;
            throw DbError("cannot open " + path + ": " + message);
        }
        sqlite3_busy_timeout(db_, 5000);
        if (readOnly)
            return;
        // WAL keeps every committed transaction across a killed process; NORMAL
        // synchronisation only risks the last commits on a power failure.
        exec("PRAGMA journal_mode=WAL");
        exec("PRAGMA synchronous=NORMAL");
        exec("PRAGMA foreign_keys=ON");
    }
    ~SqliteConnection() override { sqlite3_close(db_); }

    Engine engine() const override { return Engine::SQLite; }

    void exec(std::string_view sql) override {
        char *message = nullptr;
        const std::string text(sql);
        if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string error = message ? message : "unknown error";
            sqlite3_free(message);
            throw DbError(error, sqlite3_errcode(db_) == SQLITE_CONSTRAINT);
        }
    }
    std::unique_ptr<Cursor> prepare(std::string_view sql) override {
        return std::make_unique<SqliteCursor>(db_, sql);
    }
    std::int64_t lastInsertId() override { return sqlite3_last_insert_rowid(db_); }
    int changes() const override { return sqlite3_changes(db_); }
    // One writer at a time, from the start of the transaction.
    void begin() override { exec("BEGIN IMMEDIATE"); }
    void commit() override { exec("COMMIT"); }
    void rollback() override { exec("ROLLBACK"); }

private:
    sqlite3 *db_ = nullptr;
};

} // namespace

std::unique_ptr<Connection> openSqlite(const std::string &path, bool readOnly) {
    return std::make_unique<SqliteConnection>(path, readOnly);
}

} // namespace cloud::sql
