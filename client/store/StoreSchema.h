#pragma once

#include <QSqlDatabase>
#include <QString>

#include <optional>

// Tables, indexes and the schema version (PRAGMA user_version) of the store.
namespace StoreSchema {

constexpr int Version = 5;

// Brings an opened, validated store to the current schema in one
// transaction: creates the tables of an empty store, migrates an older one.
// Returns the error text on failure (the store is left as it was).
std::optional<QString> ensure(QSqlDatabase &db);

} // namespace StoreSchema
