#pragma once

#include "store/Audio.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// Turns reply bodies into what the client acts on: the reply status (which
// the caller keeps as the coordinator's syncStatus, after clearing the other
// status texts), the cloud library listing, the catalogue-match reply and the
// recognition result document. Stateless.
// Every parse tolerates any input: a body that is not JSON, is cut short, or
// holds members of the wrong type leaves the documented "nothing" results.
class JSONRecievedDataParser {
public:
    // Envelope: `status` becomes "responseStatus" (empty when absent; "responseStatus
    // is empty" when empty). Answers NO only for an empty status.
    static bool parseJSONResponse(const QByteArray &reply, QString *status);
    // The same, for a reply the transport has already parsed (a large listing
    // is then read once, not three times).
    static bool parseJSONResponse(const QJsonDocument &reply, QString *status);

    // The audio items of a listing and the position the next listing starts from.
    struct CloudListing {
        qint64 milliseconds = 0;
        QList<AudioPtr> tracks;
    };
    static CloudListing parseUserCloudMedia(const QByteArray &reply);
    static CloudListing parseUserCloudMedia(const QJsonDocument &reply);
    // A listing reply read in one pass, without a document of it: its
    // envelope as parseJSONResponse reads it, and its listing.
    struct ListingReply {
        bool answered = false;
        QString status;
        CloudListing listing;
    };
    static ListingReply parseListingReply(const QByteArray &reply);

    // Sign-up envelope. `status` is set when the reply decides the status
    // texts: on refusal it holds the localised reason.
    static bool parseJSONResponseFromSignUp(const QByteArray &reply,
                                            std::optional<QString> *status);
    // A catalogue-match reply object, or nothing.
    static std::optional<QJsonObject> parseCreateMediaRequest(const QByteArray &reply);
    // The recognition result document (one object per input file), or nothing.
    static std::optional<QJsonArray> parseGracenoteResponse(const std::optional<QByteArray> &data);
};
