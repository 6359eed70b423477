#include "SyncRetry.h"

#include "ProgressFormat.h"

SyncRetry::SyncRetry(QObject *parent)
    : QObject(parent) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &SyncRetry::due);
}

QString SyncRetry::intervalText() const {
    return ProgressFormat::duration(m_intervalMs);
}

void SyncRetry::schedule() {
    m_timer.start(m_intervalMs);
}
