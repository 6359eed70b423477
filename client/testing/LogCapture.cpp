#include "LogCapture.h"

LogCapture *LogCapture::s_current = nullptr;

LogCapture::LogCapture() {
    s_current = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture() {
    qInstallMessageHandler(m_previous);
    s_current = nullptr;
}

void LogCapture::handler(QtMsgType, const QMessageLogContext &context, const QString &message) {
    if (LogCapture *capture = s_current) {
        QMutexLocker lock(&capture->m_lock);
        capture->m_lines << QStringLiteral("%1: %2").arg(
            QString::fromLatin1(context.category ? context.category : ""), message);
    }
}

QStringList LogCapture::lines() const {
    QMutexLocker lock(&m_lock);
    return m_lines;
}

bool LogCapture::contains(const QString &text) const {
    for (const QString &line : lines()) {
        if (line.contains(text))
            return true;
    }
    return false;
}
