#include "LastSyncSummary.h"

#include "ProgressFormat.h"
#include "settings/NSDefaultsUtility.h"
#include "sync/Sonarbox.h"

#include <QLocale>

namespace {

// The shell's own preference: the summary line as last shown.
constexpr QLatin1StringView kSummaryKey{"lastSyncSummary"};
constexpr QLatin1StringView kFailedKey{"lastSyncFailed"};

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
    , m_text(NSDefaultsUtility::text(kSummaryKey).value_or(QString()))
    , m_failed(NSDefaultsUtility::text(kFailedKey).value_or(QString()).toLongLong()) {
    qRegisterMetaType<SyncProgress::Event>();
    // The stages report from their own thread; the line is made here.
    connect(&progress, &SyncProgress::event, this, &LastSyncSummary::onEvent, Qt::QueuedConnection);
}

QString LastSyncSummary::describe(const QString &how, const SyncProgress::State &totals,
                                  qint64 elapsedMs, const QDateTime &when) {
    return QStringLiteral("Last sync %1 — %2")
        .arg(whenText(when), ProgressFormat::summary(how, totals, elapsedMs));
}

void LastSyncSummary::onEvent(const SyncProgress::Event &event) {
    using Kind = SyncProgress::Event::Kind;
    if (event.kind == Kind::SyncStarted) {
        m_clock.start();
        return;
    }
    if (event.kind != Kind::SyncEnded)
        return;
    m_text = describe(event.detail, event.state, m_clock.isValid() ? m_clock.elapsed() : 0,
                      QDateTime::currentDateTime());
    m_failed = event.state.tracksFailed;
    NSDefaultsUtility::setText(kSummaryKey, m_text);
    NSDefaultsUtility::setText(kFailedKey, QString::number(m_failed));
    emit changed(m_text);
}
