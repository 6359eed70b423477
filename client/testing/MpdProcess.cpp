#include "MpdProcess.h"

#include "CloudProcess.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>

#include <mpd/client.h>

#include <csignal>

MpdProcess::MpdProcess()
    : m_port(TestEnvironment::freeLocalPort()) {}

MpdProcess::~MpdProcess() {
    stop();
}

QString MpdProcess::musicFolder() const {
    return m_root.filePath(QStringLiteral("music"));
}

QString MpdProcess::playlistFolder() const {
    return m_root.filePath(QStringLiteral("playlists"));
}

bool MpdProcess::start() {
    QDir().mkpath(musicFolder());
    QDir().mkpath(playlistFolder());
    const QString config = m_root.filePath(QStringLiteral("mpd.conf"));
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const auto line = [&](const char *key, const QString &value) {
        f.write(QStringLiteral("%1 \"%2\"\n").arg(QLatin1String(key), value).toUtf8());
    };
    line("music_directory", musicFolder());
    line("playlist_directory", playlistFolder());
    line("db_file", m_root.filePath(QStringLiteral("database")));
    line("log_file", m_root.filePath(QStringLiteral("log")));
    line("state_file", m_root.filePath(QStringLiteral("state")));
    line("bind_to_address", host());
    line("port", QString::number(m_port));
    line("auto_update", QStringLiteral("no"));
    f.write("audio_output {\n  type \"null\"\n  name \"null\"\n}\n");
    // Needs a configuration the test machine lacks, and says so at every start.
    f.write("decoder {\n  plugin \"wildmidi\"\n  enabled \"no\"\n}\n");
    f.close();

    if (!m_process.start(QStringLiteral("mpd"), {QStringLiteral("--no-daemon"), config}))
        return false;
    return TestEnvironment::waitUntil(
        [&] {
            QTcpSocket probe;
            probe.connectToHost(host(), m_port);
            return probe.waitForConnected(100);
        },
        10000);
}

void MpdProcess::stop() {
    m_process.stop();
}

bool MpdProcess::updateDatabase() {
    mpd_connection *c = mpd_connection_new(host().toUtf8().constData(), m_port, 10000);
    if (!c || mpd_connection_get_error(c) != MPD_ERROR_SUCCESS) {
        if (c)
            mpd_connection_free(c);
        return false;
    }
    bool ok = mpd_run_update(c, nullptr) != 0;
    // Polled rather than idled on: an update that ends before the idle
    // command arrives would leave the idle waiting for the next one.
    const bool finished = ok && TestEnvironment::waitUntil(
                                    [&] {
                                        mpd_status *status = mpd_run_status(c);
                                        if (!status) {
                                            ok = false;
                                            return true;
                                        }
                                        const unsigned job = mpd_status_get_update_id(status);
                                        mpd_status_free(status);
                                        return job == 0;
                                    },
                                    30000);
    mpd_connection_free(c);
    return ok && finished;
}
