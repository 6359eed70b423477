#include "sqlite_util.h"

#include <cstring>
#include <utility>

namespace recog {

Statement::Statement(sqlite3 *db, std::string_view sql) {
    if (sqlite3_prepare_v2(db, sql.data(), int(sql.size()), &stmt_, nullptr) != SQLITE_OK)
        stmt_ = nullptr;
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement::Statement(Statement &&other) noexcept
    : stmt_(std::exchange(other.stmt_, nullptr)) {}

Statement &Statement::operator=(Statement &&other) noexcept {
    if (this != &other) {
        sqlite3_finalize(stmt_);
        stmt_ = std::exchange(other.stmt_, nullptr);
    }
    return *this;
}

Statement &Statement::bind(int index, int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
    return *this;
}

Statement &Statement::bind(int index, std::string_view text) {
    sqlite3_bind_text(stmt_, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement &Statement::bindReal(int index, double value) {
    sqlite3_bind_double(stmt_, index, value);
    return *this;
}

Statement &Statement::bindNull(int index) {
    sqlite3_bind_null(stmt_, index);
    return *this;
}

Statement &Statement::bindBlob(int index, const void *data, size_t bytes) {
    sqlite3_bind_blob(stmt_, index, data, int(bytes), SQLITE_TRANSIENT);
    return *this;
}

int Statement::step() {
    return stmt_ ? sqlite3_step(stmt_) : SQLITE_MISUSE;
}

void Statement::reset() {
    if (stmt_) {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
}

int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

double Statement::real(int column) const {
    return sqlite3_column_double(stmt_, column);
}

std::string Statement::text(int column) const {
    const auto *p = sqlite3_column_text(stmt_, column);
    return p ? std::string(reinterpret_cast<const char *>(p),
                           size_t(sqlite3_column_bytes(stmt_, column)))
             : std::string();
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

const void *Statement::blob(int column, size_t &bytes) const {
    const void *p = sqlite3_column_blob(stmt_, column);
    bytes = size_t(sqlite3_column_bytes(stmt_, column));
    return p;
}

bool execute(sqlite3 *db, const char *sql, std::string &error) {
    char *message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    error = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

std::vector<uint32_t> decodeItems(const void *data, size_t bytes) {
    std::vector<uint32_t> items(bytes / 4);
    const auto *p = static_cast<const unsigned char *>(data);
    for (size_t i = 0; i < items.size(); ++i, p += 4)
        items[i] =
            uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return items;
}

std::string encodeItems(const std::vector<uint32_t> &items) {
    std::string out(items.size() * 4, '\0');
    for (size_t i = 0; i < items.size(); ++i) {
        const uint32_t v = items[i];
        out[4 * i] = char(v & 0xFF);
        out[4 * i + 1] = char(v >> 8 & 0xFF);
        out[4 * i + 2] = char(v >> 16 & 0xFF);
        out[4 * i + 3] = char(v >> 24 & 0xFF);
    }
    return out;
}

} // namespace recog
