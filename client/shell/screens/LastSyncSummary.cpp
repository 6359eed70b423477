#include "LastSyncSummary.h"

#include "engine/ProgressFormat.h"
#include "engine/Sonarbox.h"
#include "settings/NSDefaultsUtility.h"

#include <QLocale>

namespace {

// The shell's own preference: the summary line as last shown.
constexpr QLatin1StringView kSummaryKey{"lastSyncSummary"};
constexpr QLatin1StringView kFailedKey{"lastSyncFailed"};
// The last sync that changed something: when it ended (ISO 8601, UTC) and
// its counts, so that its line is made in the time zone and on the day it is
// read.
constexpr QLatin1StringView kChangeTimeKey{"lastChangeTime"};
constexpr QLatin1StringView kChangeMatchedKey{"lastChangeMatched"};
constexpr QLatin1StringView kChangeUploadedKey{"lastChangeUploaded"};
constexpr QLatin1StringView kChangeDownloadedKey{"lastChangeDownloaded"};

qint64 storedCount(QLatin1StringView key) {
    return qint64(NSDefaultsUtility::standard().number(key).value_or(0));
}

// Today's syncs by their time, older ones by their date as well.
QString whenText(const QDateTime &when) {
    const QDateTime local = when.toLocalTime();
    const QString format = local.date() == QDate::currentDate()
                               ? QStringLiteral("HH:mm")
                               : QStringLiteral("yyyy-MM-dd HH:mm");
    return local.toString(format);
}

} // namespace

LastSyncSummary &LastSyncSummary::instance() {
    static LastSyncSummary *const shared = new LastSyncSummary(Sonarbox::instance().syncProgress());
    return *shared;
}

LastSyncSummary::LastSyncSummary(SyncProgress &progress, QObject *parent)
    : QObject(parent)
    , m_text(NSDefaultsUtility::standard().text(kSummaryKey).value_or(QString()))
    , m_failed(NSDefaultsUtility::standard().text(kFailedKey).value_or(QString()).toLongLong()) {
    m_changeTime = QDateTime::fromString(
        NSDefaultsUtility::standard().text(kChangeTimeKey).value_or(QString()), Qt::ISODate);
    m_change.tracksMatched = storedCount(kChangeMatchedKey);
    m_change.tracksUploaded = storedCount(kChangeUploadedKey);
    m_change.tracksDownloaded = storedCount(kChangeDownloadedKey);
    qRegisterMetaType<SyncProgress::Event>();
    // The stages report from their own thread; the line is made here.
    connect(&progress, &SyncProgress::event, this, &LastSyncSummary::onEvent, Qt::QueuedConnection);
}

QString LastSyncSummary::describe(const QString &how, const SyncProgress::State &totals,
                                  qint64 elapsedMs, const QDateTime &when) {
    return QStringLiteral("Last sync %1 — %2")
        .arg(whenText(when), ProgressFormat::summary(how, totals, elapsedMs));
}

QString LastSyncSummary::describeChange(const SyncProgress::State &totals, const QDateTime &when) {
    return QStringLiteral("Last change %1: %2 matched, %3 uploaded, %4 downloaded")
        .arg(whenText(when))
        .arg(totals.tracksMatched)
        .arg(totals.tracksUploaded)
        .arg(totals.tracksDownloaded);
}

QString LastSyncSummary::lastChange() const {
    return m_changeTime.isValid() ? describeChange(m_change, m_changeTime) : QString();
}

void LastSyncSummary::recordChange(const SyncProgress::State &totals, const QDateTime &when) {
    if (totals.tracksMatched == 0 && totals.tracksUploaded == 0 && totals.tracksDownloaded == 0)
        return;
    m_changeTime = when;
    m_change = {};
    m_change.tracksMatched = totals.tracksMatched;
    m_change.tracksUploaded = totals.tracksUploaded;
    m_change.tracksDownloaded = totals.tracksDownloaded;
    NSDefaultsUtility::standard().setText(kChangeTimeKey, when.toUTC().toString(Qt::ISODate));
    NSDefaultsUtility::standard().setNumber(kChangeMatchedKey, double(totals.tracksMatched));
    NSDefaultsUtility::standard().setNumber(kChangeUploadedKey, double(totals.tracksUploaded));
    NSDefaultsUtility::standard().setNumber(kChangeDownloadedKey, double(totals.tracksDownloaded));
}

void LastSyncSummary::onEvent(const SyncProgress::Event &event) {
    using Kind = SyncProgress::Event::Kind;
    if (event.kind == Kind::SyncStarted) {
        m_clock.start();
        return;
    }
    if (event.kind != Kind::SyncEnded)
        return;
    const QDateTime now = QDateTime::currentDateTime();
    m_text = describe(event.detail, event.state, m_clock.isValid() ? m_clock.elapsed() : 0, now);
    recordChange(event.state, now);
    m_failed = event.state.tracksFailed;
    NSDefaultsUtility::standard().setText(kSummaryKey, m_text);
    NSDefaultsUtility::standard().setText(kFailedKey, QString::number(m_failed));
    emit changed(m_text);
}
