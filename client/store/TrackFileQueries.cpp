#include "TrackFileQueries.h"

#include "RecordFields.h"

#include <QSqlQuery>
#include <QVariant>

namespace TrackFileQueries {

QList<StoredFile> storedFilesUnder(StoreContext &context, const QString &root) {
    // A range over the path index rather than LIKE, whose pattern characters
    // a folder name may hold.
    QSqlQuery &query = context.statement(QStringLiteral(
        "SELECT \"objectID\", \"fileURL\", \"checksum\", \"userMediaID\", \"fingerPrintID\", "
        "\"fileSize\", \"fileModified\", \"fileDevice\", \"fileInode\" FROM \"Audio\" "
        "WHERE \"fileURL\" >= ? AND \"fileURL\" < ?"));
    query.bindValue(0, RecordFields::ownCopy(root));
    // Above every path under the root: the last code point, as a pair of
    // surrogates (a QChar holds 16 bits, and U+FFFF sorts below the
    // characters outside the first plane, an emoji first in a name).
    query.bindValue(1, RecordFields::ownCopy(root + QString::fromUcs4(U"\U0010FFFF", 1)));
    context.exec(query);
    QList<StoredFile> files;
    while (query.next()) {
        StoredFile file;
        file.objectID = query.value(0).toLongLong();
        file.path = query.value(1).toString();
        file.checksum = query.value(2).toString();
        file.userMediaID = query.value(3).toString();
        file.fingerPrintID = query.value(4).toString();
        if (!query.isNull(5) && !query.isNull(6))
            file.stamp = FileStamp{query.value(5).toLongLong(), query.value(6).toLongLong(),
                                   query.value(7).toLongLong(), query.value(8).toLongLong()};
        files.append(file);
    }
    query.finish();
    return files;
}

void recordStamps(StoreContext &context, const QHash<qint64, FileStamp> &stamps) {
    if (stamps.isEmpty())
        return;
    context.beginChanges();
    QSqlQuery &update = context.statement(
        QStringLiteral("UPDATE \"Audio\" SET \"fileSize\" = ?, \"fileModified\" = ?, "
                       "\"fileDevice\" = ?, \"fileInode\" = ? WHERE \"objectID\" = ?"));
    for (auto it = stamps.cbegin(); it != stamps.cend(); ++it) {
        update.bindValue(0, it->size);
        update.bindValue(1, it->modifiedNs);
        update.bindValue(2, it->device);
        update.bindValue(3, it->inode);
        update.bindValue(4, it.key());
        context.exec(update);
        update.finish();
    }
}

void moveTrack(StoreContext &context, qint64 objectID, const QString &path,
               const FileStamp &stamp) {
    context.beginChanges();
    QSqlQuery &update = context.statement(QStringLiteral(
        "UPDATE \"Audio\" SET \"fileURL\" = ?, \"fileSize\" = ?, \"fileModified\" = ?, "
        "\"fileDevice\" = ?, \"fileInode\" = ? WHERE \"objectID\" = ?"));
    update.bindValue(0, RecordFields::ownCopy(path));
    update.bindValue(1, stamp.size);
    update.bindValue(2, stamp.modifiedNs);
    update.bindValue(3, stamp.device);
    update.bindValue(4, stamp.inode);
    update.bindValue(5, objectID);
    context.exec(update);
    update.finish();
}

void detachFile(StoreContext &context, qint64 objectID) {
    context.beginChanges();
    QSqlQuery &update = context.statement(QStringLiteral(
        "UPDATE \"Audio\" SET \"fileURL\" = NULL, \"fileSize\" = NULL, \"fileModified\" = NULL, "
        "\"fileDevice\" = NULL, \"fileInode\" = NULL WHERE \"objectID\" = ?"));
    update.bindValue(0, objectID);
    context.exec(update);
    update.finish();
}

QHash<QString, KnownDuplicate> knownDuplicates(StoreContext &context) {
    QSqlQuery &query = context.statement(QStringLiteral(
        "SELECT \"path\", \"checksum\", \"size\", \"modified\" FROM \"KnownDuplicate\""));
    context.exec(query);
    QHash<QString, KnownDuplicate> duplicates;
    while (query.next()) {
        KnownDuplicate duplicate;
        duplicate.checksum = query.value(1).toString();
        duplicate.stamp.size = query.value(2).toLongLong();
        duplicate.stamp.modifiedNs = query.value(3).toLongLong();
        duplicates.insert(query.value(0).toString(), duplicate);
    }
    query.finish();
    return duplicates;
}

void rememberDuplicate(StoreContext &context, const QString &path,
                       const KnownDuplicate &duplicate) {
    context.beginChanges();
    QSqlQuery &insert = context.statement(
        QStringLiteral("INSERT OR REPLACE INTO \"KnownDuplicate\" (\"path\", \"checksum\", "
                       "\"size\", \"modified\") VALUES (?, ?, ?, ?)"));
    insert.bindValue(0, RecordFields::ownCopy(path));
    insert.bindValue(1, RecordFields::ownCopy(duplicate.checksum));
    insert.bindValue(2, duplicate.stamp.size);
    insert.bindValue(3, duplicate.stamp.modifiedNs);
    context.exec(insert);
    insert.finish();
}

void forgetDuplicates(StoreContext &context, const QList<QString> &paths) {
    if (paths.isEmpty())
        return;
    context.beginChanges();
    QSqlQuery &remove =
        context.statement(QStringLiteral("DELETE FROM \"KnownDuplicate\" WHERE \"path\" = ?"));
    for (const QString &path : paths) {
        remove.bindValue(0, RecordFields::ownCopy(path));
        context.exec(remove);
        remove.finish();
    }
}

} // namespace TrackFileQueries
