#pragma once

#include <cstdint>
#include <sqlite3.h>
#include <string>
#include <string_view>
#include <vector>

namespace recog {

// A prepared statement that finalises itself. Bind indexes count from 1,
// column indexes from 0, as in SQLite.
class Statement {
public:
    Statement() = default;
    Statement(sqlite3 *db, std::string_view sql);
    ~Statement();
    Statement(Statement &&other) noexcept;
    Statement &operator=(Statement &&other) noexcept;
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool valid() const { return stmt_ != nullptr; }
    Statement &bind(int index, int64_t value);
    Statement &bind(int index, std::string_view text);
    Statement &bindReal(int index, double value);
    Statement &bindNull(int index);
    Statement &bindBlob(int index, const void *data, size_t bytes);
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    void reset();

    int64_t integer(int column) const;
    double real(int column) const;
    std::string text(int column) const;
    bool isNull(int column) const;
    const void *blob(int column, size_t &bytes) const;

private:
    sqlite3_stmt *stmt_ = nullptr;
};

// Runs statements without results; false with the database's message on error.
bool execute(sqlite3 *db, const char *sql, std::string &error);

// Fingerprint items and posting lists are stored as little-endian uint32 arrays.
std::vector<uint32_t> decodeItems(const void *data, size_t bytes);
std::string encodeItems(const std::vector<uint32_t> &items);

} // namespace recog
