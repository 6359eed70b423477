// libFuzzer target for the reply parsers: whatever bytes a server sends, the
// parsers must neither crash nor leave the coordinator in a state the rest of
// the client cannot handle.
#include "service/JSONRecievedDataParser.h"
#include "service/JSONRequestBuilder.h"
#include "service/SecretMasking.h"
#include "sync/Sonarbox.h"

#include <QDir>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The coordinator reads and writes preferences: keep them in a private home.
    static QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/.local/share")).toLocal8Bit());
    // Parse errors are logged; millions of them would only slow the search.
    QLoggingCategory::setFilterRules(QStringLiteral("sonarbox.*=false"));
    Sonarbox::instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray reply(reinterpret_cast<const char *>(data), qsizetype(size));
    Sonarbox &sonarbox = Sonarbox::instance();

    const bool accepted = JSONRecievedDataParser::parseJSONResponse(reply);
    if (!accepted && sonarbox.syncStatus() != QLatin1String("responseStatus is empty"))
        std::abort();
    JSONRecievedDataParser::parseJSONResponseFromSignUp(reply);

    JSONRecievedDataParser::parseUserCloudMedia(reply);
    for (const AudioPtr &track : sonarbox.cloudLibraryTracks()) {
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
