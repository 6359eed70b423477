#include "SyncProgress.h"

#include <QDeadlineTimer>

namespace {
qint64 nowMs() {
    return QDeadlineTimer::current().deadline();
}
} // namespace

SyncProgress::State SyncProgress::state() const {
    const Data d = m_data.get();
    State s = d.state;
    s.stageElapsedMs = d.state.stage == Stage::Idle ? 0 : nowMs() - d.stageStartedMs;
    return s;
}

std::optional<qint64> SyncProgress::estimatedMsLeft() const {
    const State s = state();
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

QString SyncProgress::stageName(Stage stage) {
    switch (stage) {
    case Stage::Idle:
        return QStringLiteral("Idle");
    case Stage::Scanning:
        return QStringLiteral("Scanning");
    case Stage::Matching:
        return QStringLiteral("Matching");
    case Stage::Downloading:
        return QStringLiteral("Downloading");
    case Stage::Uploading:
        return QStringLiteral("Uploading");
    }
    return QString();
}

QString SyncProgress::activityName(Stage stage) {
    switch (stage) {
    case Stage::Matching:
        return QStringLiteral("Importing");
    case Stage::Downloading:
        return QStringLiteral("Downloading");
    case Stage::Uploading:
        return QStringLiteral("Uploading");
    case Stage::Idle:
    case Stage::Scanning:
        break;
    }
    return QString();
}

int SyncProgress::percentOf(qint64 done, qint64 total) {
    if (total < 1)
        return 0;
    const double step = 100.0 / double(total);
    const double fraction = double(done) * step / 100.0;
    return int(float(fraction) * 100.0f);
}

void SyncProgress::showCounts(State &s) {
    // A scan counts what it finds against no total; its bar stays as it was.
    if (activityName(s.stage).isEmpty())
        return;
    if (s.itemsTotal < 1) {
        s.fraction = 0;
        s.percent = 0;
        s.percentage.clear();
        return;
    }
    s.percent = percentOf(s.itemsDone, s.itemsTotal);
    s.fraction = s.percent / 100.0;
    s.percentage = QStringLiteral("%1%").arg(s.percent);
}

QString SyncProgress::failureSummary() const {
    QStringList parts;
    for (const State::Failures &f : state().failures) {
        const bool one = f.count == 1;
        QString noun;
        switch (f.stage) {
        case Stage::Uploading:
            noun = one ? QStringLiteral("upload") : QStringLiteral("uploads");
            break;
        case Stage::Downloading:
            noun = one ? QStringLiteral("download") : QStringLiteral("downloads");
            break;
        default:
            noun = one ? QStringLiteral("track") : QStringLiteral("tracks");
            break;
        }
        // A refusal says so itself ("refused (quota full)").
        QString what;
        if (f.reason.startsWith(QLatin1String("refused")))
            what = f.reason;
        else if (f.reason.isEmpty())
            what = QStringLiteral("failed");
        else
            what = QStringLiteral("failed (%1)").arg(f.reason);
        parts << QStringLiteral("%1 %2 %3").arg(QString::number(f.count), noun, what);
    }
    return parts.join(QStringLiteral(", "));
}

void SyncProgress::emitEvent(Event::Kind kind, const State &s, const QString &item, Outcome outcome,
                             const QString &detail) {
    Event e;
    e.kind = kind;
    e.item = item;
    e.outcome = outcome;
    e.detail = detail;
    e.state = s;
    emit event(e);
    emit changed();
}

void SyncProgress::beginSync() {
    m_data.set(Data{State{}, nowMs()});
    emitEvent(Event::Kind::SyncStarted, state());
}

void SyncProgress::endSync(const QString &how) {
    m_data.update([](Data &d) {
        d.state.stage = Stage::Idle;
        d.state.currentItem.clear();
    });
    emitEvent(Event::Kind::SyncEnded, state(), QString(), Outcome::Succeeded, how);
}

void SyncProgress::showCompleted() {
    m_data.update([](Data &d) {
        State &s = d.state;
        s.artist.clear();
        s.song.clear();
        s.fraction = 1.0;
        s.percent = 100;
        s.percentage = QStringLiteral("100%");
    });
    emit changed();
}

void SyncProgress::beginStage(Stage stage, qint64 itemsTotal, qint64 bytesTotal) {
    m_data.update([&](Data &d) {
        d.state.stage = stage;
        d.state.itemsDone = 0;
        d.state.itemsTotal = itemsTotal;
        d.state.bytesDone = 0;
        d.state.bytesTotal = bytesTotal;
        d.state.currentItem.clear();
        d.state.artist.clear();
        d.state.song.clear();
        showCounts(d.state);
        d.stageStartedMs = nowMs();
    });
    emitEvent(Event::Kind::StageStarted, state());
}

void SyncProgress::setTotals(qint64 itemsTotal, qint64 bytesTotal) {
    m_data.update([&](Data &d) {
        d.state.itemsTotal = itemsTotal;
        d.state.bytesTotal = bytesTotal;
        showCounts(d.state);
    });
    emit changed();
}

void SyncProgress::setCurrentItem(const QString &item, const QString &artist, const QString &song) {
    m_data.update([&](Data &d) {
        d.state.currentItem = item;
        d.state.artist = artist;
        d.state.song = song;
    });
    emit changed();
}

void SyncProgress::clearShownProgress() {
    m_data.update([](Data &d) {
        State &s = d.state;
        s.artist.clear();
        s.song.clear();
        s.fraction = 0;
        s.percent = 0;
        s.percentage.clear();
    });
    emit changed();
}

void SyncProgress::addBytes(qint64 bytes) {
    m_data.update([&](Data &d) {
        d.state.bytesDone += bytes;
        if (d.state.stage == Stage::Uploading)
            d.state.bytesUploaded += bytes;
        else if (d.state.stage == Stage::Downloading)
            d.state.bytesDownloaded += bytes;
    });
    emit changed();
}

void SyncProgress::finishItem(const QString &item, Outcome outcome, const QString &detail) {
    m_data.update([&](Data &d) {
        State &s = d.state;
        ++s.itemsDone;
        showCounts(s);
        if (outcome == Outcome::Failed) {
            ++s.tracksFailed;
            for (State::Failures &f : s.failures) {
                if (f.stage == s.stage && f.reason == detail) {
                    ++f.count;
                    return;
                }
            }
            s.failures.append({s.stage, detail, 1});
            return;
        }
        if (outcome == Outcome::Skipped)
            return;
        switch (s.stage) {
        case Stage::Matching:
            ++(outcome == Outcome::Succeeded ? s.tracksMatched : s.tracksUnmatched);
            break;
        case Stage::Uploading:
            if (outcome == Outcome::Succeeded)
                ++s.tracksUploaded;
            break;
        case Stage::Downloading:
            if (outcome == Outcome::Succeeded)
                ++s.tracksDownloaded;
            break;
        default:
            break;
        }
    });
    emitEvent(Event::Kind::ItemFinished, state(), item, outcome, detail);
}

void SyncProgress::trackFound(qint64 count) {
    m_data.update([count](Data &d) {
        d.state.tracksFound += count;
        d.state.itemsDone += count;
        showCounts(d.state);
    });
    emit changed();
}
