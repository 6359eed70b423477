#include "value_import.h"

#include <sqlite3.h>

namespace recog {

namespace {

// Levels of a descriptor; a plain string is level 1 alone.
std::vector<std::string> levels(const JsonValue *v, size_t max) {
    std::vector<std::string> out;
    if (!v)
        return out;
    if (v->kind == JsonValue::Kind::String)
        out.push_back(v->text);
    for (const JsonValue &item : v->items)
        if (item.kind == JsonValue::Kind::String && out.size() < max)
            out.push_back(item.text);
    return out;
}

bool setLevels(sqlite3 *db, const char *table, const char *column, size_t count, int64_t id,
               const std::vector<std::string> &values, std::string &error) {
    if (values.empty())
        return true;
    std::string sql = std::string("UPDATE ") + table + " SET ";
    for (size_t i = 0; i < count; ++i)
        sql += std::string(i ? ", " : "") + column + std::to_string(i + 1) + " = ?";
    sql += " WHERE id = ?";
    Statement s(db, sql);
    for (size_t i = 0; i < count; ++i)
        i < values.size() ? s.bind(int(i + 1), values[i]) : s.bindNull(int(i + 1));
    s.bind(int(count + 1), id);
    if (s.step() != SQLITE_DONE) {
        error = sqlite3_errmsg(db);
        return false;
    }
    return true;
}

bool addExternalIds(sqlite3 *db, const char *owner, int64_t id, const JsonValue *list,
                    std::string &error) {
    if (!list)
        return true;
    Statement s(db, "INSERT OR IGNORE INTO external_ids(owner, owner_id, type, source, value) "
                    "VALUES (?, ?, ?, ?, ?)");
    for (const JsonValue &x : list->items) {
        const std::string type = x.string("type"), value = x.string("value");
        if (type.empty() || value.empty()) {
            error = "an external ID needs a type and a value";
            return false;
        }
        s.reset();
        s.bind(1, owner).bind(2, id).bind(3, type);
        const std::string source = x.string("source");
        source.empty() ? s.bindNull(4) : s.bind(4, source);
        s.bind(5, value);
        if (s.step() != SQLITE_DONE) {
            error = sqlite3_errmsg(db);
            return false;
        }
    }
    return true;
}

int64_t findId(sqlite3 *db, const std::string &sql, const std::vector<std::string> &args) {
    Statement s(db, sql);
    for (size_t i = 0; i < args.size(); ++i)
        s.bind(int(i + 1), args[i]);
    return s.step() == SQLITE_ROW ? s.integer(0) : 0;
}

const JsonValue *listOf(const JsonValue &doc, const char *name, std::string &error) {
    const JsonValue *v = doc.member(name);
    if (v && v->kind != JsonValue::Kind::Array) {
        error = std::string("\"") + name + "\" must be an array";
        return nullptr;
    }
    return v;
}

} // namespace

bool importValues(Catalog &catalog, const JsonValue &doc, ImportSummary &summary,
                  std::string &error) {
    if (doc.kind != JsonValue::Kind::Object) {
        error = "the document must be a JSON object";
        return false;
    }
    error.clear();
    const JsonValue *tracks = listOf(doc, "tracks", error);
    const JsonValue *albums = listOf(doc, "albums", error);
    const JsonValue *people = listOf(doc, "contributors", error);
    if (!error.empty())
        return false;

    std::lock_guard lock(catalog.mutex());
    sqlite3 *db = catalog.db();
    if (!execute(db, "BEGIN IMMEDIATE", error))
        return false;
    bool ok = true;
    for (size_t i = 0; ok && tracks && i < tracks->items.size(); ++i) {
        const JsonValue &t = tracks->items[i];
        const int64_t id =
            !t.string("gnid").empty()
                ? findId(db, "SELECT id FROM tracks WHERE gnid = ?", {t.string("gnid")})
                : findId(db, "SELECT id FROM tracks WHERE tui = ? AND tui_tag = ?",
                         {t.string("tui"), t.string("tui_tag")});
        if (!id) {
            summary.unmatched.push_back("track #" + std::to_string(i + 1));
            continue;
        }
        ok = setLevels(db, "tracks", "genre", 3, id, levels(t.member("genre"), 3), error) &&
             setLevels(db, "tracks", "mood", 2, id, levels(t.member("mood"), 2), error) &&
             setLevels(db, "tracks", "tempo", 3, id, levels(t.member("tempo"), 3), error) &&
             addExternalIds(db, "track", id, t.member("external_ids"), error);
        summary.tracks += ok;
    }
    for (size_t i = 0; ok && albums && i < albums->items.size(); ++i) {
        const JsonValue &a = albums->items[i];
        int64_t id = 0;
        if (!a.string("gnid").empty())
            id = findId(db, "SELECT id FROM albums WHERE gnid = ?", {a.string("gnid")});
        else if (!a.string("artist").empty())
            id = findId(db, "SELECT id FROM albums WHERE album_key = ?",
                        {textKey(a.string("artist")) + '\x1f' + textKey(a.string("title"))});
        else
            id = findId(db, "SELECT id FROM albums WHERE title = ?", {a.string("title")});
        if (!id) {
            summary.unmatched.push_back("album #" + std::to_string(i + 1));
            continue;
        }
        ok = setLevels(db, "albums", "genre", 3, id, levels(a.member("genre"), 3), error) &&
             addExternalIds(db, "album", id, a.member("external_ids"), error);
        if (ok && !a.string("label").empty()) {
            Statement s(db, "UPDATE albums SET label = ? WHERE id = ?");
            s.bind(1, a.string("label")).bind(2, id);
            ok = s.step() == SQLITE_DONE;
        }
        summary.albums += ok;
    }
    for (size_t i = 0; ok && people && i < people->items.size(); ++i) {
        const JsonValue &c = people->items[i];
        const int64_t id =
            !c.string("gnuid").empty()
                ? findId(db, "SELECT id FROM contributors WHERE gnuid = ?", {c.string("gnuid")})
                : findId(db, "SELECT id FROM contributors WHERE name_key = ?",
                         {textKey(c.string("name"))});
        if (!id) {
            summary.unmatched.push_back("contributor #" + std::to_string(i + 1));
            continue;
        }
        ok = setLevels(db, "contributors", "era", 3, id, levels(c.member("era"), 3), error) &&
             setLevels(db, "contributors", "origin", 4, id, levels(c.member("origin"), 4), error);
        summary.contributors += ok;
    }
    std::string ignored;
    if (!ok) {
        execute(db, "ROLLBACK", ignored);
        return false;
    }
    return execute(db, "COMMIT", error);
}

} // namespace recog
