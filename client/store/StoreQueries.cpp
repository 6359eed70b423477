#include "StoreQueries.h"

#include "NamedQueries.h"
#include "RecordFields.h"
#include "StoreContext.h"
#include "StoreError.h"

#include <QSqlQuery>

namespace StoreQueries {
namespace {

QString orderClause(Order order) {
    // UNICODE_NOCASE is registered on every connection (see StoreContext).
    switch (order) {
    case Order::NameAscending:
        return QStringLiteral(" ORDER BY \"name\" COLLATE UNICODE_NOCASE ASC, \"objectID\" ASC");
    case Order::NameDescending:
        return QStringLiteral(" ORDER BY \"name\" DESC, \"objectID\" DESC");
    case Order::None:
        break;
    }
    return {};
}

NamedQuery namedQuery(const QString &templateName) {
    auto query = NamedQueries::find(templateName);
    if (!query)
        throw StoreError(QStringLiteral("no fetch request template named %1").arg(templateName));
    return *query;
}

QVariant variable(const NamedQuery &query, const QVariantMap &variables) {
    const QVariant value = variables.value(query.variable);
    if (!value.isValid() || value.isNull())
        return QVariant();
    return RecordFields::ownCopy(value.toString());
}

QString templateWhere(const NamedQuery &query) {
    return QStringLiteral("\"%1\" IS ?").arg(query.column);
}

void bindAll(QSqlQuery &query, const QVariantList &values) {
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values.at(i));
}

} // namespace

bool isEntity(const QString &entityName) {
    return entityName == QLatin1String("Audio") || entityName == QLatin1String("User") ||
           entityName == QLatin1String("Media");
}

template <typename R>
QList<std::shared_ptr<R>> fetch(StoreContext &context, const QString &where,
                                const QVariantList &values, Order order, int limit) {
    QString sql =
        QStringLiteral("SELECT %1 FROM \"%2\"")
            .arg(RecordFields::selectColumns<R>(), QLatin1String(RecordFields::Entity<R>::name));
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where;
    sql += orderClause(order);
    if (limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(limit);
    QSqlQuery &query = context.statement(sql);
    bindAll(query, values);
    context.exec(query);
    QList<std::shared_ptr<R>> records;
    while (query.next())
        records.append(RecordFields::read<R>(query));
    query.finish();
    return records;
}

QList<AudioPtr> fetchTemplate(StoreContext &context, const QString &templateName,
                              const QVariantMap &variables, Order order, int limit) {
    const NamedQuery query = namedQuery(templateName);
    return fetch<Audio>(context, templateWhere(query), {variable(query, variables)}, order, limit);
}

int countTemplate(StoreContext &context, const QString &templateName,
                  const QVariantMap &variables) {
    const NamedQuery named = namedQuery(templateName);
    QSqlQuery &query = context.statement(QStringLiteral("SELECT count(*) FROM \"%1\" WHERE %2")
                                             .arg(named.entity, templateWhere(named)));
    bindAll(query, {variable(named, variables)});
    context.exec(query);
    const int result = query.next() ? query.value(0).toInt() : 0;
    query.finish();
    return result;
}

int count(StoreContext &context, const QString &entityName) {
    if (!isEntity(entityName))
        throw StoreError(QStringLiteral("no entity named %1").arg(entityName));
    QSqlQuery &query =
        context.statement(QStringLiteral("SELECT count(*) FROM \"%1\"").arg(entityName));
    context.exec(query);
    const int result = query.next() ? query.value(0).toInt() : 0;
    query.finish();
    return result;
}

bool hasFile(StoreContext &context, const QString &path) {
    QSqlQuery &query =
        context.statement(QStringLiteral("SELECT 1 FROM \"Audio\" WHERE \"fileURL\" = ? LIMIT 1"));
    query.bindValue(0, path.isNull() ? QString(QLatin1String("")) : RecordFields::ownCopy(path));
    context.exec(query);
    const bool found = query.next();
    query.finish();
    return found;
}

QSet<QString> filePaths(StoreContext &context) {
    QSqlQuery &query = context.statement(
        QStringLiteral("SELECT \"fileURL\" FROM \"Audio\" WHERE \"fileURL\" IS NOT NULL"));
    context.exec(query);
    QSet<QString> paths;
    while (query.next())
        paths.insert(query.value(0).toString());
    query.finish();
    return paths;
}

TrackKeys trackKeys(StoreContext &context) {
    QSqlQuery &query = context.statement(QStringLiteral(
        "SELECT \"objectID\", \"userMediaID\", \"checksum\", \"replaces\" FROM \"Audio\""));
    context.exec(query);
    TrackKeys keys;
    while (query.next()) {
        if (!query.isNull(1))
            keys.userMediaIDs.insert(query.value(1).toString());
        if (!query.isNull(2))
            keys.byChecksum.insert(query.value(2).toString(), query.value(0).toLongLong());
        // The old version's item, until the cloud has retired it: the track
        // that replaces it holds its place, so a listing never brings it back.
        if (!query.isNull(3) && !query.value(3).toString().isEmpty())
            keys.userMediaIDs.insert(query.value(3).toString());
    }
    query.finish();
    return keys;
}

QSet<QString> storedAmong(StoreContext &context, const QList<QString> &paths) {
    // One look-up a path costs more than reading every path once when the
    // question covers much of the store.
    if (paths.size() > 2000) {
        QSet<QString> stored = filePaths(context);
        QSet<QString> asked(paths.begin(), paths.end());
        return asked.intersect(stored);
    }
    QSet<QString> stored;
    for (const QString &path : paths)
        if (hasFile(context, path))
            stored.insert(path);
    return stored;
}

QHash<QString, SettledFolder> settledFolders(StoreContext &context) {
    QSqlQuery &query = context.statement(
        QStringLiteral("SELECT \"path\", \"device\", \"inode\", \"modified\", "
                       "\"changed\", \"tracks\", \"subfolders\" FROM \"ScannedFolder\""));
    context.exec(query);
    QHash<QString, SettledFolder> folders;
    while (query.next()) {
        SettledFolder folder;
        folder.stamp = {query.value(1).toLongLong(), query.value(2).toLongLong(),
                        query.value(3).toLongLong(), query.value(4).toLongLong()};
        folder.tracks = query.value(5).toLongLong();
        // Names cannot hold a NUL, so NUL separates them.
        const QByteArray names = query.value(6).toByteArray();
        if (!names.isEmpty())
            for (const QByteArray &name : names.split('\0'))
                folder.subfolders.push_back(name);
        folders.insert(query.value(0).toString(), folder);
    }
    query.finish();
    return folders;
}

qint64 settledFolderCount(StoreContext &context, const QString &root) {
    // A range of the primary key rather than LIKE, whose pattern characters
    // a path may hold: the keys from the folder's own (its path with a
    // trailing slash) up to, not including, the next text after every text
    // that starts with it.
    QString key = root;
    if (!key.endsWith(QLatin1Char('/')))
        key += QLatin1Char('/');
    QString end = key;
    end[end.size() - 1] = QChar(u'/' + 1);
    QSqlQuery &query = context.statement(QStringLiteral(
        "SELECT count(*) FROM \"ScannedFolder\" WHERE \"path\" >= ? AND \"path\" < ?"));
    query.bindValue(0, key);
    query.bindValue(1, end);
    context.exec(query);
    const qint64 count = query.next() ? query.value(0).toLongLong() : 0;
    query.finish();
    return count;
}

void recordScannedFolders(StoreContext &context, const QHash<QString, SettledFolder> &settled,
                          const QList<QString> &unsettled) {
    if (settled.isEmpty() && unsettled.isEmpty())
        return;
    context.beginChanges();
    QSqlQuery &forget =
        context.statement(QStringLiteral("DELETE FROM \"ScannedFolder\" WHERE \"path\" = ?"));
    for (const QString &path : unsettled) {
        forget.bindValue(0, RecordFields::ownCopy(path));
        context.exec(forget);
        forget.finish();
    }
    QSqlQuery &settle = context.statement(QStringLiteral(
        "INSERT OR REPLACE INTO \"ScannedFolder\" (\"path\", \"device\", \"inode\", "
        "\"modified\", \"changed\", \"tracks\", \"subfolders\") VALUES (?, ?, ?, ?, ?, ?, ?)"));
    for (auto it = settled.cbegin(); it != settled.cend(); ++it) {
        const FolderStamp &stamp = it->stamp;
        settle.bindValue(0, RecordFields::ownCopy(it.key()));
        settle.bindValue(1, stamp.device);
        settle.bindValue(2, stamp.inode);
        settle.bindValue(3, stamp.modifiedNs);
        settle.bindValue(4, stamp.changedNs);
        settle.bindValue(5, it->tracks);
        QByteArray names;
        for (const QByteArray &name : it->subfolders) {
            if (!names.isEmpty())
                names += '\0';
            names += name;
        }
        settle.bindValue(6, names);
        context.exec(settle);
        settle.finish();
    }
}

template <typename R> void write(StoreContext &context, R &record) {
    context.beginChanges();
    if (record.objectID != 0) {
        QSqlQuery &update = context.statement(RecordFields::updateStatement<R>());
        RecordFields::bindFields(update, record);
        update.bindValue(int(RecordFields::Entity<R>::fields().size()), record.objectID);
        context.exec(update);
        const int changed = update.numRowsAffected();
        update.finish();
        if (changed > 0)
            return;
    }
    QSqlQuery &insert = context.statement(RecordFields::insertStatement<R>());
    RecordFields::bindFields(insert, record);
    context.exec(insert);
    record.objectID = insert.lastInsertId().toLongLong();
    insert.finish();
}

void remove(StoreContext &context, const QString &entityName, qint64 objectID) {
    if (!isEntity(entityName))
        throw StoreError(QStringLiteral("no entity named %1").arg(entityName));
    context.beginChanges();
    QSqlQuery &query = context.statement(
        QStringLiteral("DELETE FROM \"%1\" WHERE \"objectID\" = ?").arg(entityName));
    query.bindValue(0, objectID);
    context.exec(query);
    query.finish();
}

void removeAll(StoreContext &context, const QString &entityName) {
    if (!isEntity(entityName))
        throw StoreError(QStringLiteral("no entity named %1").arg(entityName));
    context.beginChanges();
    QSqlQuery &query = context.statement(QStringLiteral("DELETE FROM \"%1\"").arg(entityName));
    context.exec(query);
    query.finish();
}

template QList<AudioPtr> fetch<Audio>(StoreContext &, const QString &, const QVariantList &, Order,
                                      int);
template QList<UserPtr> fetch<User>(StoreContext &, const QString &, const QVariantList &, Order,
                                    int);
template QList<std::shared_ptr<Media>> fetch<Media>(StoreContext &, const QString &,
                                                    const QVariantList &, Order, int);
template void write<Audio>(StoreContext &, Audio &);
template void write<User>(StoreContext &, User &);
template void write<Media>(StoreContext &, Media &);

} // namespace StoreQueries
