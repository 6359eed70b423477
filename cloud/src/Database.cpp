#include "Database.h"

namespace cloud {

bool Database::isPostgresUrl(std::string_view location) {
    return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

Database::Database(const std::string &location, Mode mode)
    : connection_(isPostgresUrl(location) ? sql::openPostgres(location)
                                          : sql::openSqlite(location, mode == Mode::ReadOnly))
    , engine_(connection_->engine()) {}

Database::~Database() = default;

void Database::exec(std::string_view sql) {
    connection_->exec(sql);
}

std::int64_t Database::lastInsertId() const {
    return connection_->lastInsertId();
}

int Database::changes() const {
    return connection_->changes();
}

void Database::ping() {
    Statement q(*this, "SELECT 1");
    if (!q.step())
        throw DbError("the database gave no answer");
}

std::string Database::nocase(std::string_view column) const {
    // PostgreSQL has no case-blind collation without an extension; lower()
    // of the column, with indexes on the same expression, does the same.
    if (postgres())
        return "lower(" + std::string(column) + ")";
    return std::string(column) + " COLLATE NOCASE";
}

const char *Database::integerRows() const {
    return postgres() ? "(SELECT ord - 1 AS key, v AS value FROM unnest(CAST(? AS BIGINT[])) "
                        "WITH ORDINALITY AS list(v, ord)) AS list"
                      : "json_each(?)";
}

std::string Database::integerList(const std::vector<std::int64_t> &values) const {
    std::string out = postgres() ? "{" : "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            out += ',';
        out += std::to_string(values[i]);
    }
    out += postgres() ? "}" : "]";
    return out;
}

Statement::Statement(Database &db, std::string_view sql)
    : cursor_(db.connection().prepare(sql)) {}

Statement &Statement::bind(int index, std::int64_t value) {
    cursor_->bindInteger(index, value);
    return *this;
}

Statement &Statement::bind(int index, std::string_view value) {
    cursor_->bindText(index, value);
    return *this;
}

Statement &Statement::bindBlob(int index, std::string_view value) {
    cursor_->bindBlob(index, value);
    return *this;
}

Statement &Statement::bindNull(int index) {
    cursor_->bindNull(index);
    return *this;
}

Statement &Statement::bind(int index, const std::optional<std::string> &value) {
    return value ? bind(index, *value) : bindNull(index);
}

bool Statement::step() {
    return cursor_->step();
}

void Statement::run() {
    while (step()) {
    }
}

std::int64_t Statement::integer(int column) const {
    return cursor_->integer(column);
}

std::string Statement::text(int column) const {
    return cursor_->text(column);
}

bool Statement::isNull(int column) const {
    return cursor_->isNull(column);
}

std::optional<std::string> Statement::optionalText(int column) const {
    if (isNull(column))
        return std::nullopt;
    return text(column);
}

Transaction::Transaction(Database &db)
    : db_(db) {
    db_.connection().begin();
}

Transaction::~Transaction() {
    if (!done_) {
        try {
            db_.connection().rollback();
        } catch (const DbError &) {
        }
    }
}

void Transaction::commit() {
    db_.connection().commit();
    done_ = true;
}

} // namespace cloud
