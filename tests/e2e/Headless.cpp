#include "Headless.h"

#include <QDir>
#include <QRegularExpression>

Headless::Headless(const QString &config)
    : m_config(config) {
    const QString home = m_home.path();
    QDir().mkpath(tempFolder());
    m_options.environment = {QStringLiteral("HOME=") + home,
                             QStringLiteral("XDG_CONFIG_HOME=%1/.config").arg(home),
                             QStringLiteral("XDG_DATA_HOME=%1/.local/share").arg(home),
                             QStringLiteral("XDG_CACHE_HOME=%1/.cache").arg(home),
                             QStringLiteral("TMPDIR=") + tempFolder(),
                             QStringLiteral("DBUS_SESSION_BUS_ADDRESS")};
    m_options.output = ChildProcess::Output::Capture;
    m_options.errorFile = m_home.filePath(QStringLiteral("stderr.log"));
}

int Headless::run(const QStringList &args, const QByteArray &input, QByteArray *output) {
    const ChildProcess::Result r = ChildProcess::run(QStringLiteral(SONARBOX_HEADLESS_EXE),
                                                     arguments(args), input, 600000, m_options);
    if (output)
        *output = r.output;
    return r.exitCode;
}

bool Headless::start(ChildProcess &p, const QStringList &args) {
    return p.start(QStringLiteral(SONARBOX_HEADLESS_EXE), arguments(args), m_options);
}

std::optional<Summary> lastSummary(const QByteArray &output) {
    static const QRegularExpression line(
        QStringLiteral("(\\d+) found, (\\d+) matched without upload, (\\d+) uploaded, "
                       "(\\d+) downloaded, (\\d+) failed"));
    std::optional<Summary> summary;
    for (auto it = line.globalMatch(QString::fromUtf8(output)); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        summary = Summary{m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                          m.captured(4).toInt(), m.captured(5).toInt()};
    }
    return summary;
}
