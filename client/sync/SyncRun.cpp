#include "SyncRun.h"

SyncRun::SyncRun(RunContext context)
    : m_context(std::move(context)) {}

void SyncRun::stop() {
    if (!m_stopped.exchange(true))
        emit stopped();
}
