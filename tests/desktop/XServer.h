#pragma once

#include "ChildProcess.h"

#include <QByteArray>
#include <QString>

// An X server for a test (Xvfb): it takes the first display nobody holds
// and says which, so two tests never race for one number. It is not reset
// when a client leaves, or the next client would meet it in the middle of
// that. Stopped when the object goes.
class XServer {
public:
    // A screen of `width` × `height`, 24 bits; the server's messages appended
    // to `errorFile`. Waits until it accepts clients.
    bool start(int width, int height, const QString &errorFile);
    // ":N", once started.
    QString display() const { return m_display; }

private:
    ChildProcess m_process;
    QString m_display;
};
