#include "MpdDatabaseWatch.h"

#include "settings/Logging.h"

#include <QSocketNotifier>
#include <QTimer>

#include <mpd/client.h>

class MpdDatabaseWatch::Connection {
public:
    Connection(MpdLibrary::Settings settings, std::function<void()> changed)
        : m_settings(std::move(settings))
        , m_changed(std::move(changed)) {
        m_retry.setSingleShot(true);
        m_retry.setInterval(RetryMs);
        QObject::connect(&m_retry, &QTimer::timeout, [this] { open(); });
        open();
    }
    ~Connection() { close(); }

private:
    void open() {
        close();
        const QByteArray host = m_settings.host.toUtf8();
        m_c = mpd_connection_new(host.isEmpty() ? nullptr : host.constData(), m_settings.port,
                                 unsigned(qMax(1, m_settings.timeoutMs)));
        if (!m_c || mpd_connection_get_error(m_c) != MPD_ERROR_SUCCESS) {
            fail(QStringLiteral("cannot be reached"));
            return;
        }
        if (!mpd_send_idle_mask(m_c, MPD_IDLE_DATABASE)) {
            fail(QStringLiteral("refused to report changes"));
            return;
        }
        m_notifier = new QSocketNotifier(mpd_connection_get_fd(m_c), QSocketNotifier::Read);
        QObject::connect(m_notifier, &QSocketNotifier::activated, [this] { receive(); });
        m_failing = false;
        qCInfo(lcSync).noquote() << QStringLiteral("Watching MPD's database at %1:%2 for changes")
                                        .arg(m_settings.host)
                                        .arg(m_settings.port);
    }

    // Called when MPD has written to the connection: an idle answer.
    void receive() {
        const unsigned events = mpd_recv_idle(m_c, false);
        if (mpd_connection_get_error(m_c) != MPD_ERROR_SUCCESS || !mpd_response_finish(m_c)) {
            fail(QStringLiteral("closed the connection"));
            return;
        }
        if (events & MPD_IDLE_DATABASE) {
            qCInfo(lcSync) << "MPD's database changed";
            m_changed();
        }
        if (!mpd_send_idle_mask(m_c, MPD_IDLE_DATABASE))
            fail(QStringLiteral("refused to report changes"));
    }

    void fail(const QString &what) {
        if (!m_failing) {
            const QString error = m_c ? QString::fromUtf8(mpd_connection_get_error_message(m_c))
                                      : QStringLiteral("out of memory");
            qCWarning(lcSync).noquote()
                << QStringLiteral("MPD at %1:%2 %3 (%4): its changes are not followed; "
                                  "trying again every %5 s")
                       .arg(m_settings.host)
                       .arg(m_settings.port)
                       .arg(what, error)
                       .arg(RetryMs / 1000);
            m_failing = true;
        }
        close();
        m_retry.start();
    }

    void close() {
        delete m_notifier;
        m_notifier = nullptr;
        if (m_c)
            mpd_connection_free(m_c);
        m_c = nullptr;
    }

    const MpdLibrary::Settings m_settings;
    const std::function<void()> m_changed;
    mpd_connection *m_c = nullptr;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_retry;
    bool m_failing = false;
};

MpdDatabaseWatch::MpdDatabaseWatch(MpdLibrary::Settings settings, std::function<void()> changed)
    : m_context(new QObject) {
    m_thread.setObjectName(QStringLiteral("MPD database watch"));
    m_context->moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(
        m_context,
        [this, settings = std::move(settings), changed = std::move(changed)] {
            m_connection = std::make_unique<Connection>(settings, changed);
        },
        Qt::QueuedConnection);
}

MpdDatabaseWatch::~MpdDatabaseWatch() {
    // The connection and its notifier belong to the watch's thread.
    QMetaObject::invokeMethod(
        m_context, [this] { m_connection.reset(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_context;
}
