#include "RetireReplaced.h"

#include "service/CommonRequest.h"
#include "settings/Logging.h"
#include "store/GenericDAO.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The service's item identifiers are numbers on the wire.
QJsonValue identifier(const QString &id) {
    bool number = false;
    const qint64 value = id.toLongLong(&number);
    return number ? QJsonValue(value) : QJsonValue(id);
}

} // namespace

namespace RetireReplaced {

int run(GenericDAO &store, const ServiceClient &client, const RunContext &context) {
    GenericDAO &dao = store;
    int retired = 0;
    for (const AudioPtr &track : dao.tracksToRetire()) {
        // Until the new version has an item of its own, the old one stays:
        // the cloud must never be left without the song.
        if (!isCloudItem(track->userMediaID))
            continue;
        const QString old = track->replaces.value_or(QString());
        if (old == *track->userMediaID) {
            // Matched to the very item it replaces (a catalogue song): the
            // cloud has nothing older to let go of.
            track->replaces.reset();
            dao.save(track);
            continue;
        }
        const QJsonObject body{{QStringLiteral("userMediaId"), identifier(old)},
                               {QStringLiteral("replacedBy"), identifier(*track->userMediaID)}};
        CommonRequest request(client);
        const std::optional<QByteArray> reply =
            request.connect(context, QJsonDocument(body).toJson(QJsonDocument::Compact),
                            QStringLiteral("retireUserMedia"));
        if (!reply)
            continue;
        const QJsonObject answer = QJsonDocument::fromJson(*reply).object();
        const QString status = answer.value(QStringLiteral("responseStatus")).toString();
        if (status != QLatin1String("SUCCESS")) {
            qCWarning(lcSync).noquote()
                << QStringLiteral("The service kept the earlier version of %1 (item %2): %3")
                       .arg(track->fileURL.value_or(QString()), old,
                            answer.value(QStringLiteral("responseText"))
                                .toString(request.errorString()));
            continue;
        }
        qCInfo(lcSync).noquote() << QStringLiteral("Retired item %1, replaced by %2 (%3)")
                                        .arg(old, *track->userMediaID,
                                             track->fileURL.value_or(QString()));
        track->replaces.reset();
        dao.save(track);
        ++retired;
    }
    return retired;
}

} // namespace RetireReplaced
