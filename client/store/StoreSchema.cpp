#include "StoreSchema.h"

#include "RecordFields.h"

#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <utility>

namespace StoreSchema {
namespace {

QStringList version1() {
    return {
        RecordFields::createTable<Audio>(),
        RecordFields::createTable<User>(),
        RecordFields::createTable<Media>(),
        // The catalogue key, the "is this file known" test and the media
        // identifier lookups must never scan the table.
        QStringLiteral("CREATE INDEX IF NOT EXISTS \"Audio_checksum\" ON \"Audio\"(\"checksum\")"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS \"Audio_fileURL\" ON \"Audio\"(\"fileURL\")"),
        QStringLiteral(
            "CREATE INDEX IF NOT EXISTS \"Audio_userMediaID\" ON \"Audio\"(\"userMediaID\")"),
    };
}

// The folders a scan found settled. A track leaving the store (or moving
// to another file) unsettles the folder its file was in, so that the next
// scan looks at that folder's files again; the folder key is the file's path
// up to and including its last slash.
QStringList version2() {
    const QString folderOf =
        QStringLiteral("rtrim(old.\"fileURL\", replace(old.\"fileURL\", '/', ''))");
    return {
        // The upload and the unanswered tracks are looked for at every sync:
        // a few tracks among a whole collection.
        QStringLiteral(
            "CREATE INDEX IF NOT EXISTS \"Audio_downloadable\" ON \"Audio\"(\"downloadable\")"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS \"ScannedFolder\" (\"path\" TEXT PRIMARY KEY, "
                       "\"device\" INTEGER, \"inode\" INTEGER, \"modified\" INTEGER, "
                       "\"changed\" INTEGER, \"tracks\" INTEGER, \"subfolders\" BLOB)"),
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS \"Audio_unsettles_on_delete\" AFTER DELETE ON "
                       "\"Audio\" WHEN old.\"fileURL\" IS NOT NULL BEGIN DELETE FROM "
                       "\"ScannedFolder\" WHERE \"path\" = %1; END")
            .arg(folderOf),
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS \"Audio_unsettles_on_move\" AFTER UPDATE OF "
                       "\"fileURL\" ON \"Audio\" WHEN old.\"fileURL\" IS NOT NULL AND "
                       "old.\"fileURL\" IS NOT new.\"fileURL\" BEGIN DELETE FROM "
                       "\"ScannedFolder\" WHERE \"path\" = %1; END")
            .arg(folderOf),
    };
}

// The columns of `table` as the store has them.
QSet<QString> columnsOf(QSqlDatabase &db, const QString &table) {
    QSet<QString> columns;
    QSqlQuery query(db);
    if (query.exec(QStringLiteral("PRAGMA table_info(\"%1\")").arg(table))) {
        while (query.next())
            columns.insert(query.value(1).toString());
    }
    return columns;
}

// What this client did with a track and why it failed. A store made from
// nothing has the columns already (version 1 creates the table as the
// record is now), so only the missing ones are added.
QStringList version3(QSqlDatabase &db) {
    const QSet<QString> columns = columnsOf(db, QStringLiteral("Audio"));
    QStringList statements;
    for (const auto &[column, type] : {std::pair{QStringLiteral("uploaded"), "INTEGER"},
                                       std::pair{QStringLiteral("failureReason"), "TEXT"}}) {
        if (!columns.contains(column))
            statements << QStringLiteral("ALTER TABLE \"Audio\" ADD COLUMN \"%1\" %2")
                              .arg(column, QLatin1String(type));
    }
    return statements;
}

// Which file a track came from, the version it replaces, and the files known
// to repeat a stored track, kept so that they are not read again at every
// program start.
QStringList version4(QSqlDatabase &db) {
    const QSet<QString> columns = columnsOf(db, QStringLiteral("Audio"));
    QStringList statements;
    for (const auto &[column, type] : {std::pair{QStringLiteral("fileSize"), "INTEGER"},
                                       std::pair{QStringLiteral("fileModified"), "INTEGER"},
                                       std::pair{QStringLiteral("fileDevice"), "INTEGER"},
                                       std::pair{QStringLiteral("fileInode"), "INTEGER"},
                                       std::pair{QStringLiteral("replaces"), "TEXT"}}) {
        if (!columns.contains(column))
            statements << QStringLiteral("ALTER TABLE \"Audio\" ADD COLUMN \"%1\" %2")
                              .arg(column, QLatin1String(type));
    }
    statements << QStringLiteral(
        "CREATE TABLE IF NOT EXISTS \"KnownDuplicate\" (\"path\" TEXT PRIMARY KEY, "
        "\"checksum\" TEXT, \"size\" INTEGER, \"modified\" INTEGER)");
    return statements;
}

// Every sync looks for the few tracks whose earlier version the cloud still
// has to retire: without an index of those alone, that read the whole table.
QStringList version5() {
    return {
        QStringLiteral("CREATE INDEX IF NOT EXISTS \"Audio_replaces\" ON \"Audio\"(\"replaces\") "
                       "WHERE \"replaces\" IS NOT NULL AND \"replaces\" <> ''")};
}

// Statements that bring a store of version N-1 to version N; index 0 builds
// version 1 from nothing. Later versions append their migration here. Each
// step is asked for its statements once the steps before it have run.
QList<std::function<QStringList(QSqlDatabase &)>> migrations() {
    return {[](QSqlDatabase &) { return version1(); }, [](QSqlDatabase &) { return version2(); },
            version3, version4, [](QSqlDatabase &) { return version5(); }};
}

std::optional<QString> run(QSqlDatabase &db, const QString &sql) {
    QSqlQuery query(db);
    if (!query.exec(sql))
        return query.lastError().text();
    return std::nullopt;
}

} // namespace

std::optional<QString> ensure(QSqlDatabase &db) {
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return query.lastError().text();
    const int current = query.value(0).toInt();
    query.finish();
    if (current == Version)
        return std::nullopt;
    if (current > Version)
        return QStringLiteral("the store was written by a newer version of Sonarbox (schema %1)")
            .arg(current);

    if (!db.transaction())
        return db.lastError().text();
    const auto steps = migrations();
    for (int version = current; version < Version; ++version) {
        for (const QString &sql : steps.at(version)(db)) {
            if (auto error = run(db, sql)) {
                db.rollback();
                return error;
            }
        }
    }
    if (auto error = run(db, QStringLiteral("PRAGMA user_version = %1").arg(Version))) {
        db.rollback();
        return error;
    }
    if (!db.commit()) {
        const QString error = db.lastError().text();
        db.rollback();
        return error;
    }
    return std::nullopt;
}

} // namespace StoreSchema
