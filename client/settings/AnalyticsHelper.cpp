#include "AnalyticsHelper.h"

#include "Logging.h"
#include "ServiceTls.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

// Lives on the tracker's thread: sends the waiting events one at a time.
class AnalyticsWorker : public QObject {
public:
    explicit AnalyticsWorker(AnalyticsHelper *owner)
        : m_owner(owner) {}

    ~AnalyticsWorker() override {
        if (m_inFlight) {
            // Stopping: the event in flight is neither reported nor retried.
            m_inFlight->disconnect(this);
            m_inFlight->abort();
        }
    }

    void pump() {
        if (m_inFlight)
            return;
        AnalyticsHelper::Event event;
        if (!m_owner->takeNext(event))
            return;
        if (!m_network)
            m_network = new QNetworkAccessManager(this);
        QNetworkRequest request(event.url);
        ServiceTls::apply(request);
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("application/x-www-form-urlencoded"));
        request.setTransferTimeout(event.timeoutMs);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::NoLessSafeRedirectPolicy);
        m_inFlight = m_network->post(request, event.form);
        connect(m_inFlight, &QNetworkReply::finished, this,
                [this, event = std::move(event)] { finished(event); });
    }

private:
    void finished(const AnalyticsHelper::Event &event) {
        QNetworkReply *reply = m_inFlight;
        m_inFlight = nullptr;
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const bool sent = reply->error() == QNetworkReply::NoError && status >= 200 && status < 300;
        if (!sent && event.showLog) {
            const QString reason = reply->error() == QNetworkReply::NoError
                                       ? QStringLiteral("HTTP status %1").arg(status)
                                       : reply->errorString();
            qCWarning(lcSettings).noquote()
                << QStringLiteral("Analytics event %1 was not delivered: %2")
                       .arg(event.action, reason);
        }
        if (event.outcome)
            event.outcome(sent);
        m_owner->eventDone();
        pump();
    }

    AnalyticsHelper *m_owner;
    QNetworkAccessManager *m_network = nullptr;
    QNetworkReply *m_inFlight = nullptr;
};

namespace {

void appendField(QByteArray &form, const char *name, const QString &value) {
    if (!form.isEmpty())
        form += '&';
    form += name;
    form += '=';
    form += QUrl::toPercentEncoding(value);
}

} // namespace

AnalyticsHelper::AnalyticsHelper() = default;

AnalyticsHelper::~AnalyticsHelper() {
    shutdown();
}

void AnalyticsHelper::setDomainName(const QString &domainName) {
    const std::lock_guard lock(m_lock);
    m_domainName = domainName;
}

void AnalyticsHelper::setAnalyticsAccountCode(const QString &accountCode) {
    const std::lock_guard lock(m_lock);
    m_accountCode = accountCode;
}

void AnalyticsHelper::setCollectorUrl(const QUrl &url) {
    const std::lock_guard lock(m_lock);
    m_collectorUrl = url;
}

void AnalyticsHelper::setClientId(const QString &clientId) {
    const std::lock_guard lock(m_lock);
    m_clientId = clientId;
}

void AnalyticsHelper::setTimeoutMs(int ms) {
    const std::lock_guard lock(m_lock);
    m_timeoutMs = ms;
}

bool AnalyticsHelper::fireEvent(const QString &action, const QString &withEventCategory,
                                const QString &withEventLabel, qint64 eventValue, bool showLog,
                                Outcome outcome) {
    Event dropped;
    bool overflow = false;
    {
        const std::lock_guard lock(m_lock);
        const QString scheme = m_collectorUrl.scheme();
        if (m_stopped || !m_collectorUrl.isValid() ||
            (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
            return false;

        Event event;
        appendField(event.form, "v", QStringLiteral("1"));
        appendField(event.form, "tid", m_accountCode);
        appendField(event.form, "cid", m_clientId);
        appendField(event.form, "t", QStringLiteral("event"));
        appendField(event.form, "ec", withEventCategory);
        appendField(event.form, "ea", action);
        // An empty label is sent as an empty field, never left out.
        appendField(event.form, "el", withEventLabel);
        appendField(event.form, "ev", QString::number(eventValue));
        if (!m_domainName.isEmpty())
            appendField(event.form, "dh", m_domainName);
        event.action = action;
        event.showLog = showLog;
        event.outcome = std::move(outcome);
        event.url = m_collectorUrl;

        if (m_queue.size() >= size_t(QueueLimit)) {
            dropped = std::move(m_queue.front());
            m_queue.pop_front();
            overflow = true;
        }
        m_queue.push_back(std::move(event));
        if (!overflow)
            ++m_pending;

        if (!m_thread) {
            m_thread = std::make_unique<QThread>();
            m_thread->setObjectName(QStringLiteral("analytics"));
            m_worker = new AnalyticsWorker(this);
            m_worker->moveToThread(m_thread.get());
            QObject::connect(m_thread.get(), &QThread::finished, m_worker, &QObject::deleteLater);
            m_thread->start(QThread::LowPriority);
        }
        QMetaObject::invokeMethod(
            m_worker, [worker = m_worker] { worker->pump(); }, Qt::QueuedConnection);
    }
    if (overflow) {
        if (dropped.showLog)
            qCWarning(lcSettings).noquote()
                << QStringLiteral("Analytics event %1 was dropped: too many events waiting")
                       .arg(dropped.action);
        if (dropped.outcome)
            dropped.outcome(false);
    }
    return true;
}

bool AnalyticsHelper::takeNext(Event &event) {
    const std::lock_guard lock(m_lock);
    if (m_stopped || m_queue.empty())
        return false;
    event = std::move(m_queue.front());
    m_queue.pop_front();
    event.timeoutMs = m_timeoutMs;
    return true;
}

void AnalyticsHelper::eventDone() {
    const std::lock_guard lock(m_lock);
    if (m_pending > 0 && --m_pending == 0)
        m_idle.notify_all();
}

bool AnalyticsHelper::flush(int ms) {
    std::unique_lock lock(m_lock);
    m_idle.wait_for(lock, std::chrono::milliseconds(ms),
                    [this] { return m_pending == 0 || m_stopped; });
    return m_pending == 0;
}

void AnalyticsHelper::shutdown() {
    std::unique_ptr<QThread> thread;
    {
        const std::lock_guard lock(m_lock);
        m_stopped = true;
        m_queue.clear();
        m_pending = 0;
        m_idle.notify_all();
        thread = std::move(m_thread);
        m_worker = nullptr;
    }
    if (!thread)
        return;
    thread->quit();
    if (QThread::currentThread() == thread.get()) {
        // Asked from an outcome: the thread ends when that returns.
        (void)thread.release();
        return;
    }
    thread->wait();
}
