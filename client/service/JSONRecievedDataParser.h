#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>

// Turns reply bodies into the state the client acts on: the reply status
// (left in the coordinator's syncStatus), the cloud library listing, the
// catalogue-match reply and the recognition result document. Stateless.
// Every parse tolerates any input: a body that is not JSON, is cut short, or
// holds members of the wrong type leaves the documented "nothing" results.
class JSONRecievedDataParser {
public:
    // Envelope: resets the coordinator's status texts, then sets syncStatus
    // from "responseStatus". Answers NO only for an empty status.
    static bool parseJSONResponse(const QByteArray &reply);
    // The same, for a reply the transport has already parsed (a large listing
    // is then read once, not three times).
    static bool parseJSONResponse(const QJsonDocument &reply);
    // Replaces the coordinator's cloudLibraryTracks and syncMilliSeconds.
    static void parseUserCloudMedia(const QByteArray &reply);
    static void parseUserCloudMedia(const QJsonDocument &reply);
    // Sign-up envelope; on refusal syncStatus holds the localised reason.
    static bool parseJSONResponseFromSignUp(const QByteArray &reply);
    // A catalogue-match reply object, or nothing.
    static std::optional<QJsonObject> parseCreateMediaRequest(const QByteArray &reply);
    // The recognition result document (one object per input file), or nothing.
    static std::optional<QJsonArray> parseGracenoteResponse(const std::optional<QByteArray> &data);
};
