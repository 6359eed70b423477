// Times the reply parsers on replies as large as a big cloud library sends.
#include "service/JSONRecievedDataParser.h"
#include "service/SecretMasking.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
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

// The process's resident set: now, and its peak since the last reset.
qint64 residentKiB(const char *field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

void resetPeakResident() {
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

// A whole listing as the sync takes it in: read once, the tracks made as it
// is parsed. Time, and the growth of the peak resident set with the reply
// already in memory.
void wholeListing(int items) {
    const QByteArray body = listing(items);
    const qint64 before = residentKiB("VmRSS:");
    resetPeakResident();
    QElapsedTimer clock;
    clock.start();
    const JSONRecievedDataParser::ListingReply reply =
        JSONRecievedDataParser::parseListingReply(body);
    const qint64 readMs = clock.elapsed();
    const qint64 peak = residentKiB("VmHWM:");
    const qint64 kept = reply.listing.tracks.size();
    std::printf("whole listing of %d items (%.1f MiB, %lld kept, %s)\n", items,
                body.size() / 1048576.0, static_cast<long long>(kept),
                reply.answered && reply.status == QLatin1String("OK") ? "valid" : "INVALID");
    std::printf("  read with its tracks made as it is parsed: %lld ms\n",
                static_cast<long long>(readMs));
    std::printf("  peak resident set %.0f MiB above the %.0f MiB before (the reply already in memory)\n\n",
                (peak - before) / 1024.0, before / 1024.0);
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

    int wholeItems = 200000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (qstrcmp(argv[i], "--listing") == 0)
            wholeItems = QByteArray(argv[i + 1]).toInt();
    }
    // First, while the process is small, so that the peak is the listing's.
    wholeListing(wholeItems);

    std::printf("| operation | reply size | replies per second | items per second |\n");
    std::printf("|---|---:|---:|---:|\n");

    for (const int items : {1000, 10000, 50000, 200000}) {
        const QByteArray body = listing(items);
        const int repetitions = qMax(2, 200000 / items);
        qsizetype kept = 0;
        const double rate = perSecond(repetitions, [&] {
            kept = JSONRecievedDataParser::parseUserCloudMedia(body).tracks.size();
        });
        std::printf("| parseUserCloudMedia, %d items (%lld kept) | %.1f KiB | %.1f | %.0f |\n",
                    items, static_cast<long long>(kept), body.size() / 1024.0, rate, rate * items);
    }
    const QByteArray envelope = R"({"responseStatus":"SUCCESS","responseText":"done"})";
    QString status;
    const double envelopes =
        perSecond(200000, [&] { JSONRecievedDataParser::parseJSONResponse(envelope, &status); });
    std::printf("| parseJSONResponse | %lld B | %.0f | |\n",
                static_cast<long long>(envelope.size()), envelopes);
    const QByteArray login =
        R"({"loginDesktop":{"username":"a@b.c","password":"pw","hashedPassword":"","appId":"desktop","deviceId":"D","signature":"0123456789ABCDEF0123456789ABCDEF"}})";
    const double masked = perSecond(100000, [&] { (void)SecretMasking::bodyForLog(login); });
    std::printf("| bodyForLog (login body, masked) | %lld B | %.0f | |\n",
                static_cast<long long>(login.size()), masked);
    return 0;
}
