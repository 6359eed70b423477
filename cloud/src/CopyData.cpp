#include "CopyData.h"

#include "Crypto.h"
#include "Migrations.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <set>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace cloud {

namespace {

// Per-process state that is worth nothing after a move (outstanding sign-in
// tokens, throttles, rate buckets), and the table the schema keeps its own.
const std::set<std::string> kNotCopied = {"meta", "sign_in_tokens", "throttles", "rate_buckets",
                                          "upload_reservations"};

constexpr const char *kKeyFiles[] = {"link.key", "player.key"};
constexpr std::size_t kChunk = 1 << 20;

std::string readWhole(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The keys go with the data: player passwords are sealed with one, and
// signed addresses made by either side must open on the other.
void copyKeys(const fs::path &fromData, const fs::path &toData) {
    fs::create_directories(toData);
    for (const char *name : kKeyFiles) {
        const fs::path from = fromData / name;
        const fs::path to = toData / name;
        if (!fs::exists(from))
            continue;
        const std::string key = readWhole(from);
        if (fs::exists(to)) {
            if (readWhole(to) != key)
                throw std::runtime_error(
                    to.string() + " differs from " + from.string() +
                    ": what one sealed the other cannot open. Copy into a data folder "
                    "without keys, or remove that file if no server has used it yet");
            continue;
        }
        const fs::path part = to.string() + ".part";
        {
            std::ofstream out(part, std::ios::binary | std::ios::trunc);
            out << key;
            if (!out.flush())
                throw std::runtime_error("cannot write " + part.string());
        }
        fs::permissions(part, fs::perms::owner_read | fs::perms::owner_write,
                        fs::perm_options::replace);
        fs::rename(part, to);
    }
}

struct StoredFile {
    std::string key;
    std::uint64_t size = 0;
    std::string md5;
    std::string sha256; // empty for files recorded by early versions
};

std::vector<StoredFile> storedFiles(Database &source) {
    std::vector<StoredFile> files;
    Statement q(source, "SELECT rel_path, size, md5, sha256 FROM files ORDER BY id");
    while (q.step())
        files.push_back(
            {q.text(0), static_cast<std::uint64_t>(q.integer(1)), q.text(2), q.text(3)});
    return files;
}

// Whether the destination holds the file whole: its size, then its digest
// read back from there.
bool holds(objects::ObjectStore &store, const StoredFile &file) {
    const auto size = store.size(file.key);
    if (!size || *size != file.size)
        return false;
    const auto reader = store.open(file.key);
    if (!reader)
        return false;
    crypto::Digest digest(file.sha256.empty() ? crypto::DigestKind::Md5
                                              : crypto::DigestKind::Sha256);
    std::string buffer(kChunk, '\0');
    for (std::uint64_t at = 0; at < file.size;) {
        const long n = reader->read(at, buffer.data(), buffer.size());
        if (n <= 0)
            return false;
        digest.update(buffer.data(), static_cast<std::size_t>(n));
        at += static_cast<std::uint64_t>(n);
    }
    return digest.finalHex() == (file.sha256.empty() ? file.md5 : file.sha256);
}

void copyObject(objects::ObjectStore &from, objects::ObjectStore &to, const StoredFile &file,
                const fs::path &fromData) {
    const auto reader = from.open(file.key);
    if (!reader)
        throw std::runtime_error("the stored file " + file.key + " is missing from " +
                                 (fromData / "media").string());
    auto incoming = to.createAt(file.key);
    std::string buffer(kChunk, '\0');
    for (std::uint64_t at = 0;;) {
        const long n = reader->read(at, buffer.data(), buffer.size());
        if (n < 0)
            throw std::runtime_error("cannot read the stored file " + file.key);
        if (n == 0)
            break;
        if (!incoming->write(buffer.data(), static_cast<std::size_t>(n)))
            throw std::runtime_error("cannot write " + file.key + " to " + to.describe());
        at += static_cast<std::uint64_t>(n);
    }
    incoming->commit();
}

void copyFiles(Database &source, const fs::path &fromData, objects::ObjectStore &to,
               CopyReport &report, const std::function<void(const std::string &)> &progress) {
    const auto files = storedFiles(source);
    const auto from = objects::openObjectStore("", fromData);
    std::size_t done = 0;
    for (const auto &file : files) {
        if (holds(to, file)) {
            ++report.filesPresent;
        } else {
            copyObject(*from, to, file, fromData);
            if (!holds(to, file))
                throw std::runtime_error("the copy of the stored file " + file.key + " in " +
                                         to.describe() + " does not match its checksum");
            ++report.filesCopied;
            report.bytesCopied += file.size;
        }
        if (++done % 500 == 0 || done == files.size())
            progress("checked " + std::to_string(done) + " of " + std::to_string(files.size()) +
                     " stored files");
    }
}

struct Column {
    std::string name;
    std::string type; // the destination's, lower case
};

std::string quoted(const std::string &name) {
    return "\"" + name + "\"";
}

std::set<std::string> sqliteColumns(Database &db, const std::string &table) {
    std::set<std::string> names;
    Statement q(db, "SELECT name FROM pragma_table_info(?)");
    q.bind(1, table);
    while (q.step())
        names.insert(q.text(0));
    return names;
}

// The destination's columns that the source has too, in the destination's
// order; a column the database always fills itself is left to it.
std::vector<Column> sharedColumns(Database &source, Database &dest, const std::string &table) {
    const auto sourceNames = sqliteColumns(source, table);
    std::vector<Column> columns;
    if (dest.postgres()) {
        Statement q(dest, "SELECT column_name, data_type, COALESCE(identity_generation, '') "
                          "FROM information_schema.columns WHERE table_schema = current_schema() "
                          "AND table_name = ? ORDER BY ordinal_position");
        q.bind(1, table);
        while (q.step())
            if (sourceNames.count(q.text(0)) && q.text(2) != "ALWAYS")
                columns.push_back({q.text(0), q.text(1)});
    } else {
        Statement q(dest, "SELECT name, lower(type) FROM pragma_table_info(?)");
        q.bind(1, table);
        while (q.step())
            if (sourceNames.count(q.text(0)))
                columns.push_back({q.text(0), q.text(1)});
    }
    if (columns.empty())
        throw std::runtime_error("the destination has no table " + table +
                                 ": run sonarbox-cloud migrate on it first");
    return columns;
}

// One source value, read as "typeof(c), c".
struct Value {
    std::string kind; // SQLite's: null, integer, real, text, blob
    std::int64_t integer = 0;
    std::string text;
};

Value readValue(const Statement &row, int at) {
    Value v{row.text(at)};
    if (v.kind == "integer")
        v.integer = row.integer(at + 1);
    else if (v.kind != "null")
        v.text = row.text(at + 1);
    return v;
}

// Binds a value as the destination's column wants it.
void bindValue(Statement &insert, int index, const Value &v, const Column &column) {
    if (v.kind == "null")
        insert.bindNull(index);
    else if (v.kind == "integer")
        insert.bind(index, v.integer);
    else if (column.type == "bytea" || column.type == "blob")
        insert.bindBlob(index, v.text);
    else
        insert.bind(index, v.text);
}

// Inserts what the destination lacks of `rows`; how many that was.
std::int64_t insertRows(Database &dest, const std::string &table,
                        const std::vector<Column> &columns,
                        const std::vector<std::vector<Value>> &rows) {
    std::string names, row = "(";
    for (std::size_t i = 0; i < columns.size(); ++i) {
        names += (i == 0 ? "" : ", ") + quoted(columns[i].name);
        row += i == 0 ? "?" : ", ?";
    }
    row += ")";
    std::string sql = "INSERT INTO " + quoted(table) + " (" + names + ") VALUES ";
    for (std::size_t r = 0; r < rows.size(); ++r)
        sql += (r == 0 ? "" : ", ") + row;
    sql += " ON CONFLICT DO NOTHING";
    Statement insert(dest, sql);
    int index = 0;
    for (const auto &values : rows)
        for (std::size_t i = 0; i < columns.size(); ++i)
            bindValue(insert, ++index, values[i], columns[i]);
    insert.run();
    return dest.changes();
}

// One transaction a table: a copy cut off keeps whole tables only, and the
// next run adds what is missing.
std::int64_t copyTable(Database &source, Database &dest, const std::string &table) {
    const auto columns = sharedColumns(source, dest, table);
    std::string selected;
    for (const auto &c : columns)
        selected +=
            (selected.empty() ? "" : ", ") + ("typeof(" + quoted(c.name) + "), ") + quoted(c.name);
    // Many rows a statement: one round trip each would make a large library's
    // copy take hours over a network.
    const std::size_t perBatch = std::clamp<std::size_t>(20000 / columns.size(), 1, 500);
    Transaction tx(dest);
    std::int64_t copied = 0;
    std::vector<std::vector<Value>> rows;
    Statement q(source, "SELECT " + selected + " FROM " + quoted(table));
    while (q.step()) {
        std::vector<Value> values;
        for (std::size_t i = 0; i < columns.size(); ++i)
            values.push_back(readValue(q, static_cast<int>(2 * i)));
        rows.push_back(std::move(values));
        if (rows.size() == perBatch) {
            copied += insertRows(dest, table, columns, rows);
            rows.clear();
        }
    }
    if (!rows.empty())
        copied += insertRows(dest, table, columns, rows);
    tx.commit();
    return copied;
}

std::vector<std::string> tablesInOrder(Database &source) {
    std::vector<std::string> tables;
    // In the order they were made, so that a row comes after those it names.
    Statement q(source, "SELECT name FROM sqlite_master WHERE type = 'table' "
                        "AND name NOT LIKE 'sqlite_%' ORDER BY rowid");
    while (q.step())
        if (!kNotCopied.count(q.text(0)))
            tables.push_back(q.text(0));
    return tables;
}

std::optional<std::string> metaValue(Database &db, const char *key) {
    Statement q(db, "SELECT value FROM meta WHERE key = ?");
    q.bind(1, std::string(key));
    if (!q.step())
        return std::nullopt;
    return q.text(0);
}

void setMeta(Database &db, const char *key, const std::string &value) {
    Statement(db, "INSERT INTO meta(key, value) VALUES(?, ?) "
                  "ON CONFLICT(key) DO UPDATE SET value = excluded.value")
        .bind(1, std::string(key))
        .bind(2, value)
        .run();
}

std::int64_t metaInteger(const std::optional<std::string> &value) {
    try {
        return value ? std::stoll(*value) : 0;
    } catch (const std::exception &) {
        return 0;
    }
}

// The players' IDs are made with the ID key, and the desktops remember how far
// they have read the change listing: both carry over, and no ID that the
// source gave out (even to a since removed row) is given out again.
void carryOver(Database &source, Database &dest, const std::vector<std::string> &tables) {
    Transaction tx(dest);
    if (const auto key = metaValue(source, "id_key")) {
        const std::string raw = crypto::fromHex(*key).value_or(*key);
        if (raw.size() == 32)
            setMeta(dest, "id_key", crypto::toHex(raw));
    }
    const std::int64_t position = std::max(metaInteger(metaValue(source, "position")),
                                           metaInteger(metaValue(dest, "position")));
    if (position > 0)
        setMeta(dest, "position", std::to_string(position));

    for (const auto &table : tables) {
        std::int64_t lastId = 0;
        {
            Statement q(source, "SELECT seq FROM sqlite_sequence WHERE name = ?");
            q.bind(1, table);
            if (q.step())
                lastId = q.integer(0);
        }
        if (dest.postgres()) {
            Statement has(dest, "SELECT pg_get_serial_sequence(?, 'id') IS NOT NULL "
                                "FROM information_schema.columns WHERE table_schema = "
                                "current_schema() AND table_name = ? AND column_name = 'id'");
            has.bind(1, table).bind(2, table);
            if (!has.step() || has.integer(0) == 0)
                continue;
            Statement q(dest, "SELECT setval(pg_get_serial_sequence(?, 'id'), GREATEST("
                              "(SELECT COALESCE(MAX(id), 0) FROM " +
                                  quoted(table) + "), ?) + 1, false)");
            q.bind(1, table).bind(2, lastId);
            q.step();
        } else if (lastId > 0) {
            Statement(dest, "UPDATE sqlite_sequence SET seq = MAX(seq, ?) WHERE name = ?")
                .bind(1, lastId)
                .bind(2, table)
                .run();
            if (dest.changes() == 0)
                Statement(dest, "INSERT INTO sqlite_sequence(name, seq) SELECT ?, ? WHERE "
                                "EXISTS (SELECT 1 FROM sqlite_master WHERE name = ? AND sql "
                                "LIKE '%AUTOINCREMENT%')")
                    .bind(1, table)
                    .bind(2, lastId)
                    .bind(3, table)
                    .run();
        }
    }
    tx.commit();
}

} // namespace

CopyReport copyDataFolder(const fs::path &fromData, const CopyTarget &to,
                          const std::function<void(const std::string &)> &progress) {
    const fs::path sourceFile = fromData / "cloud.sqlite";
    if (!fs::is_regular_file(sourceFile))
        throw std::runtime_error("no server data in " + fromData.string() + " (no cloud.sqlite)");
    Database source(sourceFile.string());
    migrate(source);
    if (to.database.postgres())
        requireCurrentSchema(to.database);
    else
        migrate(to.database);

    CopyReport report;
    copyKeys(fromData, to.dataDir);
    // Files first: no record at the destination names a file it lacks.
    copyFiles(source, fromData, to.objects, report, progress);
    const auto tables = tablesInOrder(source);
    for (const auto &table : tables) {
        const std::int64_t copied = copyTable(source, to.database, table);
        report.rowsCopied += copied;
        progress("copied " + std::to_string(copied) + " new rows of " + table);
    }
    carryOver(source, to.database, tables);
    return report;
}

} // namespace cloud
