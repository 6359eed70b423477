#pragma once

#include <QString>
#include <QThread>
#include <QUrl>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class AnalyticsWorker;

// The tracker: posts usage events to the deployment's collector as web-form
// fields (v, tid, cid, t=event, ec, ea, el, ev). Callers never wait for the
// network: events go into a small queue that one worker thread of the
// tracker's own sends one at a time. A failed or slow send is logged and
// dropped, never retried. The worker thread and its network objects come
// into being with the first event, so a tracker that is never fired never
// touches the network.
class AnalyticsHelper {
public:
    // Told on the worker thread whether the collector took the event.
    using Outcome = std::function<void(bool sent)>;

    static constexpr int QueueLimit = 100;
    static constexpr int DefaultTimeoutMs = 4000;

    AnalyticsHelper();
    ~AnalyticsHelper();
    AnalyticsHelper(const AnalyticsHelper &) = delete;
    AnalyticsHelper &operator=(const AnalyticsHelper &) = delete;

    // The web site the events are about (sent as the document host).
    void setDomainName(const QString &domainName);
    // The analytics property, "UA-" followed by digits.
    void setAnalyticsAccountCode(const QString &accountCode);
    void setCollectorUrl(const QUrl &url);
    // Identifies this installation to the collector.
    void setClientId(const QString &clientId);
    void setTimeoutMs(int ms);

    // Queues one event and returns at once. Answers NO when the event cannot
    // be sent at all (no usable collector, or the tracker has shut down); the
    // outcome is then not called. When the queue is full the oldest waiting
    // event is dropped (its outcome told NO). With `showLog` a failed
    // delivery is logged with its reason.
    bool fireEvent(const QString &action, const QString &withEventCategory,
                   const QString &withEventLabel, qint64 eventValue, bool showLog,
                   Outcome outcome = {});

    // Waits up to `ms` until every accepted event has been sent or has
    // failed; false when some are still waiting.
    bool flush(int ms);
    static constexpr int ExitGraceMs = 2000;

    // Stops the worker: waiting events are dropped and one in flight is
    // aborted. Later events are refused.
    void shutdown();

private:
    friend class AnalyticsWorker;
    struct Event {
        QByteArray form;
        QString action;
        bool showLog = false;
        Outcome outcome;
        QUrl url;
        int timeoutMs = DefaultTimeoutMs;
    };
    // The next waiting event, if any (called by the worker).
    bool takeNext(Event &event);
    // An event taken by the worker has been sent or has failed.
    void eventDone();

    // Not QMutex with QWaitCondition: the wait lets go of the lock inside
    // Qt's own library, where ThreadSanitizer does not see it, and the
    // worker's next lock then looks like a second lock of a held mutex.
    mutable std::mutex m_lock;
    QString m_domainName;
    QString m_accountCode;
    QString m_clientId;
    QUrl m_collectorUrl;
    int m_timeoutMs = DefaultTimeoutMs;
    std::deque<Event> m_queue;
    int m_pending = 0; // waiting or in flight
    std::condition_variable m_idle;
    bool m_stopped = false;
    std::unique_ptr<QThread> m_thread;
    AnalyticsWorker *m_worker = nullptr; // lives on m_thread
};
