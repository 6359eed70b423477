#pragma once

#include <QObject>

#include <atomic>
#include <memory>

// Whether the connection the system uses now is metered (a mobile tether, a
// capped plan), and when that changes. The sync pause reads it; the program
// installs the system's source, a test one it drives itself.
class MeteredSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Any thread.
    virtual bool isMetered() const = 0;

signals:
    // Emitted on the source's thread when isMetered() changes.
    void meteredChanged(bool metered);
};

using MeteredSourcePtr = std::shared_ptr<MeteredSource>;

// The system's network information service, where a backend that knows about
// metered connections loads (NetworkManager on most desktops). Without one
// the connection never counts as metered. Create on the main thread.
class SystemMeteredSource : public MeteredSource {
    Q_OBJECT
public:
    SystemMeteredSource();
    bool isMetered() const override { return m_metered.load(); }
    // Whether a backend answers at all.
    bool hasBackend() const { return m_hasBackend; }

private:
    std::atomic<bool> m_metered{false};
    bool m_hasBackend = false;
};

// A source whose state is set by hand.
class SettableMeteredSource : public MeteredSource {
    Q_OBJECT
public:
    using MeteredSource::MeteredSource;
    bool isMetered() const override { return m_metered.load(); }
    void setMetered(bool metered) {
        if (m_metered.exchange(metered) != metered)
            emit meteredChanged(metered);
    }

private:
    std::atomic<bool> m_metered{false};
};
