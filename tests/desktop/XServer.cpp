#include "XServer.h"

#include "TestEnvironment.h"

bool XServer::start(int width, int height, const QString &errorFile) {
    ChildProcess::Options options;
    options.output = ChildProcess::Output::Capture;
    options.errorFile = errorFile;
    if (!m_process.start(
            QStringLiteral("Xvfb"),
            {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
             QStringLiteral("0"), QStringLiteral("%1x%2x24").arg(width).arg(height),
             QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-noreset")},
            options))
        return false;
    // The number is written once the server accepts clients.
    QByteArray number;
    TestEnvironment::waitUntil(
        [&] {
            number = m_process.output();
            return number.endsWith('\n') || !m_process.isRunning();
        },
        20000);
    if (!number.endsWith('\n') || !m_process.isRunning())
        return false;
    m_display = QLatin1Char(':') + QString::fromLatin1(number.trimmed());
    return true;
}
