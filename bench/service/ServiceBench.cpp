// Times the reply parsers on replies as large as a big cloud library sends.
#include "service/JSONRecievedDataParser.h"
#include "service/SecretMasking.h"
#include "sync/Sonarbox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdio>

namespace {

QByteArray listing(int items) {
    QByteArray body =
        R"({"responseStatus":"OK","milliseconds":1700000000999,"updatedUserMedias":[)";
    for (int i = 0; i < items; ++i) {
        body +=
            R"({"mediaType":"AUDIO","deleted":)" + QByteArray(i % 10 == 0 ? "1" : "0") +
            R"(,"name":"Track%20)" + QByteArray::number(i) + R"(.mp3","songName":"Song )" +
            QByteArray::number(i) +
            R"(","albumName":"Album","artistName":"Artist","checksum":"0123456789abcdef0123456789abcdef","id":)" +
            QByteArray::number(100000 + i) + R"(,"sequenceInAlbum":)" + QByteArray::number(i % 20) +
            R"(,"fingerprintId":"GN-)" + QByteArray::number(i) + R"(","downloadable":1},)";
    }
    if (items > 0)
        body.chop(1);
    return body + "]}";
}

template <typename F> double perSecond(int repetitions, F &&work) {
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < repetitions; ++i)
        work();
    return repetitions * 1e9 / double(qMax<qint64>(clock.nsecsElapsed(), 1));
}

} // namespace

int main(int argc, char **argv) {
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/.local/share")).toLocal8Bit());
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("sonarbox.*=false"));
    Sonarbox &sonarbox = Sonarbox::instance();

    std::printf("| operation | reply size | replies per second | items per second |\n");
    std::printf("|---|---:|---:|---:|\n");
    for (const int items : {1000, 10000, 50000}) {
        const QByteArray body = listing(items);
        const int repetitions = qMax(3, 200000 / items);
        const double rate =
            perSecond(repetitions, [&] { JSONRecievedDataParser::parseUserCloudMedia(body); });
        std::printf("| parseUserCloudMedia, %d items (%lld kept) | %.1f KiB | %.1f | %.0f |\n",
                    items, static_cast<long long>(sonarbox.cloudLibraryTracks().size()),
                    body.size() / 1024.0, rate, rate * items);
    }
    const QByteArray envelope = R"({"responseStatus":"SUCCESS","responseText":"done"})";
    const double envelopes =
        perSecond(200000, [&] { JSONRecievedDataParser::parseJSONResponse(envelope); });
    std::printf("| parseJSONResponse | %lld B | %.0f | |\n",
                static_cast<long long>(envelope.size()), envelopes);
    const QByteArray login =
        R"({"loginDesktop":{"username":"a@b.c","password":"pw","hashedPassword":"","appId":"desktop","deviceId":"D","signature":"0123456789ABCDEF0123456789ABCDEF"}})";
    const double masked = perSecond(100000, [&] { (void)SecretMasking::bodyForLog(login); });
    std::printf("| bodyForLog (login body, masked) | %lld B | %.0f | |\n",
                static_cast<long long>(login.size()), masked);
    return 0;
}
