#pragma once

#include "ChildProcess.h"

#include <QString>
#include <QTemporaryDir>

// An mpd started by a test on 127.0.0.1 with its own configuration, port,
// music folder, playlist folder and database. Stopped when the object goes.
class MpdProcess {
public:
    MpdProcess();
    ~MpdProcess();

    bool start();
    void stop();

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }
    QString musicFolder() const;
    QString playlistFolder() const;

    // Has mpd rescan its music folder and waits until it has finished.
    bool updateDatabase();

private:
    QTemporaryDir m_root;
    ChildProcess m_process;
    quint16 m_port;
};
