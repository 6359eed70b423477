#include "JSONRecievedDataParser.h"

#include "JSONDictionary.h"
#include "ListingReader.h"
#include "settings/Localization.h"
#include "settings/Logging.h"
#include "settings/Utility.h"

#include <QJsonDocument>

namespace {

const QString kResponseStatus = QStringLiteral("responseStatus");
const QString kEmptyStatus = QStringLiteral("responseStatus is empty");

struct Parsed {
    QJsonDocument document;
    QJsonParseError error{};
    bool ok() const { return error.error == QJsonParseError::NoError && !document.isNull(); }
};

Parsed parse(const QByteArray &bytes) {
    Parsed p;
    p.document = QJsonDocument::fromJson(bytes, &p.error);
    return p;
}

AudioPtr audioFromListingItem(const QJsonObject &item) {
    auto audio = std::make_shared<Audio>();
    const QJsonValue name = item.value(QStringLiteral("name"));
    if (name.isString()) {
        audio->name = name.toString();
        audio->fileExtension = Utility::getFileExtension(name.toString());
    }
    audio->songName = JSONValues::text(item, QStringLiteral("songName"));
    audio->album = JSONValues::text(item, QStringLiteral("albumName"));
    audio->artist = JSONValues::text(item, QStringLiteral("artistName"));
    audio->checksum = JSONValues::text(item, QStringLiteral("checksum"));
    audio->userMediaID = JSONValues::identifier(item, QStringLiteral("id"));
    audio->sequence = JSONValues::integer(item, QStringLiteral("sequenceInAlbum"));
    audio->fingerPrintID = JSONValues::text(item, QStringLiteral("fingerprintId"));
    if (const auto downloadable = JSONValues::integer(item, QStringLiteral("downloadable")))
        audio->downloadable = *downloadable != 0;
    audio->markedForDeletion = false;
    return audio;
}

const QString kListingItems = QStringLiteral("updatedUserMedias");

// No position means the next listing starts from the beginning.
qint64 positionOf(const QJsonObject &listing) {
    return JSONValues::integer(listing, QStringLiteral("milliseconds")).value_or(0);
}

// A listing item that is a song the desktop keeps becomes a track.
void addListingItem(const QJsonValue &value, QList<AudioPtr> *tracks) {
    const QJsonObject item = value.toObject();
    if (JSONValues::text(item, QStringLiteral("mediaType")) != QLatin1String("AUDIO"))
        return;
    if (JSONValues::integer(item.value(QStringLiteral("deleted"))).value_or(0) != 0)
        return;
    tracks->append(audioFromListingItem(item));
}

} // namespace

bool JSONRecievedDataParser::parseJSONResponse(const QByteArray &reply, QString *status) {
    return parseJSONResponse(parse(reply).document, status);
}

bool JSONRecievedDataParser::parseJSONResponse(const QJsonDocument &reply, QString *status) {
    const std::optional<QString> text = JSONValues::text(reply.object(), kResponseStatus);
    const bool empty = text && text->isEmpty();
    if (status)
        *status = empty ? kEmptyStatus : text.value_or(QString());
    return !empty;
}

JSONRecievedDataParser::CloudListing
JSONRecievedDataParser::parseUserCloudMedia(const QByteArray &reply) {
    return parseListingReply(reply).listing;
}

JSONRecievedDataParser::CloudListing
JSONRecievedDataParser::parseUserCloudMedia(const QJsonDocument &reply) {
    const QJsonObject listing = reply.object();
    CloudListing result;
    result.milliseconds = positionOf(listing);
    const QJsonArray items = listing.value(kListingItems).toArray();
    for (const QJsonValue &value : items)
        addListingItem(value, &result.tracks);
    return result;
}

JSONRecievedDataParser::ListingReply
JSONRecievedDataParser::parseListingReply(const QByteArray &reply) {
    ListingReply result;
    QJsonObject envelope;
    if (!ListingReader::read(reply, kListingItems, &envelope, [&](const QJsonValue &value) {
            addListingItem(value, &result.listing.tracks);
        }))
        result.listing.tracks.clear();
    result.answered = parseJSONResponse(QJsonDocument(envelope), &result.status);
    result.listing.milliseconds = positionOf(envelope);
    return result;
}

bool JSONRecievedDataParser::parseJSONResponseFromSignUp(const QByteArray &reply,
                                                         std::optional<QString> *status) {
    const Parsed parsed = parse(reply);
    if (!parsed.ok()) {
        // The sign-in that follows decides the outcome.
        qCWarning(lcService).noquote()
            << QStringLiteral("Error happened: %1").arg(parsed.error.errorString());
        return true;
    }
    const QJsonObject envelope = parsed.document.object();
    const std::optional<QString> text = JSONValues::text(envelope, kResponseStatus);
    const auto decide = [status](const QString &value) {
        if (status)
            *status = value;
    };
    if (text && text->isEmpty()) {
        decide(kEmptyStatus);
        return false;
    }
    if (text == QLatin1String("SUCCESS")) {
        decide(QString());
        return true;
    }
    const QString reason =
        JSONValues::text(envelope, QStringLiteral("responseText")).value_or(QString());
    decide(Localization::localizedString(reason));
    return false;
}

std::optional<QJsonObject>
JSONRecievedDataParser::parseCreateMediaRequest(const QByteArray &reply) {
    const Parsed parsed = parse(reply);
    if (!parsed.ok() || !parsed.document.isObject()) {
        qCWarning(lcService).noquote() << QStringLiteral("ERROR %1")
                                              .arg(parsed.ok() ? QStringLiteral("not a JSON object")
                                                               : parsed.error.errorString());
        return std::nullopt;
    }
    return parsed.document.object();
}

std::optional<QJsonArray>
JSONRecievedDataParser::parseGracenoteResponse(const std::optional<QByteArray> &data) {
    if (!data)
        return std::nullopt;
    // The document comes out of a fixed-size buffer: it ends at the first NUL.
    QByteArray text = *data;
    if (const qsizetype nul = text.indexOf('\0'); nul >= 0)
        text.truncate(nul);
    const Parsed parsed = parse(text);
    if (!parsed.ok() || !parsed.document.isArray()) {
        qCWarning(lcService).noquote() << QStringLiteral("ERROR %1")
                                              .arg(parsed.ok() ? QStringLiteral("not a JSON array")
                                                               : parsed.error.errorString());
        return std::nullopt;
    }
    return parsed.document.array();
}
