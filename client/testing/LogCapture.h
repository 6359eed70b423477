#pragma once

#include <QMutex>
#include <QStringList>

// Collects every log line of the process ("category: message") while it
// lives, from every thread.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    QStringList lines() const;
    bool contains(const QString &text) const;
    QStringList linesContaining(const QString &text) const { return lines().filter(text); }
    int count(const QString &text) const { return int(linesContaining(text).size()); }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);
    static LogCapture *s_current;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_lock;
    QStringList m_lines;
};
