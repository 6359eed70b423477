#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>

#include <chrono>

// The desktop keyring (QtKeychain, the freedesktop secret service on most
// desktops), called synchronously with a time-out. The jobs need an event
// loop: they run on a thread of this object's own while the caller waits.
//
// A keyring that is locked answers a read with "not found"; every such answer
// is checked against the secret service, so that a locked entry is reported as
// NoAnswer and never as absent.
class SecretKeyring {
public:
    enum class Outcome {
        Done,     // read, written or removed
        NotFound, // the keyring answered: there is no such entry
        NoAnswer, // locked, refused, prompting or timed out: nothing is known
        Absent,   // there is no keyring to ask
    };
    struct Answer {
        Outcome outcome = Outcome::NoAnswer;
        QString errorString;
        QByteArray data;
    };

    // Entries are filed under `service` and their key.
    explicit SecretKeyring(QString service);
    ~SecretKeyring();

    Answer read(const QString &key, std::chrono::milliseconds timeout);
    Answer write(const QString &key, const QByteArray &data, std::chrono::milliseconds timeout);
    Answer remove(const QString &key, std::chrono::milliseconds timeout);

    // Whether a secret service is running on the session bus or can be started there.
    static bool secretServiceOnBus();

private:
    enum class Kind { Read, Write, Delete };
    Answer run(Kind kind, const QString &key, const QByteArray &data,
               std::chrono::milliseconds timeout);
    // A "not found" confirmed by the secret service (no entry with the key,
    // locked or not); NoAnswer when the entry is locked or the service is silent.
    Answer confirmNotFound(const QString &key, std::chrono::milliseconds timeout) const;

    QString m_service;
    QThread m_thread;
    QObject m_jobParent;
};
