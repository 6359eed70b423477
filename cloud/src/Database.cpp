#include "Database.h"

#include <sqlite3.h>

namespace cloud {

Database::Database(const std::string &path, Mode mode) {
    const int flags =
        mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw DbError("cannot open " + path + ": " + message);
    }
    sqlite3_busy_timeout(db_, 5000);
    if (mode == Mode::ReadOnly)
        return;
    // WAL keeps every committed transaction across a killed process; NORMAL
    // synchronisation only risks the last commits on a power failure.
    exec("PRAGMA journal_mode=WAL");
    exec("PRAGMA synchronous=NORMAL");
    exec("PRAGMA foreign_keys=ON");
}

Database::~Database() {
    sqlite3_close(db_);
}

void Database::exec(std::string_view sql) {
    char *message = nullptr;
    const std::string text(sql);
    if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string error = message ? message : "unknown error";
        sqlite3_free(message);
        throw DbError(error);
    }
}

std::int64_t Database::lastInsertId() const {
    return sqlite3_last_insert_rowid(db_);
}

int Database::changes() const {
    return sqlite3_changes(db_);
}

void Database::fail(std::string_view what) const {
    throw DbError(std::string(what) + ": " + sqlite3_errmsg(db_));
}

Statement::Statement(Database &db, std::string_view sql)
    : db_(db) {
    if (sqlite3_prepare_v2(db.handle(), sql.data(), static_cast<int>(sql.size()), &stmt_,
                           nullptr) != SQLITE_OK)
        db_.fail("prepare");
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement &Statement::bind(int index, std::int64_t value) {
    if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK)
        db_.fail("bind");
    return *this;
}

Statement &Statement::bind(int index, std::string_view value) {
    if (sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK)
        db_.fail("bind");
    return *this;
}

Statement &Statement::bindBlob(int index, std::string_view value) {
    if (sqlite3_bind_blob(stmt_, index, value.data(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK)
        db_.fail("bind");
    return *this;
}

Statement &Statement::bindNull(int index) {
    if (sqlite3_bind_null(stmt_, index) != SQLITE_OK)
        db_.fail("bind");
    return *this;
}

Statement &Statement::bind(int index, const std::optional<std::string> &value) {
    return value ? bind(index, *value) : bindNull(index);
}

bool Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    db_.fail("step");
}

void Statement::run() {
    while (step()) {
    }
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

std::string Statement::text(int column) const {
    const auto *data = static_cast<const char *>(sqlite3_column_blob(stmt_, column));
    const int size = sqlite3_column_bytes(stmt_, column);
    return data ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

std::optional<std::string> Statement::optionalText(int column) const {
    if (isNull(column))
        return std::nullopt;
    return text(column);
}

Transaction::Transaction(Database &db)
    : db_(db) {
    db_.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (!done_) {
        try {
            db_.exec("ROLLBACK");
        } catch (const DbError &) {
        }
    }
}

void Transaction::commit() {
    db_.exec("COMMIT");
    done_ = true;
}

} // namespace cloud
