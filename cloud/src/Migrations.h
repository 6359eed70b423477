// The database's schema is versioned: each migration takes it one version
// further, in a transaction of its own, on SQLite and PostgreSQL alike. A
// household server migrates its SQLite file at start; a shared PostgreSQL
// database is migrated once by `sonarbox-cloud migrate`, and its servers
// start only on the version they know.
#pragma once

#include <stdexcept>
#include <string>

namespace cloud {

class Database;

class SchemaError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The version this program reads and writes.
int currentSchemaVersion();
// The database's version; 0 when it holds no schema yet.
int schemaVersion(Database &db);
// Applies the migrations the database lacks; returns how many. Safe while
// other processes migrate or serve: each step re-reads the version under
// the writers' lock. Throws SchemaError on a schema newer than this program.
int migrate(Database &db);
// Throws SchemaError, saying what to do, unless the schema is the current one.
void requireCurrentSchema(Database &db);

} // namespace cloud
