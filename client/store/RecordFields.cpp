#include "RecordFields.h"

#include <QStringList>
#include <QVariant>

namespace RecordFields {

const std::vector<Field<Audio>> &Entity<Audio>::fields() {
    static const std::vector<Field<Audio>> fields{
        {"checksum", &Audio::checksum},
        {"downloaded", &Audio::downloaded},
        {"duration", &Audio::duration},
        {"durationTime", &Audio::durationTime},
        {"encrypted", &Audio::encrypted},
        {"fileURL", &Audio::fileURL},
        {"fileExtension", &Audio::fileExtension},
        {"fingerPrintID", &Audio::fingerPrintID},
        {"markedForDeletion", &Audio::markedForDeletion},
        {"name", &Audio::name},
        {"partiallyDownloaded", &Audio::partiallyDownloaded},
        {"retries", &Audio::retries},
        {"sequence", &Audio::sequence},
        {"songName", &Audio::songName},
        {"synced", &Audio::synced},
        {"userMediaID", &Audio::userMediaID},
        {"artist", &Audio::artist},
        {"album", &Audio::album},
        {"releaseYear", &Audio::releaseYear},
        {"downloadable", &Audio::downloadable},
        {"modDate", &Audio::modDate},
        {"uploaded", &Audio::uploaded},
        {"failureReason", &Audio::failureReason},
        {"fileSize", &Audio::fileSize},
        {"fileModified", &Audio::fileModified},
        {"fileDevice", &Audio::fileDevice},
        {"fileInode", &Audio::fileInode},
        {"replaces", &Audio::replaces},
    };
    return fields;
}

const std::vector<Field<User>> &Entity<User>::fields() {
    static const std::vector<Field<User>> fields{
        {"id", &User::id},
        {"username", &User::username},
        {"password", &User::password},
        {"deviceId", &User::deviceId},
        {"facebookToken", &User::facebookToken},
        {"firstName", &User::firstName},
        {"lastName", &User::lastName},
        {"gracenoteUser", &User::gracenoteUser},
        {"audioEncrypted", &User::audioEncrypted},
        {"authenticated", &User::authenticated},
        {"firstLogin", &User::firstLogin},
        {"lastRequest", &User::lastRequest},
        {"encryptionKey", &User::encryptionKey},
    };
    return fields;
}

const std::vector<Field<Media>> &Entity<Media>::fields() {
    // previousSyncStatus lives in memory only.
    static const std::vector<Field<Media>> fields{
        {"userMediaID", &Media::userMediaID},
        {"name", &Media::name},
        {"duration", &Media::duration},
        {"synced", &Media::synced},
        {"downloaded", &Media::downloaded},
        {"downloadBlocked", &Media::downloadBlocked},
        {"partiallyDownloaded", &Media::partiallyDownloaded},
        {"retries", &Media::retries},
        {"plays", &Media::plays},
        {"encrypted", &Media::encrypted},
        {"durationTime", &Media::durationTime},
    };
    return fields;
}

namespace {

QString quoted(const char *name) {
    return QLatin1Char('"') + QLatin1String(name) + QLatin1Char('"');
}

template <typename R> const char *sqlType(const Member<R> &member) {
    return std::holds_alternative<std::optional<QString> R::*>(member) ? "TEXT" : "INTEGER";
}

} // namespace

QString ownCopy(const QString &text) {
    return QString(text.constData(), text.size());
}

namespace {

// Absent fields are NULL; present texts are never NULL, even when empty, so
// that an empty checksum finds the other empty checksums. Timestamps are kept
// as milliseconds since the epoch (UTC).
template <typename T> QVariant toVariant(const std::optional<T> &value) {
    if (!value)
        return QVariant();
    if constexpr (std::is_same_v<T, QDateTime>)
        return value->isValid() ? QVariant(value->toMSecsSinceEpoch()) : QVariant();
    else if constexpr (std::is_same_v<T, bool>)
        return QVariant(qint64(*value ? 1 : 0));
    else if constexpr (std::is_same_v<T, QString>)
        return QVariant(value->isNull() ? QString(QLatin1String("")) : ownCopy(*value));
    else
        return QVariant(*value);
}

// Texts read share nothing with the driver's row buffer either (see ownCopy).
template <typename T> std::optional<T> fromVariant(const QVariant &value) {
    if (!value.isValid() || value.isNull())
        return std::nullopt;
    if constexpr (std::is_same_v<T, QDateTime>)
        return QDateTime::fromMSecsSinceEpoch(value.toLongLong(), Qt::UTC);
    else if constexpr (std::is_same_v<T, bool>)
        return value.toLongLong() != 0;
    else if constexpr (std::is_same_v<T, qint64>)
        return value.toLongLong();
    else
        return value.toString().isNull() ? QString(QLatin1String("")) : ownCopy(value.toString());
}

} // namespace

// The texts are built once per record type: statements are looked up by text.
template <typename R> QString selectColumns() {
    // Built once per record type: the statements are looked up by their text.
    static const QString text = [] {
        QStringList columns{QStringLiteral("\"objectID\"")};
        for (const auto &field : Entity<R>::fields())
            columns << quoted(field.name);
        return columns.join(QLatin1Char(','));
    }();
    return text;
}

template <typename R> QString createTable() {
    static const QString text = [] {
        QStringList columns{QStringLiteral("\"objectID\" INTEGER PRIMARY KEY")};
        for (const auto &field : Entity<R>::fields())
            columns << quoted(field.name) + QLatin1Char(' ') +
                           QLatin1String(sqlType<R>(field.member));
        return QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (%2)")
            .arg(quoted(Entity<R>::name), columns.join(QLatin1Char(',')));
    }();
    return text;
}

template <typename R> QString insertStatement() {
    static const QString text = [] {
        QStringList columns;
        for (const auto &field : Entity<R>::fields())
            columns << quoted(field.name);
        const QStringList marks(columns.size(), QStringLiteral("?"));
        return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
            .arg(quoted(Entity<R>::name), columns.join(QLatin1Char(',')),
                 marks.join(QLatin1Char(',')));
    }();
    return text;
}

template <typename R> QString updateStatement() {
    static const QString text = [] {
        QStringList sets;
        for (const auto &field : Entity<R>::fields())
            sets << quoted(field.name) + QStringLiteral("=?");
        return QStringLiteral("UPDATE %1 SET %2 WHERE \"objectID\"=?")
            .arg(quoted(Entity<R>::name), sets.join(QLatin1Char(',')));
    }();
    return text;
}

template <typename R> void bindFields(QSqlQuery &query, const R &record) {
    int position = 0;
    for (const auto &field : Entity<R>::fields()) {
        std::visit([&](auto member) { query.bindValue(position, toVariant(record.*member)); },
                   field.member);
        ++position;
    }
}

template <typename R> std::shared_ptr<R> read(const QSqlQuery &query) {
    auto record = std::make_shared<R>();
    record->objectID = query.value(0).toLongLong();
    int column = 1;
    for (const auto &field : Entity<R>::fields()) {
        std::visit(
            [&](auto member) {
                using T =
                    typename std::remove_reference_t<decltype(record.get()->*member)>::value_type;
                record.get()->*member = fromVariant<T>(query.value(column));
            },
            field.member);
        ++column;
    }
    return record;
}

#define SONARBOX_RECORD_FIELDS(R)                                                                  \
    template QString selectColumns<R>();                                                           \
    template QString createTable<R>();                                                             \
    template QString insertStatement<R>();                                                         \
    template QString updateStatement<R>();                                                         \
    template void bindFields<R>(QSqlQuery &, const R &);                                           \
    template std::shared_ptr<R> read<R>(const QSqlQuery &);
SONARBOX_RECORD_FIELDS(Audio)
SONARBOX_RECORD_FIELDS(User)
SONARBOX_RECORD_FIELDS(Media)
#undef SONARBOX_RECORD_FIELDS

} // namespace RecordFields
