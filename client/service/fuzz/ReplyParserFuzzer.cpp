// libFuzzer target for the reply parsers: whatever bytes a server sends, the
// parsers must neither crash nor hand the caller results the rest of the
// client cannot handle.
#include "service/JSONRecievedDataParser.h"
#include "service/JSONRequestBuilder.h"
#include "service/SecretMasking.h"

#include <QLoggingCategory>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // Parse errors are logged; millions of them would only slow the search.
    QLoggingCategory::setFilterRules(QStringLiteral("sonarbox.*=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray reply(reinterpret_cast<const char *>(data), qsizetype(size));

    QString status;
    const bool accepted = JSONRecievedDataParser::parseJSONResponse(reply, &status);
    // Only an empty status is refused, and it says so.
    if (!accepted && status != QLatin1String("responseStatus is empty"))
        std::abort();
    std::optional<QString> signUpStatus;
    // An accepted sign-up leaves no reason behind.
    if (JSONRecievedDataParser::parseJSONResponseFromSignUp(reply, &signUpStatus) && signUpStatus &&
        !signUpStatus->isEmpty())
        std::abort();

    const JSONRecievedDataParser::CloudListing listing =
        JSONRecievedDataParser::parseUserCloudMedia(reply);
    for (const AudioPtr &track : listing.tracks) {
        // Only kept items are listed, and every one is a detached record.
        if (!track || track->isStored() || track->markedForDeletion != false)
            std::abort();
    }

    if (const auto match = JSONRecievedDataParser::parseCreateMediaRequest(reply))
        (void)match->size();
    if (const auto results = JSONRecievedDataParser::parseGracenoteResponse(reply)) {
        Audio track;
        track.fileURL = QStringLiteral("/music/a.mp3");
        track.checksum = QStringLiteral("00112233445566778899aabbccddeeff");
        (void)JSONRequestBuilder::buildMediaFromCatalogByChecksumOrFingerprint(track, *results);
    }
    (void)SecretMasking::bodyForLog(reply);
    return 0;
}
