#pragma once

#include "MpdLibrary.h"

#include <QThread>

#include <functional>
#include <memory>

// Follows MPD's song database through its `idle database` event, on a
// connection and a thread of its own, so that nobody else waits for it. A
// server that cannot be reached, or a connection that breaks, is tried again
// every `RetryMs` (said once in the log per outage).
class MpdDatabaseWatch : public LibraryWatch {
public:
    // `changed` is called on the watch's thread.
    MpdDatabaseWatch(MpdLibrary::Settings settings, std::function<void()> changed);
    ~MpdDatabaseWatch() override;

    static constexpr int RetryMs = 30000;

private:
    class Connection;
    QThread m_thread;
    QObject *m_context = nullptr;             // lives on m_thread
    std::unique_ptr<Connection> m_connection; // used on m_thread only
};
