// A PostgreSQL database that any number of server processes share, through
// libpq. Parameters go separately from the statement's text, never spliced
// into it; results come back as text and are read as the SQLite ones are.
#include "Database.h"
#include "Json.h"

#include <libpq-fe.h>

#include <charconv>

namespace cloud::sql {

namespace {

constexpr Oid kBoolOid = 16;
constexpr Oid kByteaOid = 17;
constexpr Oid kInt8Oid = 20;
// Every writer takes this lock first, so that a read followed by a write in
// one transaction sees no other process's write between them, as with
// SQLite's immediate transactions.
constexpr long long kWriterLock = 0x536f6e6172;

// `?` and `?N` become `$N`; a bare `?` takes the number after the highest so
// far, as SQLite numbers them. Quoted text is left alone.
std::string numberedParameters(std::string_view sql, int &count) {
    std::string out;
    out.reserve(sql.size() + 16);
    int highest = 0;
    char quote = 0;
    for (std::size_t i = 0; i < sql.size(); ++i) {
        const char c = sql[i];
        if (quote) {
            out += c;
            if (c == quote)
                quote = 0;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            out += c;
            continue;
        }
        if (c != '?') {
            out += c;
            continue;
        }
        std::size_t end = i + 1;
        while (end < sql.size() && sql[end] >= '0' && sql[end] <= '9')
            ++end;
        int number = highest + 1;
        if (end > i + 1)
            std::from_chars(sql.data() + i + 1, sql.data() + end, number);
        highest = std::max(highest, number);
        out += '$';
        out += std::to_string(number);
        i = end - 1;
    }
    count = highest;
    return out;
}

// PostgreSQL text holds well-formed UTF-8 without NUL; SQLite holds any
// bytes. What a client sends that text cannot hold becomes U+FFFD, so a
// lookup with it finds nothing instead of failing.
std::string validText(std::string_view s) {
    std::string out = json::toValidUtf8(s);
    for (std::size_t at = out.find('\0'); at != std::string::npos; at = out.find('\0', at))
        out.replace(at, 1, "\xEF\xBF\xBD");
    return out;
}

class PostgresConnection;

class PostgresCursor final : public Cursor {
public:
    PostgresCursor(PostgresConnection &connection, std::string_view sql);
    ~PostgresCursor() override { PQclear(result_); }

    void bindInteger(int index, std::int64_t value) override {
        set(index, std::to_string(value), kInt8Oid, 0);
    }
    void bindText(int index, std::string_view value) override {
        set(index, validText(value), 0, 0);
    }
    void bindBlob(int index, std::string_view value) override {
        set(index, std::string(value), kByteaOid, 1);
    }
    void bindNull(int index) override {
        check(index);
        values_[index - 1].reset();
        types_[index - 1] = 0;
        formats_[index - 1] = 0;
    }

    bool step() override;

    std::int64_t integer(int column) const override {
        if (PQgetisnull(result_, row_, column))
            return 0;
        const char *v = PQgetvalue(result_, row_, column);
        if (PQftype(result_, column) == kBoolOid)
            return v[0] == 't' ? 1 : 0;
        std::int64_t out = 0;
        std::from_chars(v, v + PQgetlength(result_, row_, column), out);
        return out;
    }
    std::string text(int column) const override {
        if (PQgetisnull(result_, row_, column))
            return {};
        const char *v = PQgetvalue(result_, row_, column);
        if (PQftype(result_, column) == kByteaOid) {
            std::size_t size = 0;
            unsigned char *raw = PQunescapeBytea(reinterpret_cast<const unsigned char *>(v), &size);
            if (!raw)
                throw DbError("out of memory");
            std::string out(reinterpret_cast<const char *>(raw), size);
            PQfreemem(raw);
            return out;
        }
        return std::string(v, static_cast<std::size_t>(PQgetlength(result_, row_, column)));
    }
    bool isNull(int column) const override { return PQgetisnull(result_, row_, column) != 0; }

private:
    void check(int index) const {
        if (index < 1 || index > static_cast<int>(values_.size()))
            throw DbError("bind: no parameter " + std::to_string(index));
    }
    void set(int index, std::string value, Oid type, int format) {
        check(index);
        values_[index - 1] = std::move(value);
        types_[index - 1] = type;
        formats_[index - 1] = format;
    }

    PostgresConnection &connection_;
    std::string sql_;
    std::vector<std::optional<std::string>> values_;
    std::vector<Oid> types_;
    std::vector<int> formats_;
    PGresult *result_ = nullptr;
    int row_ = -1;
    bool ran_ = false;
};

class PostgresConnection final : public Connection {
public:
    explicit PostgresConnection(const std::string &url)
        : conn_(PQconnectdb(url.c_str())) {
        if (!conn_)
            throw DbError("out of memory");
        if (PQstatus(conn_) != CONNECTION_OK) {
            // libpq's message names the host and the cause, never the password.
            const std::string message = PQerrorMessage(conn_);
            PQfinish(conn_);
            throw DbError("cannot connect to the database: " + trimmed(message));
        }
        configure();
    }
    ~PostgresConnection() override { PQfinish(conn_); }

    Engine engine() const override { return Engine::PostgreSQL; }

    void exec(std::string_view sql) override {
        // Rows a statement run for its effect returns (a lock taken with
        // SELECT) are not wanted.
        if (PGresult *rows = finish(PQexec(connected(), std::string(sql).c_str())))
            PQclear(rows);
    }
    std::unique_ptr<Cursor> prepare(std::string_view sql) override {
        return std::make_unique<PostgresCursor>(*this, sql);
    }
    std::int64_t lastInsertId() override {
        PGresult *r = PQexec(connected(), "SELECT lastval()");
        const ExecStatusType status = PQresultStatus(r);
        std::int64_t id = 0;
        if (status == PGRES_TUPLES_OK && PQntuples(r) == 1) {
            const char *v = PQgetvalue(r, 0, 0);
            std::from_chars(v, v + PQgetlength(r, 0, 0), id);
        }
        if (PGresult *rows = finish(r))
            PQclear(rows);
        return id;
    }
    int changes() const override { return changes_; }
    void begin() override {
        exec("BEGIN");
        exec("SELECT pg_advisory_xact_lock(" + std::to_string(kWriterLock) + ")");
    }
    void commit() override { exec("COMMIT"); }
    void rollback() override {
        if (PQstatus(conn_) == CONNECTION_OK)
            exec("ROLLBACK");
    }

    // The connection, opened again when it was lost (a restarted database).
    PGconn *connected() {
        if (PQstatus(conn_) != CONNECTION_OK) {
            PQreset(conn_);
            if (PQstatus(conn_) != CONNECTION_OK)
                throw DbError("the database is unreachable: " + trimmed(PQerrorMessage(conn_)));
            configure();
        }
        return conn_;
    }

    // Takes the result of a command: records its row count, or throws its error.
    // Returns the result when it holds rows (the caller frees it), else nullptr.
    PGresult *finish(PGresult *r) {
        const ExecStatusType status = PQresultStatus(r);
        if (status == PGRES_TUPLES_OK)
            return r;
        if (status == PGRES_COMMAND_OK) {
            const char *tuples = PQcmdTuples(r);
            changes_ = 0;
            std::from_chars(tuples, tuples + std::char_traits<char>::length(tuples), changes_);
            PQclear(r);
            return nullptr;
        }
        const char *state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
        const char *primary = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
        const std::string message = primary ? primary : trimmed(PQerrorMessage(conn_));
        const bool constraint = state && state[0] == '2' && state[1] == '3';
        PQclear(r);
        throw DbError(message, constraint);
    }

private:
    static std::string trimmed(std::string s) {
        while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
            s.pop_back();
        return s;
    }
    static void ignoreNotice(void *, const char *) {}
    void configure() {
        PQsetNoticeProcessor(conn_, ignoreNotice, nullptr);
        finish(PQexec(conn_, "SET client_encoding = 'UTF8'"));
    }

    PGconn *conn_;
    int changes_ = 0;
};

PostgresCursor::PostgresCursor(PostgresConnection &connection, std::string_view sql)
    : connection_(connection) {
    int count = 0;
    sql_ = numberedParameters(sql, count);
    values_.resize(static_cast<std::size_t>(count));
    types_.resize(static_cast<std::size_t>(count), 0);
    formats_.resize(static_cast<std::size_t>(count), 0);
}

bool PostgresCursor::step() {
    if (!ran_) {
        ran_ = true;
        std::vector<const char *> values(values_.size());
        std::vector<int> lengths(values_.size());
        for (std::size_t i = 0; i < values_.size(); ++i) {
            values[i] = values_[i] ? values_[i]->data() : nullptr;
            lengths[i] = values_[i] ? static_cast<int>(values_[i]->size()) : 0;
        }
        result_ = connection_.finish(
            PQexecParams(connection_.connected(), sql_.c_str(), static_cast<int>(values.size()),
                         types_.data(), values.data(), lengths.data(), formats_.data(), 0));
    }
    if (!result_)
        return false;
    return ++row_ < PQntuples(result_);
}

} // namespace

std::unique_ptr<Connection> openPostgres(const std::string &url) {
    return std::make_unique<PostgresConnection>(url);
}

} // namespace cloud::sql
