#include "TrackStates.h"

#include "settings/Logging.h"
#include "store/StoreContext.h"
#include "store/StoreError.h"
#include "store/StoreSetup.h"
#include "store/StoreThread.h"

#include <QFileInfo>
#include <QSqlQuery>
#include <QVariant>

namespace TrackStates {

State stateOf(bool downloaded, const QVariant &downloadable, bool uploaded,
              const QString &failureReason) {
    if (downloaded)
        return State::Downloaded;
    if (downloadable.isNull())
        return State::NotAnswered;
    if (downloadable.toBool())
        return uploaded ? State::Uploaded : State::Matched;
    return failureReason.isEmpty() ? State::WaitingForUpload : State::Failed;
}

QString describe(State state, const QString &reason) {
    switch (state) {
    case State::Matched:
        return QStringLiteral("matched from the catalogue");
    case State::Uploaded:
        return QStringLiteral("uploaded");
    case State::Downloaded:
        return QStringLiteral("downloaded");
    case State::WaitingForUpload:
        return QStringLiteral("waiting for upload");
    case State::NotAnswered:
        return QStringLiteral("not answered yet");
    case State::Failed:
        return QStringLiteral("failed: %1").arg(reason);
    }
    return QString();
}

QList<Row> load(bool failedOnly) {
    StoreContext *context = StoreSetup::instance().managedObjectContext();
    if (!context)
        return {};
    // The failed ones are those the service has no copy of and that carry a
    // reason; the state below decides, the clause only narrows the rows read.
    const QString sql =
        QStringLiteral("SELECT \"songName\", \"name\", \"artist\", \"album\", \"fileURL\", "
                       "\"downloaded\", \"downloadable\", \"uploaded\", \"failureReason\" "
                       "FROM \"Audio\"%1 ORDER BY \"artist\", \"album\", \"songName\", \"name\"")
            .arg(failedOnly ? QStringLiteral(" WHERE \"failureReason\" IS NOT NULL AND "
                                             "\"downloadable\" = 0")
                            : QString());
    return StoreThread::instance().call([&]() -> QList<Row> {
        QList<Row> rows;
        if (!StoreSetup::instance().isLive(context))
            return rows;
        try {
            QSqlQuery &query = context->statement(sql);
            query.setForwardOnly(true);
            context->exec(query);
            while (query.next()) {
                Row row;
                row.title = query.value(0).toString();
                const QString file = query.value(4).toString();
                if (row.title.isEmpty())
                    row.title = query.value(1).toString();
                if (row.title.isEmpty())
                    row.title = QFileInfo(file).fileName();
                row.artist = query.value(2).toString();
                row.album = query.value(3).toString();
                row.file = file;
                const QString reason = query.value(8).toString();
                row.state = stateOf(query.value(5).toLongLong() == 1, query.value(6),
                                    query.value(7).toBool(), reason);
                if (row.state == State::Failed)
                    row.reason = reason;
                rows.append(std::move(row));
            }
            query.finish();
        } catch (const StoreError &error) {
            qCWarning(lcStore).noquote()
                << QStringLiteral("The tracks could not be read: %1").arg(error.message());
        }
        return rows;
    });
}

QString line(const Row &row) {
    QString who = row.title;
    if (!row.artist.isEmpty())
        who = row.artist + QStringLiteral(" — ") + row.title;
    QString text = QStringLiteral("%1  %2").arg(describe(row.state, row.reason), who);
    if (!row.file.isEmpty())
        text += QStringLiteral("  (%1)").arg(row.file);
    return text;
}

} // namespace TrackStates
