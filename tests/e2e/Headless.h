#pragma once

#include "ChildProcess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

// sonarbox-headless in a home of its own, with a temporary folder of its own
// too, so that a test can see everything a run leaves behind.
class Headless {
public:
    explicit Headless(const QString &config);

    // Runs to the end; answers the exit code (-1: crashed or hung).
    int run(const QStringList &args, const QByteArray &input = {}, QByteArray *output = nullptr);

    // --login as `email`, the password on standard input.
    int signIn(const QString &email, const QString &password) {
        return run({QStringLiteral("--login"), email}, password.toUtf8() + '\n');
    }
    // A run over the folder library `music` into `downloads`, `args` after them.
    int runOver(const QString &music, const QString &downloads, const QStringList &args,
                QByteArray *output = nullptr) {
        return run(QStringList{QStringLiteral("--library"), music, QStringLiteral("--download-dir"),
                               downloads} +
                       args,
                   {}, output);
    }

    bool start(ChildProcess &p, const QStringList &args);
    // Later runs read `config` (another server's address), in the same home.
    void useConfig(const QString &config) { m_config = config; }

    // What TMPDIR names for the program.
    QString tempFolder() const { return m_home.filePath(QStringLiteral("tmp")); }
    // The program's standard error, of every run.
    QString errorFile() const { return m_options.errorFile; }
    // The program's log file (in the XDG state folder under its home).
    QString logFile() const {
        return m_home.filePath(QStringLiteral(".local/state/Sonarbox/sonarbox.log"));
    }

private:
    QStringList arguments(const QStringList &args) const {
        return QStringList{QStringLiteral("--config"), m_config} + args;
    }

    QTemporaryDir m_home;
    QString m_config;
    ChildProcess::Options m_options;
};

// The counts of the summary line a sync ends with ("… 3 found, 1 matched
// without upload, 2 uploaded, 0 downloaded, 0 failed").
struct Summary {
    int found = -1, matched = -1, uploaded = -1, downloaded = -1, failed = -1;
};
// The last such line of a run's output.
std::optional<Summary> lastSummary(const QByteArray &output);
