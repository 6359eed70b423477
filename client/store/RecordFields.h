#pragma once

#include "Audio.h"
#include "Media.h"
#include "User.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QString>

#include <memory>
#include <optional>
#include <variant>
#include <vector>

// How each record type maps onto its table: one column per field, in the
// order the fields are declared, after the `objectID` primary key. Queries
// select `objectID` followed by the fields in this order, and inserts and
// updates bind them in the same order.
namespace RecordFields {

template <typename R>
using Member = std::variant<std::optional<QString> R::*, std::optional<qint64> R::*,
                            std::optional<bool> R::*, std::optional<QDateTime> R::*>;

template <typename R> struct Field {
    const char *name;
    Member<R> member;
};

template <typename R> struct Entity;
template <> struct Entity<Audio> {
    static constexpr const char *name = "Audio";
    static const std::vector<Field<Audio>> &fields();
};
template <> struct Entity<User> {
    static constexpr const char *name = "User";
    static const std::vector<Field<User>> &fields();
};
template <> struct Entity<Media> {
    static constexpr const char *name = "Media";
    static const std::vector<Field<Media>> &fields();
};

// "objectID", "checksum", ... as one comma-separated list of quoted names.
template <typename R> QString selectColumns();
// CREATE TABLE statement for the record type.
template <typename R> QString createTable();
// INSERT of every field (positional placeholders in field order).
template <typename R> QString insertStatement();
// UPDATE of every field by objectID (the objectID placeholder comes last).
template <typename R> QString updateStatement();

// A copy of `text` that shares no data with it. Values bound to statements
// are kept and released inside the SQL driver on the store thread; giving
// them their own data keeps the caller's strings out of that (and keeps
// ThreadSanitizer, which cannot see the driver's reference counting, quiet).
QString ownCopy(const QString &text);

// Binds every field of `record` in order, absent fields as NULL.
template <typename R> void bindFields(QSqlQuery &query, const R &record);
// Reads a record from the current row of a query that selected selectColumns<R>().
template <typename R> std::shared_ptr<R> read(const QSqlQuery &query);

} // namespace RecordFields
