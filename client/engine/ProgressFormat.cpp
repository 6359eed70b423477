#include "ProgressFormat.h"

#include <QStringList>

#include <algorithm>

namespace ProgressFormat {

namespace {

using Stage = SyncProgress::Stage;
using Outcome = SyncProgress::Outcome;

// The stage's name and, once its size is known, how far it is: "Uploading 3/10".
QString position(const SyncProgress::State &s) {
    QString text = SyncProgress::stageName(s.stage);
    if (s.itemsTotal > 0)
        text += QStringLiteral(" %1/%2").arg(s.itemsDone).arg(s.itemsTotal);
    else if (s.itemsDone > 0)
        text += QStringLiteral(" %1").arg(s.itemsDone);
    return text;
}

QString outcomeText(Stage stage, Outcome outcome, const QString &detail) {
    switch (outcome) {
    case Outcome::Succeeded:
        switch (stage) {
        case Stage::Matching:
            return QStringLiteral("matched without upload");
        case Stage::Uploading:
            return QStringLiteral("uploaded");
        case Stage::Downloading:
            return QStringLiteral("downloaded");
        case Stage::Scanning:
            return QStringLiteral("found");
        case Stage::Idle:
            break;
        }
        return QStringLiteral("done");
    case Outcome::Unmatched:
        return stage == Stage::Matching ? QStringLiteral("not in the catalogue, will be uploaded")
                                        : QStringLiteral("not done");
    case Outcome::Skipped:
        return detail.isEmpty() ? QStringLiteral("skipped")
                                : QStringLiteral("skipped: %1").arg(detail);
    case Outcome::Failed:
        return detail.isEmpty() ? QStringLiteral("failed")
                                : QStringLiteral("failed: %1").arg(detail);
    }
    return QString();
}

QString rate(const SyncProgress::State &s) {
    if (s.bytesDone <= 0 || s.stageElapsedMs <= 0)
        return QString();
    return bytes(qint64(double(s.bytesDone) * 1000.0 / double(s.stageElapsedMs))) +
           QStringLiteral("/s");
}

QString timeLeft(const SyncProgress::State &s) {
    const std::optional<qint64> left = msLeft(s);
    if (!left || (s.itemsTotal > 0 && s.itemsDone >= s.itemsTotal))
        return QString();
    return QStringLiteral("about %1 left").arg(duration(*left));
}

} // namespace

QString bytes(qint64 count) {
    if (count < 1000)
        return QStringLiteral("%1 B").arg(count);
    static const char *const units[] = {"KB", "MB", "GB", "TB"};
    double value = double(count);
    int unit = -1;
    while (value >= 999.95 && unit < 3) {
        value /= 1000.0;
        ++unit;
    }
    const int decimals = unit >= 2 ? 2 : 1;
    return QStringLiteral("%1 %2").arg(value, 0, 'f', decimals).arg(QLatin1String(units[unit]));
}

QString duration(qint64 ms) {
    const qint64 seconds = (std::max<qint64>(ms, 0) + 500) / 1000;
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    // The smaller unit only when it says something.
    const auto join = [](qint64 big, const char *bigUnit, qint64 small, const char *smallUnit) {
        QString text = QStringLiteral("%1 %2").arg(big).arg(QLatin1String(bigUnit));
        if (small > 0)
            text += QStringLiteral(" %1 %2").arg(small).arg(QLatin1String(smallUnit));
        return text;
    };
    if (seconds < 3600)
        return join(seconds / 60, "min", seconds % 60, "s");
    return join(seconds / 3600, "h", (seconds % 3600) / 60, "min");
}

std::optional<qint64> msLeft(const SyncProgress::State &s) {
    double fraction = 0;
    if (s.bytesTotal > 0 && s.bytesDone > 0)
        fraction = double(s.bytesDone) / double(s.bytesTotal);
    else if (s.itemsTotal > 0 && s.itemsDone > 0)
        fraction = double(s.itemsDone) / double(s.itemsTotal);
    if (fraction <= 0 || s.stageElapsedMs <= 0)
        return std::nullopt;
    if (fraction >= 1)
        return 0;
    return qint64(double(s.stageElapsedMs) * (1.0 - fraction) / fraction);
}

QString stageStarted(const SyncProgress::State &s) {
    QStringList parts;
    if (s.itemsTotal > 0)
        parts << QStringLiteral("%1 %2")
                     .arg(s.itemsTotal)
                     .arg(s.itemsTotal == 1 ? QStringLiteral("track") : QStringLiteral("tracks"));
    if (s.bytesTotal > 0)
        parts << bytes(s.bytesTotal);
    const QString what =
        parts.isEmpty() ? QStringLiteral("started") : parts.join(QStringLiteral(", "));
    return QStringLiteral("[%1] %2").arg(SyncProgress::stageName(s.stage), what);
}

QString itemFinished(const SyncProgress::Event &e, qint64 itemBytes) {
    const SyncProgress::State &s = e.state;
    QStringList details;
    if (itemBytes > 0)
        details << bytes(itemBytes);
    if (const QString r = rate(s); !r.isEmpty())
        details << r;
    if (const QString left = timeLeft(s); !left.isEmpty())
        details << left;
    QString line = QStringLiteral("[%1] %2 %3")
                       .arg(position(s), e.item, outcomeText(s.stage, e.outcome, e.detail));
    if (!details.isEmpty())
        line += QStringLiteral(" (%1)").arg(details.join(QStringLiteral(", ")));
    return line;
}

QString summary(const QString &how, const SyncProgress::State &t, qint64 elapsedMs) {
    return QStringLiteral("%1 in %2: %3 found, %4 matched without upload, %5 uploaded, "
                          "%6 downloaded, %7 failed")
        .arg(how, duration(elapsedMs))
        .arg(t.tracksFound)
        .arg(t.tracksMatched)
        .arg(t.tracksUploaded)
        .arg(t.tracksDownloaded)
        .arg(t.tracksFailed);
}

QStringList leftStillWritten(const QStringList &paths) {
    if (paths.isEmpty())
        return {};
    if (paths.size() == 1)
        return {QStringLiteral("1 file is still being written and waits for the next sync: %1")
                    .arg(paths.first())};
    constexpr qsizetype shown = 10;
    QStringList lines{QStringLiteral("%1 files are still being written and wait for the next sync:")
                          .arg(paths.size())};
    for (const QString &path : paths.first(std::min(shown, paths.size())))
        lines << QStringLiteral("  %1").arg(path);
    if (paths.size() > shown)
        lines << QStringLiteral("  and %1 more").arg(paths.size() - shown);
    return lines;
}

QString bar(const SyncProgress::State &s, int width) {
    double fraction = -1;
    if (s.bytesTotal > 0)
        fraction = double(s.bytesDone) / double(s.bytesTotal);
    else if (s.itemsTotal > 0)
        fraction = double(s.itemsDone) / double(s.itemsTotal);
    fraction = std::clamp(fraction, -1.0, 1.0);

    QString head = QStringLiteral("[%1]").arg(position(s));
    QStringList tail;
    if (s.bytesTotal > 0)
        tail << QStringLiteral("%1/%2").arg(bytes(s.bytesDone), bytes(s.bytesTotal));
    else if (s.bytesDone > 0)
        tail << bytes(s.bytesDone);
    if (const QString left = timeLeft(s); !left.isEmpty())
        tail << left;
    if (!s.currentItem.isEmpty())
        tail << s.currentItem;

    QString meter;
    if (fraction >= 0) {
        constexpr int cells = 20;
        const int filled = int(fraction * cells);
        meter =
            QStringLiteral(" [%1%2] %3%")
                .arg(QString(filled, QLatin1Char('#')), QString(cells - filled, QLatin1Char('-')))
                .arg(int(fraction * 100));
    }
    QString line = head + meter;
    if (!tail.isEmpty())
        line += QLatin1Char(' ') + tail.join(QStringLiteral("  "));
    // One character short of the width, so that the terminal never wraps.
    const int room = std::max(width - 1, 10);
    if (line.size() > room)
        line = line.left(room - 1) + QChar(0x2026);
    return line;
}

} // namespace ProgressFormat
