#include "ProgressPrinter.h"

#include "Console.h"
#include "engine/ProgressFormat.h"

namespace {
constexpr int kBarIntervalMs = 100;
}

ProgressPrinter::ProgressPrinter(SyncProgress &progress, QObject *parent)
    : QObject(parent)
    , m_progress(progress) {
    qRegisterMetaType<SyncProgress::Event>();
    connect(&progress, &SyncProgress::event, this, &ProgressPrinter::onEvent, Qt::QueuedConnection);
    if (Console::outputIsTerminal()) {
        m_barTimer.setInterval(kBarIntervalMs);
        connect(&m_barTimer, &QTimer::timeout, this, &ProgressPrinter::redraw);
    }
}

void ProgressPrinter::onEvent(const SyncProgress::Event &event) {
    using Kind = SyncProgress::Event::Kind;
    switch (event.kind) {
    case Kind::SyncStarted:
        m_syncClock.start();
        m_stageBytesPrinted = 0;
        Console::printLine(QStringLiteral("Sync started"));
        if (Console::outputIsTerminal())
            m_barTimer.start();
        break;
    case Kind::StageStarted:
        m_stageBytesPrinted = 0;
        Console::printLine(ProgressFormat::stageStarted(event.state));
        break;
    case Kind::ItemFinished: {
        const qint64 itemBytes = event.state.bytesDone - m_stageBytesPrinted;
        m_stageBytesPrinted = event.state.bytesDone;
        Console::printLine(ProgressFormat::itemFinished(event, itemBytes));
        break;
    }
    case Kind::SyncEnded:
        m_barTimer.stop();
        Console::clearStatus();
        if (m_filesLeft) {
            for (const QString &line : ProgressFormat::leftStillWritten(m_filesLeft()))
                Console::printLine(line);
        }
        Console::printLine(ProgressFormat::summary(
            event.detail, event.state, m_syncClock.isValid() ? m_syncClock.elapsed() : 0));
        break;
    }
}

void ProgressPrinter::redraw() {
    const SyncProgress::State state = m_progress.state();
    if (state.stage == SyncProgress::Stage::Idle)
        return;
    Console::showStatus(ProgressFormat::bar(state, Console::terminalWidth()));
}
