#pragma once

#include "ChildProcess.h"

#include <QJsonObject>
#include <QList>
#include <QNetworkRequest>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

// The reference server `sonarbox-cloud`, run by a test on 127.0.0.1 with a
// port and a data folder of its own. Stopped when the object goes.
//
// Started before anyone asked for its port, the server takes whichever port
// the system gives it, so that no other test's server can take that port
// between its choice and its use; asked before, a port free at that moment
// is chosen.
class CloudProcess {
public:
    CloudProcess();
    ~CloudProcess();

    static QString executable();

    bool addUser(const QString &email, const QString &password);
    // Copies files into the service's catalogue (optionally with the
    // recognition engine's track identifiers).
    bool importFiles(const QStringList &files, const QString &recognitionCatalog = QString());
    // Makes the next start() serve HTTPS with this certificate and key (PEM);
    // baseUrl() then names https, and this object's own requests trust the
    // certificate.
    void useTls(const QString &certificateFile, const QString &keyFile);
    // Makes the next start() write the server's standard error (a line per
    // request it answered: method, path, status) to a file of its data
    // folder instead of the test's, for requestLog().
    void keepRequestLog() { m_logFile = m_data.filePath(QStringLiteral("requests.log")); }
    // The lines of that log so far whose text contains `contains`.
    QStringList requestLog(const QString &contains = QString()) const;
    // Starts the server (again, after stop() or kill(), on the same port and data).
    bool start(const QStringList &extraArguments = {});
    void stop();
    // SIGKILL: nothing is flushed or cleaned up.
    void kill();
    bool isRunning() { return m_process.isRunning(); }

    QString baseUrl() const;
    quint16 port() const;
    QString dataDir() const { return m_data.path(); }

    // Signs in as another desktop and uploads `file`, as a second installation
    // of the same account would: the account then holds a song this one lacks.
    // Answers the new media ID. Blocks; call from the test's thread.
    std::optional<QString> uploadAsAnotherDevice(const QString &email, const QString &password,
                                                 const QString &file);

    // The analytics events the server holds (started with
    // --analytics-readback), each as its form fields.
    QList<QJsonObject> collectedEvents() const;

    // Rows of `SELECT …` on the server's database, through the sqlite3 tool,
    // one text line per row with columns joined by '|'.
    QStringList query(const QString &sql) const;

private:
    // A request to the server, trusting its test certificate when it has one.
    QNetworkRequest request(const QString &url) const;

    QTemporaryDir m_data;
    ChildProcess m_process;
    mutable quint16 m_port = 0;
    QString m_otherDevice;
    QString m_certificateFile;
    QString m_keyFile;
    QString m_logFile;
};
